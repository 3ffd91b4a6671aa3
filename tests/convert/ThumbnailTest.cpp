#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "convert/JpegFile.h"
#include "convert/Thumbnail.h"

namespace zel {
namespace {

using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

// A JPEG as the real readers see it: ffprobe's size and pixel format, and
// ffmpeg's top-down R, G, B pixels.
struct Decoded {
  int width = 0, height = 0;
  std::string pixelFormat;  // yuvj444p: full-resolution chroma
  std::string rgb;
  const std::uint8_t* at(int x, int y) const {
    return reinterpret_cast<const std::uint8_t*>(rgb.data()) + (y * width + x) * 3;
  }
};

std::optional<Decoded> DecodeJpeg(const std::string& path) {
  auto streams = test::ProbeStreams(path);
  if (streams.size() != 1 || streams[0]["codec_name"] != "mjpeg") return std::nullopt;
  Decoded d{std::stoi(streams[0]["width"]), std::stoi(streams[0]["height"]), streams[0]["pix_fmt"],
            test::RunCommand(
                {"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                .out};
  if (d.rgb.size() != static_cast<std::size_t>(d.width) * d.height * 3) return std::nullopt;
  return d;
}

VideoSegmentInfo Info(int width, int height) { return FrameSizes(width, height, width, height); }

// Packed YV12 (planes Y, V, U) of one colour.
Bytes Yv12(int width, int height, std::uint8_t y, std::uint8_t v, std::uint8_t u) {
  const std::size_t area = static_cast<std::size_t>(width) * height;
  Bytes frame(area * 3 / 2, u);
  std::fill(frame.begin(), frame.begin() + area, y);
  std::fill(frame.begin() + area, frame.begin() + area * 5 / 4, v);
  return frame;
}

std::set<std::string> FilesIn(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

void ExpectNear(const std::uint8_t* rgb, int r, int g, int b, int tolerance) {
  EXPECT_NEAR(rgb[0], r, tolerance);
  EXPECT_NEAR(rgb[1], g, tolerance);
  EXPECT_NEAR(rgb[2], b, tolerance);
}

struct SizeCase {
  int sourceWidth, sourceHeight, outputWidth, outputHeight;
};

std::ostream& operator<<(std::ostream& out, const SizeCase& c) {
  return out << c.sourceWidth << "x" << c.sourceHeight << " to " << c.outputWidth << "x"
             << c.outputHeight;
}

class ThumbnailSizeTest : public ::testing::TestWithParam<SizeCase> {};

// Only the JPEG is left, full chroma, the output size.
TEST_P(ThumbnailSizeTest, GreyFrameGivesGreyJpegOfTheOutputSize) {
  const SizeCase c = GetParam();
  TempDir dir;
  const std::string base = dir.file("sample_00");
  const Bytes frame = Yv12(c.sourceWidth, c.sourceHeight, 128, 128, 128);
  ASSERT_EQ(WriteThumbnail(Info(c.sourceWidth, c.sourceHeight), false, frame.data(), frame.size(),
                           c.outputWidth, c.outputHeight, base),
            1);
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"sample_00.jpg"});
  const std::optional<Decoded> jpeg = DecodeJpeg(base + ".jpg");
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->width, c.outputWidth);
  EXPECT_EQ(jpeg->height, c.outputHeight);
  EXPECT_EQ(jpeg->pixelFormat, "yuvj444p");
  for (char value : jpeg->rgb) ASSERT_NEAR(static_cast<std::uint8_t>(value), 128, 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThumbnailSizeTest,
                         ::testing::Values(SizeCase{320, 240, 64, 48}, SizeCase{320, 240, 128, 96},
                                           SizeCase{320, 240, 320, 240}, SizeCase{176, 144, 64, 48},
                                           SizeCase{5, 3, 64, 48}, SizeCase{1, 1, 64, 48},
                                           SizeCase{1, 1, 1, 1}, SizeCase{7, 5, 3, 2},
                                           SizeCase{641, 479, 128, 96}));

// Bottom-up B, G, R input, the lower half blue and the upper half red, keeps
// its colours and rows, scaled or at the source size.
TEST(ThumbnailTest, ChannelAndRowOrderSurviveRgb24Input) {
  for (auto [w, h, outW, outH] : {std::tuple{32, 24, 64, 48}, {16, 8, 16, 8}}) {
    TempDir dir;
    Bytes frame;
    for (int row = 0; row < h; ++row)
      for (int x = 0; x < w; ++x)
        frame.insert(frame.end(),
                     {std::uint8_t(row < h / 2 ? 255 : 0), 0, std::uint8_t(row < h / 2 ? 0 : 255)});
    ASSERT_EQ(
        WriteThumbnail(Info(w, h), true, frame.data(), frame.size(), outW, outH, dir.file("still")),
        1);
    const std::optional<Decoded> jpeg = DecodeJpeg(dir.file("still.jpg"));
    ASSERT_TRUE(jpeg);
    for (int y = 0; y < outH; ++y) {
      if (std::abs(2 * y + 1 - outH) <= outH / 4) continue;  // the edge rings at any quality
      for (int x = 0; x < outW; ++x) {
        SCOPED_TRACE(::testing::Message() << x << "," << y);
        ExpectNear(jpeg->at(x, y), y < outH / 2 ? 255 : 0, 0, y < outH / 2 ? 0 : 255, 12);
      }
    }
  }
}

// Pure red in YV12: luma 81, Cr 240 in the second plane, Cb 90 in the third.
TEST(ThumbnailTest, RedYv12FrameStaysRed) {
  TempDir dir;
  const std::string base = dir.file("red");
  test::WriteFileBytes(base + ".jpg", Bytes(5000, 'x'));  // an older thumbnail is replaced
  const Bytes frame = Yv12(176, 144, 81, 240, 90);
  ASSERT_EQ(WriteThumbnail(Info(176, 144), false, frame.data(), frame.size(), 128, 96, base), 1);
  const std::optional<Decoded> jpeg = DecodeJpeg(base + ".jpg");
  ASSERT_TRUE(jpeg);
  const std::uint8_t* centre = jpeg->at(64, 48);
  EXPECT_TRUE(centre[0] > 200 && centre[1] < 100 && centre[2] < 100)
      << +centre[0] << "," << +centre[1] << "," << +centre[2];
  EXPECT_EQ(std::make_tuple(jpeg->width, jpeg->height), std::make_tuple(128, 96));
  EXPECT_EQ(test::DecodeErrors(base + ".jpg"), "");
}

TEST(ThumbnailTest, FailuresWriteNothing) {
  TempDir dir;
  const std::string base = dir.file("sample_00");
  const Bytes frame = Yv12(16, 16, 128, 128, 128);
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
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // The BMP can be written but the JPEG cannot: a folder stands in its place.
  std::filesystem::create_directory(base + ".jpg");
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), 64, 48, base), 0);
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"sample_00.jpg"});
  const Bytes pixels(4 * 4 * 3 - 1, 0);
  EXPECT_FALSE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 4, 4));
  EXPECT_FALSE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 0, 4));
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.jpg")));
}

}  // namespace
}  // namespace zel
