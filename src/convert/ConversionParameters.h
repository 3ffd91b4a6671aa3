#pragma once

#include <atomic>
#include <cstdint>

#include "container/TrackBuffers.h"

namespace zel {

class Notifier;
struct ConversionSettings;
class VideoEncoderContext;

// The resolved parameters of one conversion.
struct ConversionParameters {
  AudioKind audioKind = AudioKind::None;
  VideoKind videoKind = VideoKind::None;
  int sampleRate = 0;   // Hz; 0: the source's
  int channels = 0;     // 1 or 2; 0: the source's
  int frameRate = 0;    // frames per second; 0: the source's
  int width = 0;        // pixels; both 0: the source's size
  int height = 0;
  ContainerMode containerMode = ContainerMode::Both;
  int thumbWidth = 0;   // 0: the source size (filled in at the first segment)
  int thumbHeight = 0;
  bool reportEnabled = false;
};

// Flags and counters shared by the window, the conversion thread and the
// streaming threads.
struct ConversionState {
  std::atomic<bool> converting{false};
  std::atomic<bool> abortRequested{false};
  std::atomic<int> segmentIndex{0};
  std::atomic<Notifier*> statusWindow{nullptr};  // receives the progress caption
  std::atomic<bool> rgb24Input{false};           // frames arrive as bottom-up RGB24, not YV12
};

// The loaded file and its marks, 100-ns units; 0 <= start <= end <= duration.
struct MarkedRange {
  std::int64_t duration = 0;
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// The process-wide encoder state that SetConversionParameters hands the
// values on to.
struct EncoderBlocks {
  VideoEncoderContext& video;
  AudioParameterBlock& audio;
};

// The frame height of a frame width (128 -> 96, 176 -> 144, 320 -> 240,
// 352 -> 288, 704 -> 576, 1408 -> 1152); 0 for any other width.
int FrameHeightForWidth(int width);

// Checks that a container kind is chosen, resolves the settings into params
// and calls SetConversionParameters. Returns false after showing its message.
bool PrepareConversion(const ConversionSettings& settings, ConversionParameters& params,
                       EncoderBlocks encoders, Notifier& notifier);

// Stores the first eight fields, resets the video encoder context (which also
// clears the audio parameter block), then writes sample rate and channels
// into the audio parameter block.
void SetConversionParameters(ConversionParameters& params, EncoderBlocks encoders,
                             AudioKind audioKind, VideoKind videoKind, int sampleRate,
                             int channels, int frameRate, int width, int height,
                             ContainerMode containerMode);

}  // namespace zel
