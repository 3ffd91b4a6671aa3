#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel {

// Bilinear scaling of packed 8-bit pixels of `channels` bytes each, rows
// without padding. Pixel centres are mapped onto each other and samples
// beyond the border repeat the edge pixel; there is no prefilter, so a strong
// reduction samples rather than averages, like the default interpolation of
// common 2-D drawing libraries. Row order does not matter (the mapping is
// symmetric), so bottom-up images stay bottom-up.
//
// Returns destinationWidth * destinationHeight * channels bytes, or nothing
// when a size is not positive or above 2^20, or when the source holds fewer than
// sourceWidth * sourceHeight * channels bytes. Equal sizes copy the source.
std::vector<std::uint8_t> ScaleBilinear(const std::uint8_t* source, std::size_t length,
                                        int sourceWidth, int sourceHeight, int destinationWidth,
                                        int destinationHeight, int channels);

}  // namespace zel
