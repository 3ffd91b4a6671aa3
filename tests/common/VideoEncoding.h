#pragma once

// One video encoder over a segment, fed with frames made by the test.

#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "common/TestSupport.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"

namespace zel::test {

// A YV12 frame (planes Y, V, U) of a gradient with a bright box that moves
// right with n; the chroma moves with n too.
inline std::vector<std::uint8_t> MovingFrame(int w, int h, int n) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(w) * h * 3 / 2);
  const int boxX = (4 * n) % std::max(1, w - 32), boxY = h / 3;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inBox = x >= boxX && x < boxX + 32 && y >= boxY && y < boxY + 32;
      f[y * w + x] = static_cast<std::uint8_t>(inBox ? 235 : 16 + (x + 2 * y + 3 * n) % 160);
    }
  std::fill(f.begin() + w * h, f.end(), static_cast<std::uint8_t>(100 + (n & 31)));
  return f;
}

struct EncodingSegment {
  // tweak changes the encoder's context before it opens.
  EncodingSegment(VideoKind kind, int frameRate, int width, int height, VideoSourceFormat source,
                  std::int64_t lengthHns = 100000000, VideoScaling scaling = {},
                  const std::function<void(AVCodecContext*)>& tweak = {}) {
    ConversionParameters p;
    p.videoKind = kind, p.frameRate = frameRate, p.width = width, p.height = height;
    ResetVideoEncoderContext(context, p, audio);
    ok = SetUpVideoSegment(context, source, lengthHns, info, notifier, scaling);
    if (tweak) tweak(context.get());
    ok = ok && grabber.OpenVideoEncoder(context, info, notifier);
  }
  // Delivers frame n at n / fps seconds; returns how many pictures it encoded.
  std::uint32_t Deliver(int n, double fps) {
    const std::uint32_t before = grabber.frameCount();
    const std::vector<std::uint8_t> f = MovingFrame(info.sourceWidth, info.sourceHeight, n);
    grabber.BufferCB(n / fps, f.data(), f.size());
    return grabber.frameCount() - before;
  }

  VideoEncoderContext context;
  AudioParameterBlock audio;
  ConversionState state;
  VideoTrackBuffer store;
  VideoGrabber grabber{store, state};
  RecordingNotifier notifier;
  VideoSegmentInfo info;
  bool ok = false;
};

}  // namespace zel::test
