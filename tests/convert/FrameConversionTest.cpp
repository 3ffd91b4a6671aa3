#include <gtest/gtest.h>

#include <vector>

#include "convert/FrameConversion.h"

namespace zel {
namespace {

// A bottom-up RGB24 image of one colour.
std::vector<std::uint8_t> Uniform(int w, int h, std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
  std::vector<std::uint8_t> rgb;
  for (int i = 0; i < w * h; ++i) rgb.insert(rgb.end(), {b0, b1, b2});
  return rgb;
}

struct RgbCase {
  std::uint8_t b0, b1, b2;
  int luma, second, third;
};

TEST(Rgb24ToYV12, FixedPointWeightsRoundTowardMinusInfinity) {
  const RgbCase cases[] = {
      {255, 255, 255, 255, 128, 128},  // white
      {0, 0, 0, 0, 128, 128},          // black
      // -172*255 = -43860: >> 10 gives -43 (truncation would give -42)
      {255, 0, 0, 76, 85, 255},
      // 512*255 >> 10 = 127; -83*255 = -21165 >> 10 = -21
      {0, 0, 255, 29, 255, 107},
      {0, 255, 0, 149, 43, 21},
  };
  for (const RgbCase& c : cases) {
    VideoSegmentInfo info = FrameSizes(2, 2, 2, 2);
    std::vector<std::uint8_t> rgb = Uniform(2, 2, c.b0, c.b1, c.b2);
    std::vector<std::uint8_t> out(6, 0xEE);
    ASSERT_EQ(Rgb24ToYV12(info, rgb.data(), rgb.size(), out.data()), 6u);
    SCOPED_TRACE(testing::Message() << int(c.b0) << "," << int(c.b1) << "," << int(c.b2));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], c.luma);
    EXPECT_EQ(out[4], c.second);
    EXPECT_EQ(out[5], c.third);
  }
}

TEST(Rgb24ToYV12, BlockKeepsTheLowerRightPixelAndRowsAreBottomUp) {
  // 2x4 image; memory row r is output row 3 - r.
  VideoSegmentInfo info = FrameSizes(2, 4, 2, 4);
  std::vector<std::uint8_t> rgb(2 * 4 * 3, 0);
  auto pixel = [&](int memRow, int x, std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    std::uint8_t* p = &rgb[(memRow * 2 + x) * 3];
    p[0] = b0, p[1] = b1, p[2] = b2;
  };
  // Output block row 1 = output rows 2, 3 = memory rows 1, 0. Its lower
  // right pixel is output (3, 1) = memory row 0, column 1.
  pixel(0, 1, 255, 0, 0);
  pixel(0, 0, 0, 0, 255);      // lower left: overwritten by the lower right
  pixel(1, 1, 0, 255, 0);      // upper right: overwritten
  pixel(3, 0, 255, 255, 255);  // output row 0, column 0
  std::vector<std::uint8_t> out(12, 0xEE);
  ASSERT_EQ(Rgb24ToYV12(info, rgb.data(), rgb.size(), out.data()), 12u);
  EXPECT_EQ(out[0], 255);  // output row 0 from memory row 3
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[7], 76);        // output row 3, column 1: red
  EXPECT_EQ(out[6], 29);        // output row 3, column 0: blue
  EXPECT_EQ(out[8 + 1], 85);    // second plane, block row 1
  EXPECT_EQ(out[10 + 1], 255);  // third plane, block row 1
  EXPECT_EQ(out[8], 128);       // block row 0 keeps its lower right pixel: black
  EXPECT_EQ(out[10], 128);
}

TEST(Rgb24ToYV12, OddSizesStayInsideTheFrame) {
  // 5x5: 37 output bytes; the last block row's chroma would reach past them.
  VideoSegmentInfo info = FrameSizes(5, 5, 5, 5);
  std::vector<std::uint8_t> rgb = Uniform(5, 5, 10, 200, 30);
  std::vector<std::uint8_t> out(37 + 8, 0xEE);
  ASSERT_EQ(Rgb24ToYV12(info, rgb.data(), rgb.size(), out.data()), 37u);
  for (std::size_t i = 37; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(Rgb24ToYV12, ShortBufferIsRefused) {
  VideoSegmentInfo info = FrameSizes(4, 4, 4, 4);
  std::vector<std::uint8_t> rgb(4 * 4 * 3 - 1, 0);
  std::vector<std::uint8_t> out(24, 0xEE);
  EXPECT_EQ(Rgb24ToYV12(info, rgb.data(), rgb.size(), out.data()), 0u);
  EXPECT_EQ(out[0], 0xEE);
}

TEST(ScaleYV12, DownscalePicksEverySecondRowAndColumn) {
  VideoSegmentInfo info = FrameSizes(8, 8, 4, 4);
  std::vector<std::uint8_t> src(96);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) src[y * 8 + x] = static_cast<std::uint8_t>(10 * y + x);
  for (int i = 0; i < 16; ++i) src[64 + i] = static_cast<std::uint8_t>(100 + i);  // V
  for (int i = 0; i < 16; ++i) src[80 + i] = static_cast<std::uint8_t>(200 + i);  // U
  std::vector<std::uint8_t> out(24, 0xEE);
  ASSERT_EQ(ScaleYV12(info, src.data(), src.size(), out.data()), 24u);
  const std::vector<std::uint8_t> luma = {0,  2,  4,  6,  20, 22, 24, 26,
                                          40, 42, 44, 46, 60, 62, 64, 66};
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 16), luma);
  // Chroma rows/columns scaled with the luma ratios: source chroma (0,0),
  // (0,2), (2,0), (2,2) of a 4-wide plane.
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 16, out.begin() + 20),
            (std::vector<std::uint8_t>{100, 102, 108, 110}));
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 20, out.end()),
            (std::vector<std::uint8_t>{200, 202, 208, 210}));
}

TEST(ScaleYV12, UpscaleRepeatsSamples) {
  VideoSegmentInfo info = FrameSizes(2, 2, 4, 4);
  const std::vector<std::uint8_t> src = {1, 2, 3, 4, 50, 60};
  std::vector<std::uint8_t> out(24, 0xEE);
  ASSERT_EQ(ScaleYV12(info, src.data(), src.size(), out.data()), 24u);
  const std::vector<std::uint8_t> luma = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 16), luma);
  // Target chroma (y, x) < (2, 2) from source chroma row floor(y/2) * 2 / 2
  // and column floor(x / 2): row 0 for both rows.
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 16, out.begin() + 20),
            (std::vector<std::uint8_t>{50, 50, 50, 50}));
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 20, out.end()),
            (std::vector<std::uint8_t>{60, 60, 60, 60}));
}

TEST(ScaleYV12, ThreeTwentyToQcifUsesTruncatedRatios) {
  VideoSegmentInfo info = FrameSizes(320, 240, 176, 144);
  ASSERT_EQ(info.xRatio, 5500);
  ASSERT_EQ(info.yRatio, 6000);
  std::vector<std::uint8_t> src(320 * 240 * 3 / 2);
  for (std::size_t i = 0; i < 320 * 240; ++i) src[i] = static_cast<std::uint8_t>(i % 320 % 251);
  std::vector<std::uint8_t> out(176 * 144 * 3 / 2);
  ASSERT_EQ(ScaleYV12(info, src.data(), src.size(), out.data()), out.size());
  for (int x = 0; x < 176; ++x) {
    ASSERT_EQ(out[x], (10000 * x / 5500) % 251) << x;
  }
}

TEST(ScaleYV12, ShortBufferIsRefused) {
  VideoSegmentInfo info = FrameSizes(8, 8, 4, 4);
  std::vector<std::uint8_t> src(95, 1);
  std::vector<std::uint8_t> out(24, 0xEE);
  EXPECT_EQ(ScaleYV12(info, src.data(), src.size(), out.data()), 0u);
  EXPECT_EQ(out[0], 0xEE);
}

TEST(YV12ToRgb24, NeutralGreyStaysGrey) {
  VideoSegmentInfo info = FrameSizes(4, 2, 4, 2);
  std::vector<std::uint8_t> src(12, 128);
  std::vector<std::uint8_t> out(24, 0);
  ASSERT_EQ(YV12ToRgb24(info, src.data(), src.size(), out.data()), 24u);
  for (std::uint8_t b : out) EXPECT_EQ(b, 128);
}

struct YuvCase {
  int l, p2, p3;
  int b0, b1, b2;
};

TEST(YV12ToRgb24, ClampsAndRoundsTowardMinusInfinity) {
  const YuvCase cases[] = {
      {255, 128, 255, 255, 165, 255},  // byte 0 clamped at 255
      // -128*1436 >> 10 = -180 (truncation: -179); -93568 >> 10 = -92
      {0, 128, 0, 0, 92, 0},        // byte 0 clamped at 0
      {200, 128, 0, 20, 255, 200},  // byte 1 clamped at 255
      // plane at offset w*h drives byte 2: 127*907 >> 9 = 224
      {0, 255, 128, 0, 0, 224},
      {0, 0, 128, 0, 44, 0},
  };
  for (const YuvCase& c : cases) {
    VideoSegmentInfo info = FrameSizes(2, 2, 2, 2);
    std::vector<std::uint8_t> src = {std::uint8_t(c.l), std::uint8_t(c.l),  std::uint8_t(c.l),
                                     std::uint8_t(c.l), std::uint8_t(c.p2), std::uint8_t(c.p3)};
    std::vector<std::uint8_t> out(12, 0);
    ASSERT_EQ(YV12ToRgb24(info, src.data(), src.size(), out.data()), 12u);
    SCOPED_TRACE(testing::Message() << c.l << "," << c.p2 << "," << c.p3);
    EXPECT_EQ(out[0], c.b0);
    EXPECT_EQ(out[1], c.b1);
    EXPECT_EQ(out[2], c.b2);
  }
}

TEST(YV12ToRgb24, RowsGoBottomUp) {
  VideoSegmentInfo info = FrameSizes(2, 2, 2, 2);
  const std::vector<std::uint8_t> src = {10, 10, 90, 90, 128, 128};
  std::vector<std::uint8_t> out(12, 0);
  ASSERT_EQ(YV12ToRgb24(info, src.data(), src.size(), out.data()), 12u);
  EXPECT_EQ(out[0], 90);  // first memory row = bottom row of the picture
  EXPECT_EQ(out[6], 10);
}

TEST(YV12ToRgb24, ShortChromaReadsAsNeutral) {
  VideoSegmentInfo info = FrameSizes(2, 2, 2, 2);
  const std::vector<std::uint8_t> src = {50, 50, 50, 50, 255};  // third plane missing
  std::vector<std::uint8_t> out(12, 0);
  ASSERT_EQ(YV12ToRgb24(info, src.data(), src.size(), out.data()), 12u);
  EXPECT_EQ(out[0], 50);  // P3 taken as 128
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(out[2], 255);  // 50 + 224 clamped
}

}  // namespace
}  // namespace zel
