#include "convert/ImageScaling.h"

#include <algorithm>

namespace zel {
namespace {

constexpr int kFractionBits = 16;
constexpr std::int64_t kOne = std::int64_t{1} << kFractionBits;
// Keeps the fixed-point positions of MakeTaps inside 64 bits.
constexpr int kMaxSide = 1 << 20;

// Where one destination sample reads in one dimension: the two neighbouring
// source indexes and the weight of the second, in 1/65536 units.
struct Tap {
  std::size_t first = 0;
  std::size_t second = 0;
  std::int64_t weight = 0;
};

std::vector<Tap> MakeTaps(int sourceSize, int destinationSize) {
  std::vector<Tap> taps(static_cast<std::size_t>(destinationSize));
  for (int i = 0; i < destinationSize; ++i) {
    // centre of destination sample i in source coordinates:
    // (i + 0.5) * source / destination - 0.5, in fixed point
    std::int64_t position =
        ((2 * std::int64_t{i} + 1) * sourceSize * kOne) / (2 * std::int64_t{destinationSize}) -
        kOne / 2;
    position = std::max<std::int64_t>(position, 0);
    Tap& tap = taps[static_cast<std::size_t>(i)];
    const std::int64_t index = position >> kFractionBits;
    if (index >= sourceSize - 1) {
      tap.first = tap.second = static_cast<std::size_t>(sourceSize - 1);
      tap.weight = 0;
    } else {
      tap.first = static_cast<std::size_t>(index);
      tap.second = tap.first + 1;
      tap.weight = position & (kOne - 1);
    }
  }
  return taps;
}

}  // namespace

std::vector<std::uint8_t> ScaleBilinear(const std::uint8_t* source, std::size_t length,
                                        int sourceWidth, int sourceHeight, int destinationWidth,
                                        int destinationHeight, int channels) {
  if (source == nullptr || sourceWidth <= 0 || sourceHeight <= 0 || destinationWidth <= 0 ||
      destinationHeight <= 0 || channels <= 0 || sourceWidth > kMaxSide ||
      sourceHeight > kMaxSide || destinationWidth > kMaxSide || destinationHeight > kMaxSide) {
    return {};
  }
  const std::size_t pixelSize = static_cast<std::size_t>(channels);
  const std::size_t sourceRow = static_cast<std::size_t>(sourceWidth) * pixelSize;
  const std::size_t sourceBytes = sourceRow * static_cast<std::size_t>(sourceHeight);
  if (length < sourceBytes) return {};
  if (sourceWidth == destinationWidth && sourceHeight == destinationHeight) {
    return std::vector<std::uint8_t>(source, source + sourceBytes);
  }

  const std::vector<Tap> columns = MakeTaps(sourceWidth, destinationWidth);
  const std::vector<Tap> rows = MakeTaps(sourceHeight, destinationHeight);
  const std::size_t destinationRow = static_cast<std::size_t>(destinationWidth) * pixelSize;
  std::vector<std::uint8_t> destination(destinationRow *
                                        static_cast<std::size_t>(destinationHeight));

  std::uint8_t* out = destination.data();
  for (const Tap& row : rows) {
    const std::uint8_t* upper = source + row.first * sourceRow;
    const std::uint8_t* lower = source + row.second * sourceRow;
    for (const Tap& column : columns) {
      const std::size_t left = column.first * pixelSize;
      const std::size_t right = column.second * pixelSize;
      for (std::size_t c = 0; c < pixelSize; ++c) {
        const std::int64_t top =
            upper[left + c] * (kOne - column.weight) + upper[right + c] * column.weight;
        const std::int64_t bottom =
            lower[left + c] * (kOne - column.weight) + lower[right + c] * column.weight;
        const std::int64_t value = top * (kOne - row.weight) + bottom * row.weight;
        // rounded back from 32 fraction bits; weights sum to one, so 0..255
        *out++ = static_cast<std::uint8_t>((value + (kOne * kOne / 2)) >> (2 * kFractionBits));
      }
    }
  }
  return destination;
}

}  // namespace zel
