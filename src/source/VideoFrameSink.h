#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// Receives the decoded frames of a segment on the source's video thread.
class VideoFrameSink {
 public:
  virtual ~VideoFrameSink() = default;
  // sampleTime: seconds from the segment's start. buffer: one packed frame,
  // YV12 (planes Y, V, U) at the source size, or bottom-up RGB24 when the
  // source says so.
  virtual void BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) = 0;
};

}  // namespace zel
