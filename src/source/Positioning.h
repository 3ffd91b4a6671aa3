#pragma once

// From a position in a file to what is on show and heard there, the one way
// the preview, its playback and the conversion all take: a FrameSeeker finds
// the picture on show at a time (seek, decode forward to it, hand it over)
// and reads on picture by picture; a SoundTimeline places decoded sound on
// the file's timeline and fills the gaps with silence.

#include <cstdint>
#include <functional>

#include "source/FrameSeeker.h"

namespace zel {

// Hands onPicture the picture on show at startHns (it may begin before it,
// or after it when the stream starts later), then every one after it that
// begins before stopHns, in order, while onPicture returns true. The
// seeker's stop flag ends it early.
template <typename OnPicture>
void WalkPictures(FrameSeeker& seeker, std::int64_t startHns, std::int64_t stopHns,
                  OnPicture&& onPicture) {
  const DecodedPicture* picture = seeker.PictureAt(startHns);
  while (picture != nullptr) {
    const std::int64_t timeHns = picture->timeHns;
    if (!onPicture(*picture)) return;
    picture = seeker.PictureAfter(timeHns);
    if (picture != nullptr && picture->timeHns >= stopHns) return;
  }
}

// The sound of [firstSample, endSample) (sample positions from the start of
// the file, at the output rate) as it is written out: decoded blocks where
// they lie, silence where none lies.
class SoundTimeline {
 public:
  // write takes whole sample frames of frameBytes; false ends the writing.
  // shouldStop (may be empty) is heard between chunks of a long silence.
  SoundTimeline(std::int64_t firstSample, std::int64_t endSample, std::size_t frameBytes,
                std::function<bool(const std::uint8_t*, std::size_t)> write,
                std::function<bool()> shouldStop = {});

  // Writes the part of `samples` samples at `position` that lies within the
  // range and after what was written, silence first for a gap before it.
  void Place(const std::uint8_t* data, std::int64_t position, std::int64_t samples);
  // Silence from what was written up to sample `to` (at most the end).
  void FillTo(std::int64_t to);

  std::int64_t written() const { return written_; }  // the next sample position written
  bool full() const { return written_ >= endSample_; }
  bool failed() const { return failed_; }
  // No more is taken: the range is full or writing failed.
  bool done() const { return failed_ || full(); }

 private:
  std::int64_t written_;
  std::int64_t endSample_;
  std::size_t frameBytes_;
  std::function<bool(const std::uint8_t*, std::size_t)> write_;
  std::function<bool()> shouldStop_;
  bool failed_ = false;
};

}  // namespace zel
