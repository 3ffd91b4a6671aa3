#include "source/PcmQueue.h"

#include <algorithm>
#include <cstring>

namespace zel {

PcmQueue::PcmQueue(std::size_t capacityBytes, std::size_t frameBytes)
    : ring_(std::max(capacityBytes - capacityBytes % std::max<std::size_t>(frameBytes, 1),
                     std::max<std::size_t>(frameBytes, 1))),
      frameBytes_(std::max<std::size_t>(frameBytes, 1)) {}

bool PcmQueue::Write(const std::uint8_t* data, std::size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (bytes > 0) {
    room_.wait(lock, [this] { return closed_ || size_ < ring_.size(); });
    if (closed_) {
      return false;
    }
    const std::size_t tail = (head_ + size_) % ring_.size();
    const std::size_t chunk = std::min({bytes, ring_.size() - size_, ring_.size() - tail});
    std::memcpy(ring_.data() + tail, data, chunk);
    size_ += chunk;
    data += chunk;
    bytes -= chunk;
  }
  return true;
}

void PcmQueue::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
}

void PcmQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    size_ = 0;
  }
  room_.notify_all();
}

std::size_t PcmQueue::Read(std::uint8_t* data, std::size_t maxBytes) {
  std::size_t done = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t wanted = std::min(maxBytes, size_);
    wanted -= wanted % frameBytes_;
    while (done < wanted) {
      const std::size_t chunk = std::min(wanted - done, ring_.size() - head_);
      std::memcpy(data + done, ring_.data() + head_, chunk);
      head_ = (head_ + chunk) % ring_.size();
      size_ -= chunk;
      done += chunk;
    }
    bytesRead_ += done;
  }
  if (done > 0) room_.notify_all();
  return done;
}

std::size_t PcmQueue::available() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return size_;
}

bool PcmQueue::drained() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return (finished_ || closed_) && size_ == 0;
}

bool PcmQueue::finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

std::uint64_t PcmQueue::bytesRead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytesRead_;
}

}  // namespace zel
