#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/SegmentInfo.h"

namespace zel {

// Nearest-earlier-sample rate conversion of 16-bit PCM (sourceChannels of
// info). Returns the output bytes: length * rateRatio / 10000.
std::size_t ResamplePcm(const AudioSegmentInfo& info, const std::uint8_t* source,
                        std::size_t length, std::uint8_t* destination);

// Stereo to mono (pairs averaged) or mono to stereo (samples doubled).
// Returns targetChannels * length / sourceChannels.
std::size_t ConvertPcmChannels(const AudioSegmentInfo& info, const std::uint8_t* source,
                               std::size_t length, std::uint8_t* destination);

}  // namespace zel
