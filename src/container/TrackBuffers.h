#pragma once

// The in-memory stores of one segment's encoded samples, filled by the
// encoding paths and read by the container writer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "General/MediaTypes.h"

namespace zel {

// The audio parameter block: filled at segment set-up, read by the audio path
// and the container writer. Cleared together with the video encoder context.
struct AudioParameterBlock {
  int bitRate = 0;     // bit/s; AAC: per channel as given to FAAC; AMR: 48000
  int sampleRate = 0;  // Hz
  int channels = 0;
  int frameLength = 0;                      // samples per channel per frame: 1024 AAC, 160 AMR-NB
  std::vector<std::uint8_t> decoderConfig;  // AAC AudioSpecificConfig

  void clear() { *this = AudioParameterBlock{}; }
};

// What the container writer reads of the video encoder context.
struct VideoStreamParameters {
  std::string encoderName;  // "mpeg4" or "h263"
  int bitRate = 0;          // bit/s
  int frameRate = 0;        // whole frames per second
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> decoderConfig;  // the encoder's global header (extradata)
  // The exact rate when it is no whole number (30000/1001), else both 0.
  int frameRateNum = 0, frameRateDen = 0;
};

// An allocator whose resize leaves new bytes uninitialised: the encoders
// write every byte that a sample keeps, so zeroing the room first would only
// cost time (and touch every page of a large reservation).
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
  template <typename U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Samples stored back to back with a size table. Grows as needed; no fixed
// capacity.
class SampleStore {
 public:
  // Room for one sample of at most maxBytes at the end of the data; the
  // producer writes into it and then calls commitSample with what it wrote.
  std::uint8_t* prepareAppend(std::size_t maxBytes);
  // Records the sample prepared last (n may be 0: nothing is recorded).
  // Returns the 1-based number of the new sample, or 0 when n is 0.
  std::uint32_t commitSample(std::size_t n);
  // prepareAppend + copy + commitSample.
  std::uint32_t appendSample(const std::uint8_t* bytes, std::size_t n);
  // Forgets the samples; the room stays for the next ones.
  void clear();

  std::uint32_t sampleCount() const { return static_cast<std::uint32_t>(sizes_.size()); }
  // 64-bit: the writer must see a store that has outgrown 32-bit offsets.
  std::uint64_t totalBytes() const { return total_; }
  const std::vector<std::uint32_t>& sampleSizes() const { return sizes_; }
  const std::uint8_t* data() const { return data_.data(); }

 private:
  // size() may exceed total_ while a sample is prepared
  std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> data_;
  std::size_t total_ = 0;
  std::vector<std::uint32_t> sizes_;
};

struct AudioTrackBuffer {
  bool present = false;
  AudioKind kind = AudioKind::None;
  const AudioParameterBlock* params = nullptr;
  SampleStore samples;
};

struct VideoTrackBuffer {
  bool present = false;
  VideoKind kind = VideoKind::None;  // the writer treats every value but H263 as MPEG-4 Visual
  VideoStreamParameters stream;
  SampleStore samples;
  std::vector<std::uint32_t> syncSamples;  // 1-based numbers of the key frames, ascending

  // Appends one coded picture; key frames join the sync list.
  void appendFrame(const std::uint8_t* bytes, std::size_t n, bool keyFrame);
};

}  // namespace zel
