#include "convert/PictureFit.h"

#include <algorithm>
#include <cstdint>

namespace zel {

namespace {

// The even number nearest to numerator / denominator (halves go up).
int NearestEven(std::int64_t numerator, std::int64_t denominator) {
  return static_cast<int>(2 * ((numerator + denominator) / (2 * denominator)));
}

}  // namespace

PictureArea FitPicture(int sourceWidth, int sourceHeight, int sampleAspectNum,
                       int sampleAspectDen, int targetWidth, int targetHeight, bool keepAspect) {
  PictureArea whole{0, 0, targetWidth, targetHeight};
  if (!keepAspect || sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 ||
      targetHeight <= 0) {
    return whole;
  }
  if (sampleAspectNum <= 0 || sampleAspectDen <= 0) sampleAspectNum = sampleAspectDen = 1;
  // The picture's display aspect is aspectW : aspectH.
  const std::int64_t aspectW = std::int64_t{sourceWidth} * sampleAspectNum;
  const std::int64_t aspectH = std::int64_t{sourceHeight} * sampleAspectDen;
  PictureArea area = whole;
  if (aspectW * targetHeight >= aspectH * targetWidth) {
    // wider than the frame: full width, bars above and below
    area.height = std::clamp(NearestEven(targetWidth * aspectH, aspectW), 2, targetHeight & ~1);
  } else {
    // narrower: full height, bars left and right
    area.width = std::clamp(NearestEven(targetHeight * aspectW, aspectH), 2, targetWidth & ~1);
  }
  area.x = ((targetWidth - area.width) / 2) & ~1;
  area.y = ((targetHeight - area.height) / 2) & ~1;
  return area;
}

}  // namespace zel
