#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/SegmentInfo.h"

namespace zel {

// Nearest-neighbour scaling of a packed YV12 frame from the source to the
// target size of info. Returns targetWidth * targetHeight * 3 / 2.
std::size_t ScaleYV12(const VideoSegmentInfo& info, const std::uint8_t* source, std::size_t length,
                      std::uint8_t* destination);

// Packed YV12 at the source size to bottom-up 24-bit pixels (a BMP's rows).
// Returns sourceWidth * sourceHeight * 3.
std::size_t YV12ToRgb24(const VideoSegmentInfo& info, const std::uint8_t* source,
                        std::size_t length, std::uint8_t* destination);

}  // namespace zel
