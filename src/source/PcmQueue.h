#pragma once

// The sound of a playing range between its decoding thread and the audio
// device: a ring of bytes. The writer waits for room; the reader, called by
// the device, never waits and takes what is there.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zel {

class PcmQueue {
 public:
  // frameBytes: one sample frame (all channels); reads return whole frames.
  PcmQueue(std::size_t capacityBytes, std::size_t frameBytes);

  // Waits for room while the queue is open. False once it is closed.
  bool Write(const std::uint8_t* data, std::size_t bytes);
  // Nothing more will be written; the reader drains what is left.
  void Finish();
  // Playback stops: writers wake and fail, readers get nothing more.
  void Close();

  // Up to maxBytes (rounded down to whole frames), at once.
  std::size_t Read(std::uint8_t* data, std::size_t maxBytes);

  std::size_t available() const;
  std::size_t capacity() const { return ring_.size(); }
  // Finished and emptied: the reader has had everything.
  bool drained() const;
  bool finished() const;
  std::uint64_t bytesRead() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::vector<std::uint8_t> ring_;
  std::size_t frameBytes_;
  std::size_t head_ = 0;  // next byte to read
  std::size_t size_ = 0;
  bool finished_ = false;
  bool closed_ = false;
  std::uint64_t bytesRead_ = 0;
};

}  // namespace zel
