#pragma once

// Plays one range of the preview's file: two threads decode ahead of the
// clock, one the pictures (on a FrameSeeker lent by the window's pool,
// converted to the preview's RGB32 layout), one the sound (16-bit PCM on a
// demuxer of its own), each into a small bounded queue. The window's thread
// takes from them: the audio device the PCM, the presentation step the
// pictures that the clock has reached. No thread of it ever waits for
// decoding.
//
// Start, Stop and Present are called from one thread, the window's;
// ReadPcm from the audio device's.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "source/FrameSeeker.h"
#include "source/LibavHandles.h"
#include "source/PcmQueue.h"
#include "source/PlaybackStatus.h"
#include "source/RgbPictures.h"

namespace zel {

// A picture decoded for playback, converted and waiting for its time.
struct QueuedPicture {
  std::int64_t timeHns = 0;
  av::FramePtr rgb;      // RGB32 at the size the preview had when it was converted
  av::FramePtr decoded;  // the decoded picture itself, for stills and a new layout
};

class RangePlayer {
 public:
  struct Range {
    std::string path;
    std::int64_t startHns = 0;
    std::int64_t stopHns = 0;
    // Video: a seeker on the video stream, or null for a file without one.
    std::unique_ptr<FrameSeeker> seeker;
    std::int64_t frameHns = kDefaultFrameHns;
    int width = 0, height = 0;  // RGB32 size; 0 makes no pictures
    // Sound: stream -1 for none.
    int audioStream = -1;
    int sampleRate = 0;
    int channels = 0;
  };

  RangePlayer() = default;
  ~RangePlayer();
  RangePlayer(const RangePlayer&) = delete;
  RangePlayer& operator=(const RangePlayer&) = delete;

  // Starts the decoding threads; false when they cannot start (the seeker
  // is then given back by Stop).
  bool Start(Range range);
  // Stops and joins the threads and empties the queues; gives the seeker
  // back. Returns quickly: decoding stops between two packets.
  std::unique_ptr<FrameSeeker> Stop();
  bool active() const { return active_; }

  struct Step {
    PlaybackStatus status;
    std::unique_ptr<QueuedPicture> picture;  // the picture to show now, if any
  };
  // The presentation step at clockHns (file time): the newest picture whose
  // time has come, the older due ones dropped. Give the shown picture back
  // through Recycle.
  Step Present(std::int64_t clockHns);
  void Recycle(std::unique_ptr<QueuedPicture> picture);

  // Sound of the range: interleaved 16-bit PCM, at most maxBytes of what is
  // decoded, without waiting.
  std::size_t ReadPcm(std::uint8_t* data, std::size_t maxBytes);
  // All sound of the range has been read (or there is none).
  bool pcmDrained() const;

  // The size of the pictures converted from now on.
  void SetPictureSize(int width, int height);
  // The clock at the last presentation step, within the range.
  std::int64_t positionHns() const { return positionHns_.load(); }
  PlaybackCounters counters() const;

 private:
  void DecodePictures();
  void DecodeSound();
  bool Late(std::int64_t timeHns) const;
  bool Queue(std::int64_t timeHns, const AVFrame* picture, RgbPictures& rgb);

  Range range_;
  bool active_ = false;
  bool ended_ = false;
  std::atomic<bool> stop_{false};
  std::thread videoThread_;
  std::thread audioThread_;
  std::unique_ptr<PcmQueue> pcm_;

  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::deque<std::unique_ptr<QueuedPicture>> pictures_;  // guarded by mutex_
  std::vector<std::unique_ptr<QueuedPicture>> spare_;    // guarded by mutex_
  bool videoDone_ = true;                                // guarded by mutex_
  std::uint64_t shown_ = 0;                              // guarded by mutex_
  std::uint64_t dropped_ = 0;                            // guarded by mutex_

  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
  // The clock at the last step; lowest before the clock runs.
  std::atomic<std::int64_t> clockHns_{std::numeric_limits<std::int64_t>::min()};
  std::atomic<std::int64_t> positionHns_{0};
};

}  // namespace zel
