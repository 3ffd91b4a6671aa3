#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zel {

// The intermediate 24-bit BMP of a thumbnail: a 14-byte file header, a 40-byte
// information header and one zero colour entry, so the pixels start at 58.
inline constexpr std::size_t kBmpHeaderSize = 58;

// A decoded 24-bit image: B, G, R bytes, rows of width * 3 bytes without
// padding, bottom row first (the order a positive BMP height stores).
struct BmpImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// The 58 header bytes of a width x height 24-bit image whose rows carry no
// padding. Empty when the size is not positive or does not fit the fields.
std::vector<std::uint8_t> BuildBmpHeader(int width, int height);

// Writes the header and width * height * 3 pixel bytes (bottom-up, unpadded).
// False when the size is invalid, length is short or the file cannot be
// written; a file that could not be written completely is removed.
bool WriteBmpFile(const std::string& path, int width, int height, const std::uint8_t* pixels,
                  std::size_t length);

// Reads a 24-bit uncompressed BMP as written by WriteBmpFile. Rows padded to
// four bytes, as other writers store them, are accepted too; a negative height
// (top-down rows) is turned bottom-up. Nothing on any malformed input.
std::optional<BmpImage> ReadBmpFile(const std::string& path);

}  // namespace zel
