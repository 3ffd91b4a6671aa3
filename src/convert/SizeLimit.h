#pragma once

// The size limit per file (maxsize): the picture bit rate that makes a
// segment's files fit, tried and corrected against the sizes the container
// writer tells without writing.

#include <cstdint>
#include <functional>
#include <string>

#include "container/TrackBuffers.h"

namespace zel {

// The lowest picture rate a limit may choose; a limit that leaves less room
// than this rate fills cannot be met.
inline constexpr int kMinVideoBitRate = 8000;
// At most this many encodings of a segment's pictures.
inline constexpr int kMaxPictureTries = 3;

// The picture rate of a segment of lengthHns whose files hold fixedBytes
// besides their pictures (the container, the sound): the rate whose pictures
// fill a little less than the room the limit leaves (the rate control
// overshoots a little), at most maxBitRate; 0 when even kMinVideoBitRate
// does not fit.
int VideoRateForLimit(std::uint64_t limitBytes, std::uint64_t fixedBytes, std::int64_t lengthHns,
                      int maxBitRate);

// The size of the segment's files at kMinVideoBitRate.
std::uint64_t SmallestFileBytes(std::uint64_t fixedBytes, std::int64_t lengthHns);

// What one encoding of the pictures gave: the largest of the segment's files,
// and how much of it is pictures.
struct PictureTry {
  std::uint64_t fileBytes = 0;
  std::uint64_t pictureBytes = 0;
};
// Encodes the segment's pictures at a rate; false when that failed (or was
// aborted) and the segment ends.
using EncodePictures = std::function<bool(int bitRate, PictureTry& result)>;

struct FitOutcome {
  enum class Kind { Fits, TooLarge, Failed } kind = Kind::Failed;
  int bitRate = 0;                  // the rate of the pictures kept (Fits)
  std::uint64_t smallestBytes = 0;  // TooLarge: the smallest size the files could reach
};

// Encodes the pictures at the planned rate and again at a rate scaled by how
// far the files missed the limit: when they are over it, or below 85 % of it
// while the rate is under maxBitRate; at most kMaxPictureTries encodings, the
// last one that fits is kept (the encoder holds the last encoding, so a
// better earlier one is encoded again within the tries). plannedFixedBytes
// is the files' size without pictures as planned before encoding.
FitOutcome FitPictures(std::uint64_t limitBytes, std::uint64_t plannedFixedBytes,
                       std::int64_t lengthHns, int maxBitRate, const EncodePictures& encode);

// The largest file that the container mode writes from the stores (the 3GP
// file carries boxes that the 3G2 file has not).
std::uint64_t LargestFileBytes(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                               const std::string& basePath, ContainerMode mode);

// A store of frameCount one-byte pictures with a key frame every
// keyInterval: the container's share of a picture track before it is encoded.
VideoTrackBuffer PlaceholderPictures(const VideoStreamParameters& stream, VideoKind kind,
                                     int frameCount, int keyInterval);

}  // namespace zel
