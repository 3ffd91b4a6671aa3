#include "container/TrackBuffers.h"

#include <algorithm>
#include <cstring>

namespace zel {

std::uint8_t* SampleStore::prepareAppend(std::size_t maxBytes) {
  if (data_.size() < total_ + maxBytes) {
    // Grow geometrically so that a long segment costs amortised O(1) per sample.
    std::size_t want = std::max(total_ + maxBytes, data_.size() + data_.size() / 2);
    data_.resize(want);
  }
  return data_.data() + total_;
}

std::uint32_t SampleStore::commitSample(std::size_t n) {
  if (n == 0) return 0;
  total_ += n;
  sizes_.push_back(static_cast<std::uint32_t>(n));
  return sampleCount();
}

std::uint32_t SampleStore::appendSample(const std::uint8_t* bytes, std::size_t n) {
  if (n == 0) return 0;
  std::memcpy(prepareAppend(n), bytes, n);
  return commitSample(n);
}

void SampleStore::clear() {
  // The room stays for the next segment: freeing and mapping it again for
  // every segment of a split job costs more than the encoding of a short one.
  total_ = 0;
  sizes_.clear();
}

void VideoTrackBuffer::appendFrame(const std::uint8_t* bytes, std::size_t n, bool keyFrame) {
  std::uint32_t number = samples.appendSample(bytes, n);
  if (number != 0 && keyFrame) syncSamples.push_back(number);
}

}  // namespace zel
