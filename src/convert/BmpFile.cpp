#include "convert/BmpFile.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "General/AtomicFile.h"

namespace zel {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

void PutU16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::uint8_t* at, std::uint32_t value) {
  PutU16(at, value & 0xFFFF);
  PutU16(at + 2, value >> 16);
}

std::uint32_t GetU16(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8);
}

std::uint32_t GetU32(const std::uint8_t* at) { return GetU16(at) | (GetU16(at + 2) << 16); }

// Pixel bytes of an unpadded 24-bit image, or 0 when they overflow the 32-bit
// size fields of the header.
std::uint64_t PixelBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const std::uint64_t bytes =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
  if (bytes + kBmpHeaderSize > std::numeric_limits<std::uint32_t>::max()) return 0;
  return bytes;
}

}  // namespace

std::vector<std::uint8_t> BuildBmpHeader(int width, int height) {
  const std::uint64_t pixelBytes = PixelBytes(width, height);
  if (pixelBytes == 0) return {};
  std::vector<std::uint8_t> header(kBmpHeaderSize, 0);
  std::uint8_t* h = header.data();
  // file header: type, file size, two reserved words, pixel data offset
  h[0] = 'B';
  h[1] = 'M';
  PutU32(h + 2, static_cast<std::uint32_t>(pixelBytes + kBmpHeaderSize));
  PutU32(h + 10, kBmpHeaderSize);
  // information header; a positive height means bottom-up rows
  PutU32(h + 14, kInfoHeaderSize);
  PutU32(h + 18, static_cast<std::uint32_t>(width));
  PutU32(h + 22, static_cast<std::uint32_t>(height));
  PutU16(h + 26, 1);   // planes
  PutU16(h + 28, 24);  // bits per pixel
  PutU32(h + 30, 0);   // uncompressed
  PutU32(h + 34, static_cast<std::uint32_t>(pixelBytes));
  // resolutions, colours used and important colours stay 0, and so does the
  // one colour-table entry at 54..57 that makes the header 58 bytes long
  return header;
}

bool WriteBmpFile(const std::string& path, int width, int height, const std::uint8_t* pixels,
                  std::size_t length) {
  const std::vector<std::uint8_t> header = BuildBmpHeader(width, height);
  if (header.empty() || pixels == nullptr) return false;
  const std::uint64_t pixelBytes = PixelBytes(width, height);
  if (length < pixelBytes) return false;

  return WriteWholeFile(path, {std::span<const std::uint8_t>(header.data(), header.size()),
                               std::span<const std::uint8_t>(pixels, pixelBytes)});
}

std::optional<BmpImage> ReadBmpFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  if (in.bad() || file.size() < kFileHeaderSize + kInfoHeaderSize) return std::nullopt;

  const std::uint8_t* h = file.data();
  if (h[0] != 'B' || h[1] != 'M') return std::nullopt;
  const std::uint32_t pixelOffset = GetU32(h + 10);
  const std::uint32_t infoSize = GetU32(h + 14);
  const std::int32_t width = static_cast<std::int32_t>(GetU32(h + 18));
  const std::int32_t rawHeight = static_cast<std::int32_t>(GetU32(h + 22));
  if (infoSize < kInfoHeaderSize || GetU16(h + 26) != 1 || GetU16(h + 28) != 24 ||
      GetU32(h + 30) != 0) {
    return std::nullopt;
  }
  if (width <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<std::int32_t>::min()) {
    return std::nullopt;
  }
  const bool topDown = rawHeight < 0;
  const std::int32_t height = topDown ? -rawHeight : rawHeight;
  if (pixelOffset < kFileHeaderSize + infoSize || pixelOffset > file.size()) return std::nullopt;

  const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * 3;
  const std::uint64_t paddedRowBytes = (rowBytes + 3) & ~std::uint64_t{3};
  const std::uint64_t available = file.size() - pixelOffset;
  const std::uint64_t imageSize = GetU32(h + 34);
  // Our own files say their rows are unpadded through the image size field;
  // anything else is read the way BMP readers expect it, with padded rows.
  std::uint64_t stride = paddedRowBytes;
  if (imageSize == rowBytes * static_cast<std::uint64_t>(height)) stride = rowBytes;
  if (available / stride < static_cast<std::uint64_t>(height)) return std::nullopt;

  BmpImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(rowBytes * static_cast<std::uint64_t>(height));
  for (std::int32_t row = 0; row < height; ++row) {
    const std::int32_t sourceRow = topDown ? height - 1 - row : row;
    std::memcpy(image.pixels.data() + rowBytes * static_cast<std::uint64_t>(row),
                file.data() + pixelOffset + stride * static_cast<std::uint64_t>(sourceRow),
                rowBytes);
  }
  return image;
}

}  // namespace zel
