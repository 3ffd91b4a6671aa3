#pragma once

// Phones record a portrait picture as a landscape one and say in the stream
// (a display matrix) how far to turn it for showing. The source turns each
// picture once, as it leaves the decoder, so everything after it (preview,
// playback, conversion, thumbnails, stills) sees it upright.

#include "source/LibavHandles.h"

namespace zel {

// How far the stream's pictures are turned clockwise to stand upright: 0,
// 90, 180 or 270 degrees. A matrix that turns by another angle (or mirrors
// only) counts as 0.
int DisplayRotation(const AVStream* stream);

// Whether a turn by degrees swaps a picture's width and height.
inline bool TurnsSideways(int degrees) { return degrees == 90 || degrees == 270; }

class PictureRotator {
 public:
  explicit PictureRotator(int degrees = 0) : degrees_(degrees) {}
  int degrees() const { return degrees_; }

  // frame turned clockwise by degrees() into a new frame (width and height
  // swapped for 90 and 270, the pixels' shape too); null when that fails.
  // Planes whose pixels cannot be moved as whole units (4:2:2 chroma on its
  // side, palettes, bit-packed pixels) are first converted to 4:4:4.
  av::FramePtr Rotate(const AVFrame* frame);

 private:
  int degrees_;
  av::SwsPtr sws_;
  av::FramePtr spread_;  // the picture in 4:4:4 when it needed converting
};

}  // namespace zel
