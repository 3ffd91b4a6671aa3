#pragma once

namespace zel {

// A rectangle in window coordinates: right and bottom lie just outside it.
struct VideoRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  friend bool operator==(const VideoRect&, const VideoRect&) = default;
};

// Where the preview picture goes in an area. adjustframe 1 stretches it over
// the area less one pixel on every side; otherwise the display size is
// centred, with both halves of the size taken by integer division, so an odd
// size loses a pixel (383 x 288 covers 382 x 288).
VideoRect LayoutVideoRect(const VideoRect& area, int displayWidth, int displayHeight,
                          int adjustframe);

}  // namespace zel
