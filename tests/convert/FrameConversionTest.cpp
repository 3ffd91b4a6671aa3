#include <gtest/gtest.h>

#include <vector>

#include "convert/FrameConversion.h"

namespace zel {
namespace {

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
