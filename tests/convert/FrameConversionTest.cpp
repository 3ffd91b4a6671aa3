#include <gtest/gtest.h>

#include <vector>

#include "convert/FrameConversion.h"

namespace zel {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

TEST(ScaleYV12, ThreeTwentyToQcifUsesTruncatedRatios) {
  VideoSegmentInfo info = FrameSizes(320, 240, 176, 144);
  ASSERT_EQ(info.xRatio, 5500);
  ASSERT_EQ(info.yRatio, 6000);
  Bytes src(320 * 240 * 3 / 2);
  for (std::size_t i = 0; i < 320 * 240; ++i) src[i] = static_cast<std::uint8_t>(i % 320 % 251);
  Bytes out(176 * 144 * 3 / 2);
  ASSERT_EQ(ScaleYV12(info, src.data(), src.size(), out.data()), out.size());
  for (int x = 0; x < 176; ++x) ASSERT_EQ(out[x], (10000 * x / 5500) % 251) << x;
}

// Fixed point with shifts that round toward minus infinity; every byte
// clamped to 0..255. The plane at w*h drives byte 2, the one after it byte 0.
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
  };
  for (const Case& c : cases) {
    const auto l = static_cast<std::uint8_t>(c.l);
    const Bytes src = {
        l, l, l, l, static_cast<std::uint8_t>(c.p2), static_cast<std::uint8_t>(c.p3)};
    Bytes out(12, 0);
    ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), src.data(), src.size(), out.data()), 12u);
    for (int pixel = 0; pixel < 4; ++pixel)
      EXPECT_EQ(Bytes(out.begin() + 3 * pixel, out.begin() + 3 * pixel + 3),
                (Bytes{std::uint8_t(c.b0), std::uint8_t(c.b1), std::uint8_t(c.b2)}))
          << c.l << "," << c.p2 << "," << c.p3;
  }
}

TEST(YV12ToRgb24, RowsGoBottomUpAndShortChromaReadsAsNeutral) {
  const Bytes rows = {10, 10, 90, 90, 128, 128};
  Bytes out(12, 0);
  ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), rows.data(), rows.size(), out.data()), 12u);
  EXPECT_EQ(out, (Bytes{90, 90, 90, 90, 90, 90, 10, 10, 10, 10, 10, 10}));
  const Bytes shortChroma = {50, 50, 50, 50, 255};  // the third plane is missing: 128
  ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), shortChroma.data(), shortChroma.size(), out.data()),
            12u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{50, 7, 255}));
}

}  // namespace
}  // namespace zel
