#include "source/FrameQueue.h"

#include <algorithm>

namespace zel {

FrameQueue::FrameQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void FrameQueue::Drop(av::FramePtr frame) {
  if (!frame) return;
  av_frame_unref(frame.get());
  free_.push_back(std::move(frame));
}

bool FrameQueue::Push(const AVFrame* frame, std::int64_t timeHns) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return closed_ || waiting_.size() < capacity_; });
  if (closed_) return false;
  av::FramePtr held;
  if (!free_.empty()) {
    held = std::move(free_.back());
    free_.pop_back();
  } else {
    held = av::MakeFrame();
  }
  const int error = held ? av_frame_ref(held.get(), frame) : AVERROR(ENOMEM);
  if (error < 0) {
    Drop(std::move(held));
    lock.unlock();
    Close(error);
    return false;
  }
  waiting_.push_back(Picture{timeHns, std::move(held)});
  lock.unlock();
  changed_.notify_all();
  return true;
}

void FrameQueue::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

void FrameQueue::Close(int failure) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    if (failure_ == 0) failure_ = failure;
    for (Picture& picture : waiting_) Drop(std::move(picture.frame));
    waiting_.clear();
  }
  changed_.notify_all();
}

int FrameQueue::failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

bool FrameQueue::Pop(Picture& picture) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    Drop(std::move(picture.frame));
    changed_.wait(lock, [this] { return closed_ || finished_ || !waiting_.empty(); });
    if (closed_ || waiting_.empty()) return false;
    picture = std::move(waiting_.front());
    waiting_.pop_front();
  }
  changed_.notify_all();
  return true;
}

void FrameQueue::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Picture& picture : waiting_) Drop(std::move(picture.frame));
  waiting_.clear();
  finished_ = false;
  closed_ = false;
  failure_ = 0;
}

void FrameQueue::SetCapacity(std::size_t capacity) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    capacity_ = std::max<std::size_t>(capacity, 1);
  }
  changed_.notify_all();
}

}  // namespace zel
