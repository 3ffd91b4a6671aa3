#pragma once

// What the preview hands to the window: plain values, no libav, no Qt.

#include <cstdint>

namespace zel {

// One picture of the preview as 32-bit words 0xffRRGGBB in native byte order,
// the layout QImage::Format_RGB32 paints. The pixels belong to the source and
// stay valid only during the ShowPreviewFrame call.
struct PreviewFrame {
  const std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int bytesPerLine = 0;      // a multiple of 4, at least width * 4
  std::int64_t timeHns = 0;  // the picture's own time in the file, 100-ns units
};

// What a caller wants of a picture at a position.
enum class SeekKind {
  // The picture whose time span holds the position, decoded from the key
  // frame before it: what a click, a step or the end of a drag shows.
  Exact,
  // At once rather than exact, for a bar being dragged: a picture decoded
  // already that holds the position, else the nearest key frame known (the
  // one at or before the position when no other is known), which costs one
  // seek and one picture whatever the key-frame interval.
  NearestKeyFrame,
};

// The window's preview surface.
class PreviewSink {
 public:
  virtual ~PreviewSink() = default;
  virtual void ShowPreviewFrame(const PreviewFrame& frame) = 0;
};

// How the preview found its pictures, for tests and diagnostics.
struct PreviewCounters {
  std::uint64_t seeks = 0;          // times the demuxer was repositioned
  std::uint64_t decodedFrames = 0;  // pictures that came out of the decoder
  std::uint64_t cachedAnswers = 0;  // positions answered from pictures already decoded
  std::uint64_t requests = 0;       // pictures asked for (ShowFrameAt)
};

}  // namespace zel
