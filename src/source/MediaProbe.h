#pragma once

// What an opened input holds: the streams the source decodes and the facts
// that the window and the conversion show and use.

#include <algorithm>
#include <cstdint>

#include "General/MediaTypes.h"
#include "source/LibavHandles.h"
#include "source/MediaSource.h"

namespace zel {

struct ProbedStreams {
  int audioStream = -1;  // -1: none (or not wanted)
  int videoStream = -1;
};

// Chooses the first decodable audio and video streams of input and fills
// info (replacing what it held): presence, formats and the duration, measured
// by reading the file through when it declares none.
ProbedStreams ProbeMedia(AVFormatContext* input, bool wantAudio, bool wantVideo, MediaInfo& info);

// How far the content may end from a length that a file declares before the
// length is measured instead; so also how far a stream's data may end before
// the planned length without the file counting as cut.
inline std::int64_t LengthToleranceHns(std::int64_t lengthHns) {
  return std::max<std::int64_t>(2 * kHnsPerSecond, lengthHns / 20);
}

}  // namespace zel
