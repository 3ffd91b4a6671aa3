#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "General/Fault.h"
#include "container/TrackBuffers.h"

namespace zel {

struct ConversionSettings;
class VideoEncoderContext;

// The resolved parameters of one conversion.
struct ConversionParameters {
  AudioKind audioKind = AudioKind::None;
  VideoKind videoKind = VideoKind::None;
  int sampleRate = 0;  // Hz; 0: the source's
  int channels = 0;    // 1 or 2; 0: the source's
  int frameRate = 0;   // frames per second; 0: the source's
  int width = 0;       // pixels; both 0: the source's size
  int height = 0;
  ContainerMode containerMode = ContainerMode::Both;
  int thumbWidth = 0;  // 0: the source size (filled in at the first segment)
  int thumbHeight = 0;
  bool reportEnabled = false;
  // Beyond the described converter (off by default): keep the picture's
  // aspect ratio with black bars; scale by averaging source pixels.
  bool keepAspect = false;
  bool smoothScale = false;
  // No file of the job beyond this many bytes (maxsize); 0: no limit.
  std::uint64_t maxSizeBytes = 0;
  bool normalize = false;  // one gain for the whole range's sound, to -16 LUFS
};

// The progress caption's receiver ("file:%06d audio 変換中", ...).
using CaptionSink = std::function<void(std::string_view)>;

// Flags and counters shared by the window, the conversion thread and the
// streaming threads.
struct ConversionState {
  std::atomic<bool> converting{false};
  std::atomic<bool> abortRequested{false};
  std::atomic<int> segmentIndex{0};
  // Receives the progress caption; the driver points it at the front end's
  // caption, so that the paths below set a text and never meet the notifier.
  std::atomic<const CaptionSink*> statusWindow{nullptr};
  // The picture rate the size limit chose for the pictures being encoded,
  // shown in the caption; 0 without a limit.
  std::atomic<int> limitedBitRate{0};
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

// The frame sizes the encoders are given: the settings' sizes and the
// H.263 picture formats.
struct FrameSize {
  int width;
  int height;
  bool h263;  // a picture format of H.263 (sub-QCIF, QCIF, CIF, 4CIF, 16CIF)
};
inline constexpr FrameSize kFrameSizes[] = {
    {128, 96, true},  {176, 144, true}, {320, 240, false},
    {352, 288, true}, {704, 576, true}, {1408, 1152, true},
};

// The frame height of a frame width (128 -> 96, 176 -> 144, 320 -> 240,
// 352 -> 288, 704 -> 576, 1408 -> 1152); 0 for any other width.
int FrameHeightForWidth(int width);
// Whether H.263 can code pictures of this size.
bool IsH263FrameSize(int width, int height);

// Checks that a container kind is chosen, resolves the settings into params
// and calls SetConversionParameters. Returns what refuses the job
// (kNoOutputKind, kUnsupportedFrameSize), or no fault.
Fault PrepareConversion(const ConversionSettings& settings, ConversionParameters& params,
                        EncoderBlocks encoders);

// Stores the first eight fields, resets the video encoder context (which also
// clears the audio parameter block), then writes sample rate and channels
// into the audio parameter block.
void SetConversionParameters(ConversionParameters& params, EncoderBlocks encoders,
                             AudioKind audioKind, VideoKind videoKind, int sampleRate, int channels,
                             int frameRate, int width, int height, ContainerMode containerMode);

}  // namespace zel
