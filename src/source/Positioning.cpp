#include "source/Positioning.h"

#include <algorithm>
#include <vector>

namespace zel {

namespace {

constexpr std::int64_t kSilenceFrames = 4096;

}  // namespace

SoundTimeline::SoundTimeline(std::int64_t firstSample, std::int64_t endSample,
                             std::size_t frameBytes,
                             std::function<bool(const std::uint8_t*, std::size_t)> write,
                             std::function<bool()> shouldStop)
    : written_(firstSample),
      endSample_(endSample),
      frameBytes_(frameBytes),
      write_(std::move(write)),
      shouldStop_(std::move(shouldStop)) {}

void SoundTimeline::FillTo(std::int64_t to) {
  static const std::vector<std::uint8_t> silence(kSilenceFrames * 8 * 2, 0);  // 8 channels
  std::int64_t samples = std::min(to, endSample_) - written_;
  const std::int64_t chunkFrames = std::min<std::int64_t>(
      kSilenceFrames, static_cast<std::int64_t>(silence.size() / frameBytes_));
  // A long gap is many chunks: a stop is heard between them.
  while (samples > 0 && !failed_ && !(shouldStop_ && shouldStop_())) {
    const std::int64_t chunk = std::min(samples, chunkFrames);
    failed_ = !write_(silence.data(), static_cast<std::size_t>(chunk) * frameBytes_);
    samples -= chunk;
    written_ += chunk;
  }
}

void SoundTimeline::Place(const std::uint8_t* data, std::int64_t position, std::int64_t samples) {
  // A stream that starts late, or a gap in it, becomes silence.
  if (position > written_) FillTo(position);
  const std::int64_t from = std::max(position, written_);
  const std::int64_t to = std::min(position + samples, endSample_);
  if (to > from && !failed_) {
    failed_ = !write_(data + static_cast<std::size_t>(from - position) * frameBytes_,
                      static_cast<std::size_t>(to - from) * frameBytes_);
    written_ = to;
  }
}

}  // namespace zel
