#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include "common/TestSupport.h"
#include "convert/JpegFile.h"
#include "convert/Thumbnail.h"

namespace zel {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

// A decoded JPEG: top-down R, G, B.
struct Decoded {
  int width = 0;
  int height = 0;
  int subsampling = -1;
  Bytes rgb;
  const std::uint8_t* at(int x, int y) const {
    return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  }
};

std::optional<Decoded> DecodeJpeg(const std::string& path) {
  const Bytes jpeg = ReadFileBytes(path);
  if (jpeg.empty()) return std::nullopt;
  std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
  Decoded d;
  int colourspace = 0;
  if (tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &d.width, &d.height,
                          &d.subsampling, &colourspace) != 0) {
    return std::nullopt;
  }
  d.rgb.resize(static_cast<std::size_t>(d.width) * d.height * 3);
  if (tjDecompress2(handle.get(), jpeg.data(), jpeg.size(), d.rgb.data(), d.width, 0, d.height,
                    TJPF_RGB, TJFLAG_ACCURATEDCT) != 0) {
    return std::nullopt;
  }
  return d;
}

// A frame description at the source size.
VideoSegmentInfo Info(int width, int height) { return FrameSizes(width, height, width, height); }

// Packed YV12 (planes Y, V, U) of one colour.
Bytes Yv12(int width, int height, std::uint8_t y, std::uint8_t v, std::uint8_t u) {
  const std::size_t area = static_cast<std::size_t>(width) * height;
  Bytes frame(area * 3 / 2);
  std::fill(frame.begin(), frame.begin() + area, y);
  std::fill(frame.begin() + area, frame.begin() + area * 5 / 4, v);
  std::fill(frame.begin() + area * 5 / 4, frame.end(), u);
  return frame;
}

// Bottom-up B, G, R: the lower half of the picture blue, the upper half red.
Bytes RedOverBlue(int width, int height) {
  Bytes frame(static_cast<std::size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row) {
    const bool lowerHalf = row < height / 2;  // bottom row first
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = frame.data() + (static_cast<std::size_t>(row) * width + x) * 3;
      p[0] = lowerHalf ? 255 : 0;
      p[1] = 0;
      p[2] = lowerHalf ? 0 : 255;
    }
  }
  return frame;
}

std::set<std::string> FilesIn(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
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
  EXPECT_EQ(jpeg->subsampling, TJSAMP_444);
  for (std::uint8_t value : jpeg->rgb) ASSERT_NEAR(value, 128, 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThumbnailSizeTest,
                         ::testing::Values(SizeCase{320, 240, 64, 48}, SizeCase{320, 240, 128, 96},
                                           SizeCase{320, 240, 320, 240}, SizeCase{176, 144, 64, 48},
                                           SizeCase{5, 3, 64, 48}, SizeCase{1, 1, 64, 48},
                                           SizeCase{1, 1, 1, 1}, SizeCase{7, 5, 3, 2},
                                           SizeCase{641, 479, 128, 96}));

TEST(ThumbnailTest, ChannelOrderAndRowOrderSurviveRgb24Input) {
  TempDir dir;
  const std::string base = dir.file("still");
  const Bytes frame = RedOverBlue(32, 24);
  ASSERT_EQ(WriteThumbnail(Info(32, 24), true, frame.data(), frame.size(), 64, 48, base), 1);
  const std::optional<Decoded> jpeg = DecodeJpeg(base + ".jpg");
  ASSERT_TRUE(jpeg);
  ExpectNear(jpeg->at(10, 5), 255, 0, 0, 8);   // top: red
  ExpectNear(jpeg->at(50, 40), 0, 0, 255, 8);  // bottom: blue
  EXPECT_FALSE(std::filesystem::exists(base + ".bmp"));
}

TEST(ThumbnailTest, SourceSizeOutputKeepsEveryPixel) {
  TempDir dir;
  const std::string base = dir.file("same");
  const Bytes frame = RedOverBlue(16, 8);
  ASSERT_EQ(WriteThumbnail(Info(16, 8), true, frame.data(), frame.size(), 16, 8, base), 1);
  const std::optional<Decoded> jpeg = DecodeJpeg(base + ".jpg");
  ASSERT_TRUE(jpeg);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      if (y == 3 || y == 4) continue;  // the edge rings a little at any quality
      SCOPED_TRACE(testing::Message() << x << "," << y);
      ExpectNear(jpeg->at(x, y), y < 4 ? 255 : 0, 0, y < 4 ? 0 : 255, 12);
    }
  }
}

TEST(ThumbnailTest, RedYv12FrameStaysRed) {
  TempDir dir;
  const std::string base = dir.file("red");
  // luma 81 with the chroma of pure red (Cr 240 in the second plane, Cb 90 in
  // the third)
  const Bytes frame = Yv12(48, 32, 81, 240, 90);
  ASSERT_EQ(WriteThumbnail(Info(48, 32), false, frame.data(), frame.size(), 64, 48, base), 1);
  const std::optional<Decoded> jpeg = DecodeJpeg(base + ".jpg");
  ASSERT_TRUE(jpeg);
  const std::uint8_t* centre = jpeg->at(32, 24);
  EXPECT_GT(centre[0], 200);
  EXPECT_LT(centre[1], 100);
  EXPECT_LT(centre[2], 100);
}

TEST(ThumbnailTest, ReplacesAnOlderThumbnail) {
  TempDir dir;
  const std::string base = dir.file("sample_00");
  test::WriteFileBytes(base + ".jpg", Bytes(5000, 'x'));
  const Bytes frame = Yv12(16, 16, 128, 128, 128);
  ASSERT_EQ(WriteThumbnail(Info(16, 16), false, frame.data(), frame.size(), 8, 8, base), 1);
  const std::optional<Decoded> jpeg = DecodeJpeg(base + ".jpg");
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->width, 8);
}

TEST(ThumbnailTest, MissingFolderWritesNothing) {
  TempDir dir;
  const std::string base = dir.file("no/such/folder/sample_00");
  const Bytes frame = Yv12(16, 16, 128, 128, 128);
  EXPECT_EQ(WriteThumbnail(Info(16, 16), false, frame.data(), frame.size(), 64, 48, base), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ThumbnailTest, UnwritableJpegLeavesNoBmp) {
  TempDir dir;
  const std::string base = dir.file("sample_00");
  // the BMP can be written, the JPEG cannot: a folder stands in its place
  std::filesystem::create_directory(base + ".jpg");
  const Bytes frame = Yv12(16, 16, 128, 128, 128);
  EXPECT_EQ(WriteThumbnail(Info(16, 16), false, frame.data(), frame.size(), 64, 48, base), 0);
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"sample_00.jpg"});
  EXPECT_TRUE(std::filesystem::is_directory(base + ".jpg"));
}

TEST(ThumbnailTest, InvalidRequestsWriteNothing) {
  TempDir dir;
  const std::string base = dir.file("sample_00");
  const Bytes frame = Yv12(16, 16, 128, 128, 128);
  const VideoSegmentInfo info = Info(16, 16);
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), 0, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), 64, 0, base), 0);
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size(), -64, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(info, false, frame.data(), frame.size() - 1, 64, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(info, true, frame.data(), frame.size(), 64, 48, base),
            0);  // RGB24 needs 768
  EXPECT_EQ(WriteThumbnail(info, false, nullptr, frame.size(), 64, 48, base), 0);
  EXPECT_EQ(WriteThumbnail(Info(0, 16), false, frame.data(), frame.size(), 64, 48, base), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ThumbnailTest, SaveJpegRefusesShortInput) {
  TempDir dir;
  const Bytes pixels(4 * 4 * 3 - 1, 0);
  EXPECT_FALSE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 4, 4));
  EXPECT_FALSE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 0, 4));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ThumbnailTest, SaveJpegTopDownRgb) {
  TempDir dir;
  // top-down R, G, B: one red row over one green row
  Bytes pixels(8 * 2 * 3, 0);
  for (int x = 0; x < 8; ++x) {
    pixels[x * 3] = 255;
    pixels[24 + x * 3 + 1] = 255;
  }
  JpegSaveOptions options;
  options.order = JpegPixelOrder::kRgb;
  options.bottomUp = false;
  ASSERT_TRUE(SaveJpeg(dir.file("a.jpg"), pixels.data(), pixels.size(), 8, 2, options));
  const std::optional<Decoded> jpeg = DecodeJpeg(dir.file("a.jpg"));
  ASSERT_TRUE(jpeg);
  EXPECT_GT(jpeg->at(3, 0)[0], 150);
  EXPECT_GT(jpeg->at(3, 1)[1], 150);
  EXPECT_LT(jpeg->at(3, 1)[0], 100);
}

TEST(ThumbnailTest, FfprobeReadsTheThumbnail) {
  TempDir dir;
  const std::string base = dir.file("probe");
  const Bytes frame = Yv12(176, 144, 90, 100, 160);
  ASSERT_EQ(WriteThumbnail(Info(176, 144), false, frame.data(), frame.size(), 128, 96, base), 1);
  const std::string out =
      test::Probe(base + ".jpg", {"-show_entries", "stream=codec_name,width,height"});
  EXPECT_NE(out.find("codec_name=mjpeg"), std::string::npos) << out;
  EXPECT_NE(out.find("width=128"), std::string::npos) << out;
  EXPECT_NE(out.find("height=96"), std::string::npos) << out;
  EXPECT_EQ(test::DecodeErrors(base + ".jpg"), "");
}

}  // namespace
}  // namespace zel
