#pragma once

// Hands decoded pictures from the thread that decodes them to the thread
// that converts and encodes them, by reference: no picture is copied. The
// queue holds at most a few pictures and the decoder waits while it is
// full, so memory stays bounded.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "source/LibavHandles.h"

namespace zel {

class FrameQueue {
 public:
  struct Picture {
    std::int64_t timeHns = 0;  // from the segment's start
    av::FramePtr frame;
  };

  // capacity: pictures waiting at most (at least one).
  explicit FrameQueue(std::size_t capacity);

  // Takes a reference to the picture, waiting while the queue is full. False
  // once the queue is closed (or when no reference could be taken, which
  // closes it with that error).
  bool Push(const AVFrame* frame, std::int64_t timeHns);
  // No more pictures come: Pop returns the waiting ones, then false.
  void Finish();
  // Ends the hand-over at once: the waiting pictures are let go, both sides
  // get false from now on. failure (a libav error, 0: none) says why the
  // pictures could not go on; the first one given stays.
  void Close(int failure = 0);
  int failure() const;

  // Waits for the next picture and moves it into `picture` (letting go of
  // the one it held). False at the end or once closed.
  bool Pop(Picture& picture);

  // Empties the queue for another segment.
  void Reset();
  // Pictures waiting at most from now on (at least one).
  void SetCapacity(std::size_t capacity);

 private:
  void Drop(av::FramePtr frame);  // mutex_ held

  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Picture> waiting_;     // guarded by mutex_
  std::vector<av::FramePtr> free_;  // guarded by mutex_: frames without a picture
  bool finished_ = false;           // guarded by mutex_
  bool closed_ = false;             // guarded by mutex_
  int failure_ = 0;                 // guarded by mutex_
};

}  // namespace zel
