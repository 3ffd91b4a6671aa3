// Thumbnails: the BMP they pass through, the scaler, the JPEG a real reader
// decodes; stills captured from the preview; and the arithmetic of pictures
// (YV12 scaling, YV12 to RGB).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <vector>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "convert/BmpFile.h"
#include "convert/ConversionParameters.h"
#include "convert/FrameConversion.h"
#include "convert/ImageScaling.h"
#include "convert/JpegFile.h"
#include "convert/StillCapture.h"
#include "convert/Thumbnail.h"
#include "source/PreviewSource.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace test;

// ffmpeg's top-down R, G, B pixels of a picture.
std::string Rgb(const std::string& path) {
  return test::RunCommand(
             {"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
      .out;
}

VideoSegmentInfo Info(int width, int height) { return FrameSizes(width, height, width, height); }

// A grey YV12 frame: every plane 128.
Bytes Grey(int width, int height) { return Bytes(std::size_t(width) * height * 3 / 2, 128); }

std::set<std::string> FilesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// A grey frame gives a grey JPEG of the output size, full chroma; only the
// JPEG is left.
TEST(ThumbnailTest, GreyFrameGivesGreyJpegOfTheOutputSize) {
  const std::tuple<int, int, int, int> sizes[] = {
      {320, 240, 64, 48}, {320, 240, 128, 96}, {320, 240, 320, 240},
      {176, 144, 64, 48}, {5, 3, 64, 48},      {1, 1, 64, 48},
      {1, 1, 1, 1},       {7, 5, 3, 2},        {641, 479, 128, 96}};
  for (const auto& [w, h, outW, outH] : sizes) {
    SCOPED_TRACE(::testing::Message() << w << "x" << h << " to " << outW << "x" << outH);
    TempDir dir;
    const Bytes frame = Grey(w, h);
    ASSERT_EQ(WriteThumbnail(Info(w, h), false, frame.data(), frame.size(), outW, outH,
                             dir.file("sample_00")),
              1);
    EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"sample_00.jpg"});
    EXPECT_EQ(test::Probe(dir.file("sample_00.jpg"), "stream=width,height,pix_fmt"),
              std::to_string(outW) + "," + std::to_string(outH) + ",yuvj444p");
    const std::string rgb = Rgb(dir.file("sample_00.jpg"));
    ASSERT_EQ(rgb.size(), std::size_t(outW) * outH * 3);
    for (char value : rgb) ASSERT_NEAR(static_cast<std::uint8_t>(value), 128, 1);
  }
}

TEST(ThumbnailTest, FailuresWriteNothing) {
  TempDir dir;
  const std::string base = dir.file("sample_00");
  const Bytes frame = Grey(16, 16);
  const VideoSegmentInfo info = Info(16, 16);
  for (auto [outW, outH] : {std::pair{0, 48}, {64, 0}, {-64, 48}})
    EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), outW, outH, base), 0);
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size() - 1, 64, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(info, true, frame.data(), frame.size(), 64, 48, base), 0);  // 768 bytes
  EXPECT_EQ(WriteThumbnail(info, false, nullptr, frame.size(), 64, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(Info(0, 16), false, frame.data(), frame.size(), 64, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), 64, 48,
                           dir.file("no/such/folder/sample_00")),
            0);
  EXPECT_TRUE(fs::is_empty(dir.path()));
  // The BMP can be written but the JPEG cannot: a folder stands in its place.
  fs::create_directory(base + ".jpg");
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), 64, 48, base), 0);
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"sample_00.jpg"});
  const Bytes pixels(4 * 4 * 3 - 1, 0);
  EXPECT_FALSE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 4, 4));
  EXPECT_FALSE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 0, 4));
  EXPECT_FALSE(fs::exists(dir.file("a.jpg")));
}

// The header of a 5x2 image: 30 pixel bytes (rows of 15, unpadded), 88 in all.
const std::string kHeader5x2 =
    "'BM' 58000000 00000000 3a000000"                // type, file size, reserved, offset 58
    "28000000 05000000 02000000 0100 1800 00000000"  // header size, 5 x 2 bottom-up, 24 bits
    "1e000000 00000000 00000000 00000000 00000000"   // image size, resolutions, colours
    "00000000";                                      // the one colour entry

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Short pixels, a missing folder and a bad size write nothing.
TEST(BmpFileTest, WritesTheHeaderAndUnpaddedRowsByteForByte) {
  TempDir dir;
  const Bytes pixels = Sequence(30, 1);
  ASSERT_TRUE(WriteBmpFile(dir.file("f.bmp"), 5, 2, pixels.data(), pixels.size()));
  EXPECT_EQ(ReadFileBytes(dir.file("f.bmp")), Concat(Hex(kHeader5x2), pixels));
  for (auto [w, h] : {std::pair{0, 2}, {4, 0}, {-4, 2}, {100000, 100000}})  // the last: > 32 bits
    EXPECT_TRUE(BuildBmpHeader(w, h).empty()) << w << "x" << h;
  EXPECT_FALSE(WriteBmpFile(dir.file("short.bmp"), 5, 2, pixels.data(), pixels.size() - 1));
  EXPECT_FALSE(WriteBmpFile(dir.file("no/such/f.bmp"), 5, 2, pixels.data(), pixels.size()));
  EXPECT_FALSE(WriteBmpFile(dir.file("zero.bmp"), 0, 2, pixels.data(), pixels.size()));
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"f.bmp"});
}

// Other writers pad rows to four bytes and may store them top-down.
TEST(BmpFileTest, ReadsPaddedAndTopDownRows) {
  TempDir dir;
  const Bytes bottom = Sequence(15, 100), top = Sequence(15, 200);
  Bytes file = Hex(kHeader5x2);
  file[34] = 32;  // image size of two padded 16-byte rows
  file = Concat(Concat(Concat(Concat(file, bottom), {0}), top), {0});
  for (bool topDown : {false, true}) {
    if (topDown) file[22] = 0xFE, file[23] = file[24] = file[25] = 0xFF;  // height -2
    WriteFileBytes(dir.file("f.bmp"), file);
    std::optional<BmpImage> image = ReadBmpFile(dir.file("f.bmp"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->pixels, topDown ? Concat(top, bottom) : Concat(bottom, top));
  }
}

TEST(BmpFileTest, RejectsMalformedFiles) {
  TempDir dir;
  const Bytes good = Concat(Hex(kHeader5x2), Sequence(30));
  const std::pair<std::size_t, std::uint8_t> damage[] = {
      {0, 'X'},    // type
      {28, 32},    // 32 bits per pixel
      {30, 1},     // compressed
      {18, 0},     // width 0
      {21, 0x7F},  // an enormous width the file cannot hold
      {10, 0xFF},  // pixels beyond the end of the file
  };
  EXPECT_FALSE(ReadBmpFile(dir.file("missing.bmp")));
  const auto reads = [&](const Bytes& file) {
    WriteFileBytes(dir.file("f.bmp"), file);
    return ReadBmpFile(dir.file("f.bmp")).has_value();
  };
  EXPECT_TRUE(reads(good));
  EXPECT_FALSE(reads(Bytes(good.begin(), good.end() - 1)));  // one byte short
  EXPECT_FALSE(reads(Bytes(good.begin(), good.begin() + 20)));
  EXPECT_FALSE(reads({}));
  for (auto [at, value] : damage) {
    Bytes bad = good;
    bad[at] = value;
    EXPECT_FALSE(reads(bad)) << at;
  }
}

// A YV12 frame at the source size: luma 50 on the top row, 200 on the bottom,
// neutral chroma, written bottom-up; RGB24 frames are copied as they are.
TEST(BmpFileTest, ThumbnailBmpFromYv12OrRgb24) {
  TempDir dir;
  const VideoSegmentInfo info = FrameSizes(6, 2, 6, 2);
  Bytes yv12(6 * 2 * 3 / 2, 128);
  std::fill(yv12.begin(), yv12.begin() + 6, 50);
  std::fill(yv12.begin() + 6, yv12.begin() + 12, 200);
  ASSERT_TRUE(WriteThumbnailBmp(info, false, yv12.data(), yv12.size(), dir.file("yv12.bmp")));
  EXPECT_EQ(ReadFileBytes(dir.file("yv12.bmp")),
            Concat(BuildBmpHeader(6, 2), Concat(Bytes(18, 200), Bytes(18, 50))));
  const Bytes rgb = Sequence(6 * 2 * 3, 3);
  ASSERT_TRUE(WriteThumbnailBmp(info, true, rgb.data(), rgb.size(), dir.file("rgb.bmp")));
  EXPECT_EQ(ReadFileBytes(dir.file("rgb.bmp")), Concat(BuildBmpHeader(6, 2), rgb));
}

Bytes Scale(const Bytes& source, int sw, int sh, int dw, int dh, int channels) {
  return ScaleBilinear(source.data(), source.size(), sw, sh, dw, dh, channels);
}

Bytes Repeat(const Bytes& pixel, std::size_t times) {
  Bytes out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

// Pixel centres map onto each other; samples beyond the border repeat the
// edge pixel.
TEST(ThumbnailScalingTest, InterpolatesBetweenCentres) {
  struct Case {
    Bytes source;
    int sw, sh, dw, dh, channels;
    Bytes expected;
  };
  const Bytes fifteen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Case cases[] = {
      {fifteen, 5, 1, 5, 1, 3, fifteen},  // equal sizes copy
      {fifteen, 1, 5, 1, 5, 3, fifteen},
      // centres of 4 outputs over 2 inputs fall at -0.25, 0.25, 0.75, 1.25
      {{0, 255}, 2, 1, 4, 1, 1, {0, 64, 191, 255}},
      {{0, 255}, 1, 2, 1, 4, 1, {0, 64, 191, 255}},
      // halving averages 2x2 blocks
      // clang-format off
      {{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150}, 4, 4, 2, 2, 1,
       {25, 45, 105, 125}},
      // clang-format on
      // pure B then pure R in B, G, R order: channels stay apart
      {{255, 0, 0, 0, 0, 255}, 2, 1, 4, 1, 3, {255, 0, 0, 191, 0, 64, 64, 0, 191, 0, 0, 255}},
      {{10, 20, 30}, 1, 1, 7, 5, 3, Repeat({10, 20, 30}, 35)},
      {Bytes(7 * 5 * 3, 9), 7, 5, 1, 1, 3, {9, 9, 9}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Scale(c.source, c.sw, c.sh, c.dw, c.dh, c.channels), c.expected)
        << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh;
}

TEST(ThumbnailScalingTest, RefusesInvalidInput) {
  const Bytes source(4 * 4 * 3, 1);
  EXPECT_TRUE(Scale(source, 4, 4, 0, 4, 3).empty());
  EXPECT_TRUE(Scale(source, 4, 4, 4, -1, 3).empty());
  EXPECT_TRUE(Scale(source, 0, 4, 4, 4, 3).empty());
  EXPECT_TRUE(Scale(source, 4, 4, 4, 4, 0).empty());
  EXPECT_TRUE(Scale(source, 5, 4, 2, 2, 3).empty());  // source shorter than 5 x 4
  EXPECT_TRUE(ScaleBilinear(source.data(), source.size() - 1, 4, 4, 2, 2, 3).empty());
  EXPECT_TRUE(ScaleBilinear(nullptr, 0, 4, 4, 2, 2, 3).empty());
  EXPECT_TRUE(Scale(source, 4, 4, 1 << 21, 1, 3).empty());
}

TEST(StillImageName, MinutesSecondsMilliseconds) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {834'560'000, "01m23s456"},
      {37'230'040'000, "62m03s004"},  // 1:02:03.004
      {60'050'070'000, "100m05s007"},
      {9'000'000'000'000'000'000, "15000000000m00s000"}};
  for (const auto& [positionHns, name] : cases) EXPECT_EQ(StillImageName(positionHns), name);
}

// The preview of a file, red above blue (rows taken upside down or at a
// wrong width show), at 1.5004567 s: "00m01s500".
struct Capture {
  explicit Capture(const std::string& file = "qvga.wmv", std::string size = "320x120") {
    if (file != "tone.wav") {
      const std::string half = size + ":r=25:d=2";
      path = test::Media(
          file, {"-f", "lavfi", "-i",
                 "color=c=red:s=" + half + "[a];color=c=blue:s=" + half + "[b];[a][b]vstack[out0]",
                 "-c:v", "wmv2", "-q:v", "2"});
    } else {
      path = test::Media(file, {"-f", "lavfi", "-i", "sine=duration=2"});
    }
    EXPECT_EQ(preview.OpenPreview(path, nullptr), OpenResult::Opened);
    EXPECT_EQ(preview.ShowFrameAt(15'004'567), preview.previewInfo().hasVideo ? 1 : 0);
  }
  CaptureCommandResult Run(int capturesize, const std::string& folder, bool playing = false) {
    CaptureCommandResult r =
        CaptureCommand(preview, state, params, capturesize, folder, work.path().string(), playing);
    for (const char* message : r.messages) notifier.showMessage(message, false);
    return r;
  }
  std::string path;
  TempDir out, work;
  PreviewSource preview;
  RecordingNotifier notifier;
  ConversionState state;
  ConversionParameters params;
};

TEST(StillCaptureCommand, SavesThePictureAtTheCaptureSize) {
  const struct {
    const char* file;
    const char* half;
    int capturesize;
    bool playing;
    int width, height;
  } cases[] = {{"vga.wmv", "640x240", 0, false, 383, 288},  // the display size of 640x480
               {"vga.wmv", "640x240", 1, true, 64, 48},
               {"qvga.wmv", "320x120", 2, false, 128, 96},
               {"qvga.wmv", "320x120", 0, false, 320, 240},
               {"qvga.wmv", "320x120", 7, false, 320, 240}};  // outside the list: display size
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " size " + std::to_string(c.capturesize));
    Capture s(c.file, c.half);
    test::WriteFileBytes(s.out.file("00m01s500.bmp"), {'m', 'i', 'n', 'e'});  // not ours
    const CaptureCommandResult r = s.Run(c.capturesize, s.out.path(), c.playing);
    EXPECT_EQ(r.result, StillCaptureResult::kWritten);
    EXPECT_EQ(r.cursorMs, 1500);
    EXPECT_EQ(s.notifier.messages(), c.playing ? std::vector<std::string>{}
                                               : std::vector<std::string>{text::kStillCaptured});
    EXPECT_EQ(std::make_pair(s.params.thumbWidth, s.params.thumbHeight),
              std::make_pair(c.width, c.height));
    EXPECT_EQ(FilesIn(s.out.path()), (std::set<std::string>{"00m01s500.bmp", "00m01s500.jpg"}));
    EXPECT_EQ(test::ReadFileText(s.out.file("00m01s500.bmp")), "mine");
    EXPECT_TRUE(FilesIn(s.work.path()).empty());
    // red above blue, read back as top-down RGB
    const std::string raw = Rgb(s.out.file("00m01s500.jpg"));
    ASSERT_EQ(raw.size(), std::size_t(c.width) * c.height * 3);
    const auto at = [&](int y, int i) {
      return static_cast<std::uint8_t>(raw[(y * c.width + c.width / 2) * 3 + i]);
    };
    EXPECT_TRUE(at(c.height / 4, 0) > 200 && at(c.height / 4, 2) < 60);
    EXPECT_TRUE(at(c.height * 3 / 4, 0) < 60 && at(c.height * 3 / 4, 2) > 200);
  }
}

TEST(StillCaptureCommand, FailuresSaySoAndLeaveNoFiles) {
  Capture s;
  fs::create_directory(s.out.file("00m01s500.jpg"));  // a folder where the image would go
  const std::pair<std::string, StillCaptureResult> cases[] = {
      {s.out.file("missing"), StillCaptureResult::kNoFolder},
      {"", StillCaptureResult::kNoFolder},
      {s.out.path().string(), StillCaptureResult::kNotWritten}};
  for (const auto& [folder, result] : cases) EXPECT_EQ(s.Run(1, folder).result, result) << folder;
  EXPECT_EQ(s.notifier.messages(), std::vector<std::string>(3, text::kStillNotCaptured));
  EXPECT_EQ(FilesIn(s.out.path()), std::set<std::string>{"00m01s500.jpg"});
  EXPECT_TRUE(FilesIn(s.work.path()).empty());
  EXPECT_FALSE(CaptureTookPicture(StillCaptureResult::kNoFolder));
  EXPECT_TRUE(CaptureTookPicture(StillCaptureResult::kNotWritten));
}

// A capture is refused while converting; without pictures there is nothing
// to capture or refuse.
TEST(StillCaptureCommand, RefusedDuringAConversionNothingWithoutPictures) {
  Capture s;
  s.state.converting = true;
  EXPECT_TRUE(s.Run(1, s.out.path()).refused);
  EXPECT_EQ(s.notifier.messages(), (std::vector<std::string>{text::kStillRefusedWhileConverting,
                                                             text::kStillNotCaptured}));
  EXPECT_EQ(s.params.thumbWidth, 0);
  Capture tone("tone.wav");
  tone.state.converting = true;
  EXPECT_EQ(tone.Run(0, tone.out.path()).result, StillCaptureResult::kNothing);
  PreviewSource nothing;
  EXPECT_EQ(
      CaptureCommand(nothing, tone.state, tone.params, 0, tone.out.path(), tone.work.path(), false)
          .result,
      StillCaptureResult::kNothing);
  EXPECT_TRUE(tone.notifier.messages().empty());
  EXPECT_TRUE(FilesIn(s.out.path()).empty() && FilesIn(tone.out.path()).empty());
}

// Nearest-neighbour: target sample t takes source sample floor(10000 t /
// ratio), chroma rows and columns with the luma ratios.
TEST(ScaleYV12, DownAndUpscaleTakeTheNearestSample) {
  Bytes src(96);  // 8x8: luma 10 y + x, then a 4x4 V and a 4x4 U plane
  for (int i = 0; i < 64; ++i) src[i] = static_cast<std::uint8_t>(10 * (i / 8) + i % 8);
  for (int i = 0; i < 16; ++i) src[64 + i] = static_cast<std::uint8_t>(100 + i);
  for (int i = 0; i < 16; ++i) src[80 + i] = static_cast<std::uint8_t>(200 + i);
  Bytes out(24, 0xEE);
  ASSERT_EQ(ScaleYV12(FrameSizes(8, 8, 4, 4), src.data(), src.size(), out.data()), 24u);
  EXPECT_EQ(out, (Bytes{0,  2,  4,  6,  20,  22,  24,  26,  40,  42,  44,  46,
                        60, 62, 64, 66, 100, 102, 108, 110, 200, 202, 208, 210}));

  const Bytes small = {1, 2, 3, 4, 50, 60};
  ASSERT_EQ(ScaleYV12(FrameSizes(2, 2, 4, 4), small.data(), small.size(), out.data()), 24u);
  EXPECT_EQ(
      out, (Bytes{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4, 50, 50, 50, 50, 60, 60, 60, 60}));
  // A buffer shorter than one source frame is refused untouched.
  out.assign(24, 0xEE);
  EXPECT_EQ(ScaleYV12(FrameSizes(8, 8, 4, 4), src.data(), src.size() - 1, out.data()), 0u);
  EXPECT_EQ(out, Bytes(24, 0xEE));
}

// Fixed point with shifts that round toward minus infinity; every byte
// clamped to 0..255. The plane at w*h drives byte 2, the one after it byte 0;
// a missing third plane reads as neutral (128).
TEST(YV12ToRgb24, ClampsAndRoundsTowardMinusInfinity) {
  struct Case {
    int l, p2, p3, b0, b1, b2;
  };
  const Case cases[] = {
      {128, 128, 128, 128, 128, 128},  // neutral grey
      {255, 128, 255, 255, 165, 255},  // byte 0 clamped at 255
      // -128*1436 >> 10 = -180 (truncation: -179); -93568 >> 10 = -92
      {0, 128, 0, 0, 92, 0},        // byte 0 clamped at 0
      {200, 128, 0, 20, 255, 200},  // byte 1 clamped at 255
      {0, 255, 128, 0, 0, 224},     // 127*907 >> 9 = 224
      {0, 0, 128, 0, 44, 0},
      {50, 255, -1, 50, 7, 255},  // short chroma: no third plane
  };
  for (const Case& c : cases) {
    const auto l = static_cast<std::uint8_t>(c.l);
    Bytes src = {l, l, l, l, static_cast<std::uint8_t>(c.p2), static_cast<std::uint8_t>(c.p3)};
    if (c.p3 < 0) src.pop_back();
    Bytes out(12, 0);
    ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), src.data(), src.size(), out.data()), 12u);
    for (int pixel = 0; pixel < (c.p3 < 0 ? 1 : 4); ++pixel)
      EXPECT_EQ(Bytes(out.begin() + 3 * pixel, out.begin() + 3 * pixel + 3),
                (Bytes{std::uint8_t(c.b0), std::uint8_t(c.b1), std::uint8_t(c.b2)}))
          << c.l << "," << c.p2 << "," << c.p3;
  }
}

}  // namespace
}  // namespace zel
