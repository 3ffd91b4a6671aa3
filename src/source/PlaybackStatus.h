#pragma once

// What playing a range tells the window: plain values, no libav, no Qt.

#include <cstdint>

namespace zel {

// The answer of one presentation step (MediaSource::PresentPlayback).
struct PlaybackStatus {
  bool playing = false;  // a range plays: started, neither stopped nor ended
  // Decoding is ahead of the clock: a picture waits (or none is to come)
  // and some sound is decoded (or all of it). The clock may start.
  bool ready = false;
  // The clock has reached the end of the range and every picture of it has
  // been shown or dropped. Comes once; playing is false from then on.
  bool ended = false;
  // File time of the next picture waiting to be shown; -1 when none waits.
  std::int64_t nextPictureHns = -1;
};

struct PlaybackCounters {
  std::uint64_t shown = 0;     // pictures handed to the sink
  std::uint64_t dropped = 0;   // pictures whose time passed before they could be shown
  std::uint64_t pcmBytes = 0;  // sound taken by the audio device
};

}  // namespace zel
