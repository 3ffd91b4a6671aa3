#include "CursorArithmetic.h"

#include <algorithm>
#include <limits>

namespace zel::app {
namespace {

// Products of a pixel or a millisecond count with a 100-ns position can pass
// 2^63 for long files (770 x 2^63 / 770 is fine, 770 x a year is not), so
// they are taken in 128 bits; every quotient truncates toward zero.
using Wide = __int128;

std::int64_t Clamp(Wide value, std::int64_t low, std::int64_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return static_cast<std::int64_t>(value);
}

// The band of a mark (half = 2, 4 pixels wide) or of the cursor (half = 1,
// 2 pixels wide) around position p; at either end of the bar it keeps half
// its width inside the bar.
BarBand BandAround(std::int64_t p, int half, int barWidth, int top, int height) {
  BarBand band{static_cast<int>(p) - half, top, 2 * half, height};
  if (band.left < 0) {
    band.left = 0;
    band.width = half;
  }
  if (p > barWidth - half) {
    band.left = barWidth - half;
    band.width = half;
  }
  return band;
}

}  // namespace

std::int64_t CursorLimitMs(std::int64_t durationHns) {
  return durationHns > 0 ? durationHns / kHnsPerMs : 0;
}

std::int64_t LimitCursorMs(std::int64_t cursorMs, std::int64_t durationHns) {
  return std::clamp<std::int64_t>(cursorMs, 0, CursorLimitMs(durationHns));
}

std::int64_t DragCursorMs(int pointerX, int barWidth, std::int64_t durationHns, int stepMs) {
  if (barWidth <= 0) return 0;
  Wide ms = Wide{pointerX} * durationHns / barWidth / kHnsPerMs;
  if (stepMs > 0) ms = ms / stepMs * stepMs;
  // Snapped first, limited afterwards: right of the bar the grid point below
  // the pointer may still lie before the end of the file.
  return Clamp(ms, 0, CursorLimitMs(durationHns));
}

std::int64_t StepCursorMs(std::int64_t cursorMs, std::int64_t deltaMs, std::int64_t durationHns) {
  return Clamp(Wide{cursorMs} + deltaMs, 0, CursorLimitMs(durationHns));
}

bool SetStartMark(MarkedRange& range, std::int64_t cursorMs) {
  if (cursorMs < 0 || cursorMs > range.end / kHnsPerMs) return false;
  range.start = cursorMs * kHnsPerMs;
  return true;
}

bool SetEndMark(MarkedRange& range, std::int64_t cursorMs) {
  // Compared in 100-ns units: a start mark that is no whole millisecond (the
  // conversion may clamp it to a duration) must never end up behind the end.
  if (cursorMs < 0 || cursorMs > CursorLimitMs(range.duration)) return false;
  if (range.start > cursorMs * kHnsPerMs) return false;
  range.end = cursorMs * kHnsPerMs;
  return true;
}

BarGeometry ComputeBarGeometry(int width, int height, const BarInput& input) {
  BarGeometry bar;
  bar.background = {0, 0, width, height};
  const std::int64_t d = input.durationHns;
  if (!input.opened || d <= 0 || width <= 0) return bar;

  // Pixel positions of the cursor and the marks, kept on the bar.
  const auto toPixel = [&](Wide hns) { return Clamp(hns * width / d, 0, width); };
  const std::int64_t xc = toPixel(Wide{input.cursorMs} * kHnsPerMs);
  const std::int64_t xs = toPixel(input.startHns);
  const std::int64_t xe = toPixel(input.endHns);

  bar.range = {static_cast<int>(xs), 0, static_cast<int>(std::max<std::int64_t>(xe - xs, 0)),
               height};
  // Before the start mark (a step back while playing) nothing has been played.
  if (input.playing && xc > xs)
    bar.played = {static_cast<int>(xs), 0, static_cast<int>(xc - xs), height};
  bar.startMark = BandAround(xs, 2, width, 0, height);
  bar.endMark = BandAround(xe, 2, width, 0, height);
  bar.cursor = BandAround(xc, 1, width, 2, height - 4);
  return bar;
}

}  // namespace zel::app
