#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zel {

// Byte order of the pixels handed to SaveJpeg.
enum class JpegPixelOrder : int {
  kBgr = 0,  // B, G, R: a 24-bit BMP's pixel bytes
  kRgb = 1,
};

enum class JpegSubsampling : int {
  k444 = 0,  // full-resolution chroma
  k420 = 1,
};

struct JpegSaveOptions {
  int quality = 100;
  JpegPixelOrder order = JpegPixelOrder::kBgr;
  bool bottomUp = true;  // first row in memory is the bottom row of the picture
  // Thumbnails are small, where halved chroma smears coloured edges visibly;
  // at quality 100 full chroma costs little.
  JpegSubsampling subsampling = JpegSubsampling::k444;
};

// Encodes width x height 24-bit pixels (rows of width * 3 bytes, no padding)
// and writes them to path. False when the size is invalid, length is short,
// encoding fails or the file cannot be written; a partly written file is
// removed.
bool SaveJpeg(const std::string& path, const std::uint8_t* pixels, std::size_t length, int width,
              int height, const JpegSaveOptions& options = {});

}  // namespace zel
