#include "convert/SizeLimit.h"

#include <algorithm>

#include "General/MediaTypes.h"
#include "container/ThreeGpWriter.h"

namespace zel {

namespace {

// The share of the room left for pictures that the first rate aims at: the
// encoders' rate control ends a few percent above its target.
constexpr double kAim = 0.93;
// A file below this share of the limit, while the rate is below the upper
// bound, is encoded again at a higher rate.
constexpr double kLeastShare = 0.85;

std::uint64_t BytesAtRate(std::int64_t bitRate, std::int64_t lengthHns) {
  return static_cast<std::uint64_t>((bitRate * lengthHns + 8 * kHnsPerSecond - 1) /
                                    (8 * kHnsPerSecond));
}

// rate * wanted / got, within the bounds.
int ScaledRate(int rate, double wanted, double got, int maxBitRate) {
  const double scaled = got > 0 ? rate * wanted / got : maxBitRate;
  return static_cast<int>(std::clamp<double>(scaled, kMinVideoBitRate, maxBitRate));
}

}  // namespace

int VideoRateForLimit(std::uint64_t limitBytes, std::uint64_t fixedBytes, std::int64_t lengthHns,
                      int maxBitRate) {
  if (fixedBytes >= limitBytes) return 0;
  const std::uint64_t room = limitBytes - fixedBytes;
  if (room < BytesAtRate(kMinVideoBitRate, lengthHns)) return 0;
  if (lengthHns <= 0) return maxBitRate;
  const double seconds = static_cast<double>(lengthHns) / kHnsPerSecond;
  return ScaledRate(1, kAim * static_cast<double>(room) * 8, seconds, maxBitRate);
}

std::uint64_t SmallestFileBytes(std::uint64_t fixedBytes, std::int64_t lengthHns) {
  return fixedBytes + BytesAtRate(kMinVideoBitRate, lengthHns);
}

FitOutcome FitPictures(std::uint64_t limitBytes, std::uint64_t plannedFixedBytes,
                       std::int64_t lengthHns, int maxBitRate, const EncodePictures& encode) {
  int rate = VideoRateForLimit(limitBytes, plannedFixedBytes, lengthHns, maxBitRate);
  if (rate == 0) {
    return {FitOutcome::Kind::TooLarge, 0, SmallestFileBytes(plannedFixedBytes, lengthHns)};
  }
  int fittingRate = 0;  // the last rate whose files fit
  std::uint64_t smallest = UINT64_MAX;
  for (int tries = 1;; ++tries) {
    PictureTry got;
    if (!encode(rate, got)) return {};
    smallest = std::min(smallest, got.fileBytes);
    const std::uint64_t fixed = got.fileBytes - got.pictureBytes;
    const bool fits = got.fileBytes <= limitBytes;
    const bool full = got.fileBytes >= static_cast<std::uint64_t>(kLeastShare * limitBytes);
    const int triesLeft = kMaxPictureTries - tries;
    // A try upwards needs one more behind it, to go back to this rate when
    // it overshoots.
    if (fits && (full || rate >= maxBitRate || triesLeft < 2)) {
      return {FitOutcome::Kind::Fits, rate, 0};
    }
    if (fits) fittingRate = rate;
    const double wanted = limitBytes > fixed ? kAim * static_cast<double>(limitBytes - fixed) : 0;
    int next = ScaledRate(rate, wanted, static_cast<double>(got.pictureBytes), maxBitRate);
    if (fits && next <= rate) return {FitOutcome::Kind::Fits, rate, 0};
    if (!fits && fittingRate != 0) {
      // Between the rate that fit and this one; the last try encodes the
      // fitting rate again, which gives the same files.
      next = triesLeft == 1 ? fittingRate : std::max(next, fittingRate);
    }
    if (triesLeft == 0 || (!fits && next >= rate)) {
      return {FitOutcome::Kind::TooLarge, 0, smallest};
    }
    rate = next;
  }
}

std::uint64_t LargestFileBytes(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                               const std::string& basePath, ContainerMode mode) {
  WriterOptions options;
  options.containerMode = mode;
  std::uint64_t largest = 0;
  if (mode != ContainerMode::ThreeG2Only) {
    largest = ThreeGpFileSize(audio, video, basePath, FileKind::ThreeGp, options);
  }
  if (mode != ContainerMode::ThreeGpOnly) {
    largest =
        std::max(largest, ThreeGpFileSize(audio, video, basePath, FileKind::ThreeG2, options));
  }
  return largest;
}

VideoTrackBuffer PlaceholderPictures(const VideoStreamParameters& stream, VideoKind kind,
                                     int frameCount, int keyInterval) {
  VideoTrackBuffer video;
  video.present = true;
  video.kind = kind;
  video.stream = stream;
  const std::uint8_t picture = 0;
  for (int i = 0; i < frameCount; ++i) {
    video.appendFrame(&picture, 1, keyInterval <= 0 || i % keyInterval == 0);
  }
  return video;
}

}  // namespace zel
