#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "convert/ImageScaling.h"

namespace zel {
namespace {

using Bytes = std::vector<std::uint8_t>;

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
      {{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150},
       4,
       4,
       2,
       2,
       1,
       {25, 45, 105, 125}},
      // pure B then pure R in B, G, R order: channels stay apart
      {{255, 0, 0, 0, 0, 255}, 2, 1, 4, 1, 3, {255, 0, 0, 191, 0, 64, 64, 0, 191, 0, 0, 255}},
      {{10, 20, 30}, 1, 1, 7, 5, 3, Repeat({10, 20, 30}, 35)},
      {Bytes(7 * 5 * 3, 9), 7, 5, 1, 1, 3, {9, 9, 9}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Scale(c.source, c.sw, c.sh, c.dw, c.dh, c.channels), c.expected)
        << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh;
}

// Odd sizes: a uniform image stays uniform, and flipping the rows of the
// source flips those of the result (positions mirror to within 1/65536).
TEST(ThumbnailScalingTest, UniformStaysUniformAndRowOrderDoesNotMatter) {
  std::mt19937 random(7);
  for (const auto& [sw, sh, dw, dh] : {std::tuple{5, 3, 64, 48},
                                       {641, 479, 64, 48},
                                       {3, 7, 2, 9},
                                       {64, 48, 5, 3},
                                       {2, 1, 1, 2},
                                       {320, 240, 64, 48},
                                       {13, 9, 64, 48},
                                       {5, 3, 4, 7},
                                       {176, 144, 128, 96}}) {
    const std::size_t row = static_cast<std::size_t>(sw) * 3,
                      outRow = static_cast<std::size_t>(dw) * 3;
    const Bytes uniform = Scale(Bytes(row * sh, 77), sw, sh, dw, dh, 3);
    EXPECT_EQ(uniform, Bytes(outRow * dh, 77));
    Bytes source(row * sh), flipped(source.size());
    for (auto& b : source) b = static_cast<std::uint8_t>(random());
    for (int y = 0; y < sh; ++y)
      std::copy_n(source.begin() + y * row, row, flipped.begin() + (sh - 1 - y) * row);
    const Bytes a = Scale(source, sw, sh, dw, dh, 3), b = Scale(flipped, sw, sh, dw, dh, 3);
    for (int y = 0; y < dh; ++y)
      for (std::size_t i = 0; i < outRow; ++i)
        ASSERT_LE(std::abs(a[y * outRow + i] - b[(dh - 1 - y) * outRow + i]), 1);
  }
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

}  // namespace
}  // namespace zel
