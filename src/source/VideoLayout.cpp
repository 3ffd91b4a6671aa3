#include "source/VideoLayout.h"

namespace zel {

VideoRect LayoutVideoRect(const VideoRect& area, int displayWidth, int displayHeight,
                          int adjustframe) {
  if (adjustframe == 1) {
    return {area.left + 1, area.top + 1, area.right - 1, area.bottom - 1};
  }
  const int centreX = (area.left + area.right) / 2;
  const int centreY = (area.top + area.bottom) / 2;
  return {centreX - displayWidth / 2, centreY - displayHeight / 2, centreX + displayWidth / 2,
          centreY + displayHeight / 2};
}

}  // namespace zel
