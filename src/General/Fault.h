#pragma once

#include <string>
#include <utility>

namespace zel {

// What went wrong below the front ends, handed up as a value. The layers
// that find it only return it; the conversion driver and the two front ends
// turn it into the text the user sees (MessageFor in convert/Messages.h) and
// show it.
enum class FaultKind {
  kNone,
  // container
  kFileNotWritten,  // path: the file; error: errno
  // convert: the job's parameters
  kNoOutputKind,
  kUnsupportedFrameSize,
  // convert: the audio path
  kAacEncoderNotOpened,
  kAacConfigurationUnreadable,
  kAacConfigurationRefused,
  kAudioEncoderNotOpen,  // the AMR-NB encoder could not be made
  kTemporaryWavUnreadable,
  kNoPcm,
  // convert: the video path
  kVideoEncoderMissing,
  kVideoFrameSizeUnknown,
  kH263FrameSize,
  kVideoEncoderNotSetUp,
  kVideoScalingMissing,
  kVideoEncoderNotOpened,  // detail: the codec's name and libavcodec's reason
  kVideoEncoderOutOfMemory,
  // source: the AVI input's temporary WMV
  kAviUnsupportedCodec,
  kAviNoAudio,
  kAviNoVideo,
  kAviWriterFailed,
  kAviAudioEncoderFailed,
  kAviVideoEncoderFailed,
};

struct Fault {
  Fault() = default;
  explicit Fault(FaultKind k, std::string p = {}, int e = 0, std::string d = {})
      : kind(k), path(std::move(p)), error(e), detail(std::move(d)) {}

  FaultKind kind = FaultKind::kNone;
  std::string path;    // the file it concerns, when one does
  int error = 0;       // errno, when the system gave one
  std::string detail;  // a library's own words, when it gave some

  explicit operator bool() const { return kind != FaultKind::kNone; }
};

}  // namespace zel
