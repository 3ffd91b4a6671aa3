#pragma once

namespace zel {

// Where the picture goes in a target frame.
struct PictureArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PictureArea&) const = default;
};

// The whole targetWidth x targetHeight frame, or, with keepAspect, the
// largest rectangle with the picture's display aspect ratio (its sample
// aspect ratio sampleAspectNum:sampleAspectDen included; 0 means square
// pixels) centred in it, the rest left to black bars. The target's pixels
// count as square. Every size and offset is even, so the chroma planes of a
// 4:2:0 frame stay aligned with the luma plane; an area never gets smaller
// than 2 x 2.
PictureArea FitPicture(int sourceWidth, int sourceHeight, int sampleAspectNum,
                       int sampleAspectDen, int targetWidth, int targetHeight, bool keepAspect);

}  // namespace zel
