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

TEST(ThumbnailScalingTest, EqualSizeCopies) {
  const Bytes source = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(Scale(source, 5, 1, 5, 1, 3), source);
  EXPECT_EQ(Scale(source, 1, 5, 1, 5, 3), source);
}

TEST(ThumbnailScalingTest, EnlargingInterpolatesBetweenCentres) {
  // centres of 4 outputs over 2 inputs fall at -0.25, 0.25, 0.75, 1.25
  EXPECT_EQ(Scale({0, 255}, 2, 1, 4, 1, 1), (Bytes{0, 64, 191, 255}));
  EXPECT_EQ(Scale({0, 255}, 1, 2, 1, 4, 1), (Bytes{0, 64, 191, 255}));
}

TEST(ThumbnailScalingTest, HalvingAveragesTwoByTwoBlocks) {
  const Bytes source = {0,   10,  20,  30,   //
                        40,  50,  60,  70,   //
                        80,  90,  100, 110,  //
                        120, 130, 140, 150};
  EXPECT_EQ(Scale(source, 4, 4, 2, 2, 1), (Bytes{25, 45, 105, 125}));
}

TEST(ThumbnailScalingTest, KeepsChannelsApart) {
  // two pixels: pure B then pure R in B, G, R order
  const Bytes source = {255, 0, 0, 0, 0, 255};
  const Bytes scaled = Scale(source, 2, 1, 4, 1, 3);
  EXPECT_EQ(scaled, (Bytes{255, 0, 0, 191, 0, 64, 64, 0, 191, 0, 0, 255}));
}

TEST(ThumbnailScalingTest, SinglePixelFillsAnySize) {
  const Bytes source = {10, 20, 30};
  const Bytes scaled = Scale(source, 1, 1, 7, 5, 3);
  ASSERT_EQ(scaled.size(), 7u * 5 * 3);
  for (std::size_t i = 0; i < scaled.size(); ++i) EXPECT_EQ(scaled[i], source[i % 3]);
  EXPECT_EQ(Scale(Bytes(7 * 5 * 3, 9), 7, 5, 1, 1, 3), (Bytes{9, 9, 9}));
}

TEST(ThumbnailScalingTest, UniformStaysUniformAtOddSizes) {
  for (const auto& [sw, sh, dw, dh] :
       {std::tuple{5, 3, 64, 48}, {641, 479, 64, 48}, {3, 7, 2, 9}, {64, 48, 5, 3}, {2, 1, 1, 2}}) {
    const Bytes scaled = Scale(Bytes(static_cast<std::size_t>(sw * sh * 3), 77), sw, sh, dw, dh, 3);
    ASSERT_EQ(scaled.size(), static_cast<std::size_t>(dw * dh * 3));
    for (std::uint8_t v : scaled) ASSERT_EQ(v, 77);
  }
}

TEST(ThumbnailScalingTest, RowOrderDoesNotMatter) {
  std::mt19937 random(7);
  for (const auto& [sw, sh, dw, dh] :
       {std::tuple{13, 9, 64, 48}, {320, 240, 64, 48}, {5, 3, 4, 7}, {176, 144, 128, 96}}) {
    Bytes source(static_cast<std::size_t>(sw * sh * 3));
    for (auto& b : source) b = static_cast<std::uint8_t>(random());
    Bytes flipped(source.size());
    const std::size_t row = static_cast<std::size_t>(sw) * 3;
    for (int y = 0; y < sh; ++y) {
      std::copy_n(source.begin() + y * row, row, flipped.begin() + (sh - 1 - y) * row);
    }
    const Bytes a = Scale(source, sw, sh, dw, dh, 3);
    const Bytes b = Scale(flipped, sw, sh, dw, dh, 3);
    const std::size_t outRow = static_cast<std::size_t>(dw) * 3;
    for (int y = 0; y < dh; ++y) {
      for (std::size_t i = 0; i < outRow; ++i) {
        // positions mirror to within 1/65536 of a pixel
        ASSERT_LE(std::abs(a[y * outRow + i] - b[(dh - 1 - y) * outRow + i]), 1);
      }
    }
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
