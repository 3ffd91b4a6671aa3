#pragma once

// Decoded pictures in the RGB layouts the window uses: 32-bit words
// 0xffRRGGBB at any size for painting, 24-bit bottom-up rows at the
// picture's own size for still images.

#include <cstdint>
#include <vector>

#include "source/LibavHandles.h"

namespace zel {

class RgbPictures {
 public:
  // picture scaled to width x height as native-endian 0xffRRGGBB words (what
  // QImage::Format_RGB32 reads); null when it cannot be converted. Valid
  // until the next call.
  const AVFrame* ToRgb32(const AVFrame* picture, int width, int height);

  // As ToRgb32, into target, which is allocated anew only when its size
  // differs, so that a caller can keep several converted pictures.
  bool ToRgb32Into(const AVFrame* picture, int width, int height, av::FramePtr& target);

  // picture at its own size as rows of width * 3 bytes in B, G, R order, the
  // bottom row first, the way a 24-bit BMP stores them.
  bool ToBgr24BottomUp(const AVFrame* picture, std::vector<std::uint8_t>& out);

 private:
  const AVFrame* Convert(const AVFrame* picture, AVPixelFormat format, int width, int height,
                         av::SwsPtr& sws, av::FramePtr& target);

  av::SwsPtr rgb32Sws_;
  av::FramePtr rgb32_;
  av::SwsPtr bgr24Sws_;
  av::FramePtr bgr24_;
};

}  // namespace zel
