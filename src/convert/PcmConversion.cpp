#include "convert/PcmConversion.h"

#include <algorithm>
#include <cstring>

namespace zel {

namespace {

std::int16_t LoadSample(const std::uint8_t* p) {
  // Little-endian 16-bit, as the WAV file holds it; memcpy keeps odd offsets legal.
  std::uint16_t v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  return static_cast<std::int16_t>(v);
}

void StoreSample(std::uint8_t* p, std::int16_t s) {
  std::uint16_t v = static_cast<std::uint16_t>(s);
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

std::size_t ResamplePcm(const AudioSegmentInfo& info, const std::uint8_t* source,
                        std::size_t length, std::uint8_t* destination) {
  if (info.rateRatio <= 0 || info.sourceChannels <= 0) return 0;
  const std::uint64_t outBytes =
      static_cast<std::uint64_t>(length) * static_cast<std::uint64_t>(info.rateRatio) / 10000;
  const std::uint64_t frameBytes = 2 * static_cast<std::uint64_t>(info.sourceChannels);
  const std::uint64_t outFrames = outBytes / frameBytes;
  const std::uint64_t inFrames = length / frameBytes;
  std::uint64_t i = 0;
  for (; i < outFrames; ++i) {
    const std::uint64_t in = 10000 * i / static_cast<std::uint64_t>(info.rateRatio);
    // Upsampling a length that is not a whole number of frames can point one
    // frame past the input; that frame is never read.
    if (in >= inFrames) break;
    std::memcpy(destination + i * frameBytes, source + in * frameBytes, frameBytes);
  }
  // Whatever the loop did not fill (the clamped tail, a partial last frame)
  // is silence rather than stale memory.
  std::memset(destination + i * frameBytes, 0, outBytes - i * frameBytes);
  return static_cast<std::size_t>(outBytes);
}

std::size_t ConvertPcmChannels(const AudioSegmentInfo& info, const std::uint8_t* source,
                               std::size_t length, std::uint8_t* destination) {
  const int from = info.sourceChannels;
  const int to = info.targetChannels;
  if (from <= 0 || to <= 0) return 0;
  const std::uint64_t outBytes = static_cast<std::uint64_t>(to) * length / from;
  std::uint64_t written = 0;
  if (from == to) {
    std::memcpy(destination, source, length);
    written = length;
  } else if (from == 2 && to == 1) {
    const std::size_t pairs = length / 4;
    for (std::size_t k = 0; k < pairs; ++k) {
      // int division truncates toward zero, as the averaging is defined.
      const int sum = LoadSample(source + 4 * k) + LoadSample(source + 4 * k + 2);
      StoreSample(destination + 2 * k, static_cast<std::int16_t>(sum / 2));
    }
    written = 2 * static_cast<std::uint64_t>(pairs);
  } else if (from == 1 && to == 2) {
    const std::size_t samples = length / 2;
    for (std::size_t k = 0; k < samples; ++k) {
      std::memcpy(destination + 4 * k, source + 2 * k, 2);
      std::memcpy(destination + 4 * k + 2, source + 2 * k, 2);
    }
    written = 4 * static_cast<std::uint64_t>(samples);
  } else {
    // Only mono and stereo exist here: the decoding layer downmixes the rest.
    return 0;
  }
  std::memset(destination + written, 0, outBytes - std::min(outBytes, written));
  return static_cast<std::size_t>(outBytes);
}

}  // namespace zel
