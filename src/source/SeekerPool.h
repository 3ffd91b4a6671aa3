#pragma once

// A few FrameSeekers on one video stream, each left where it stopped. A
// position that one of them holds, or that lies a little ahead of one, is
// reached from there; any other sends the one used longest ago. Looking back
// and forth between two places (the two marks, a frame and the one a second
// later) then decodes only what is new.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "source/FrameSeeker.h"

namespace zel {

class SeekerPool {
 public:
  // Opens the first seeker; the others open when they are first needed.
  bool Open(const std::string& path, int streamIndex);
  void Close();

  // As FrameSeeker::PictureAt. Key pictures keep to one seeker of their
  // own, so a drag leaves the others where they stand.
  const DecodedPicture* PictureAt(std::int64_t positionHns, SeekKind kind = SeekKind::Exact);

  // Lends the seeker best placed for the position to a playback worker,
  // which drives it on its own thread; none is opened for it. Until
  // it comes back the pool must not be used: the seekers share what they
  // learn of the key frames. Null when the pool is closed.
  std::unique_ptr<FrameSeeker> Lend(std::int64_t positionHns);
  void GiveBack(std::unique_ptr<FrameSeeker> seeker);

  PreviewCounters counters() const;

 private:
  struct Head {
    std::unique_ptr<FrameSeeker> seeker;
    std::uint64_t lastUse = 0;
  };
  Head* Choose(std::int64_t positionHns);
  Head* KeyHead();
  std::unique_ptr<FrameSeeker> OpenSeeker();

  std::string path_;
  int streamIndex_ = -1;
  KeyFrameMemory memory_;
  std::vector<Head> heads_;
  const FrameSeeker* keySeeker_ = nullptr;  // the one that finds key pictures
  std::uint64_t uses_ = 0;
  std::uint64_t cachedAnswers_ = 0;
};

}  // namespace zel
