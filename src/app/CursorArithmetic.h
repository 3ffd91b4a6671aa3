// The cursor, the marks and the position bar's drawing as plain arithmetic.
//
// Positions of the file (the duration and the marks of MarkedRange) are
// 100-ns units; the cursor is milliseconds. Both are signed 64-bit here, so
// no product or quotient of them overflows for any duration a file can
// declare. A millisecond is kHnsPerMs units (General/MediaTypes.h); going
// the other way truncates.
#pragma once

#include <cstdint>

#include "General/MediaTypes.h"
#include "convert/ConversionParameters.h"

namespace zel::app {

// The last millisecond of a file: the cursor's upper limit (0 for none).
std::int64_t CursorLimitMs(std::int64_t durationHns);

// cursorMs limited to [0, duration / 10000].
std::int64_t LimitCursorMs(std::int64_t cursorMs, std::int64_t durationHns);

// The cursor under the pointer while dragging: x * duration / barWidth in
// 100-ns units, as milliseconds, snapped down (toward zero) to the step grid
// and only then limited to the file. pointerX is in the bar's coordinates and
// may lie outside the bar on either side. A step below 1 snaps to nothing.
std::int64_t DragCursorMs(int pointerX, int barWidth, std::int64_t durationHns, int stepMs);

// Rewind (deltaMs = -step) and Fast forward (+step): the cursor moves by the
// step and is limited to the file; it is not snapped to the step grid.
std::int64_t StepCursorMs(std::int64_t cursorMs, std::int64_t deltaMs, std::int64_t durationHns);

// Set start mark: start := the cursor when that keeps start <= end; false
// (range unchanged) otherwise.
bool SetStartMark(MarkedRange& range, std::int64_t cursorMs);
// Set end mark: end := the cursor when that keeps start <= end; false
// (range unchanged) otherwise.
bool SetEndMark(MarkedRange& range, std::int64_t cursorMs);

// One stretched strip of the bar, in the bar's coordinates. An empty band
// (width 0) is not drawn.
struct BarBand {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const BarBand&, const BarBand&) = default;
};

// Everything the bar shows. With nothing to show (no file, or a duration of
// 0) only the background is drawn; the other bands stay empty.
struct BarGeometry {
  BarBand background;
  BarBand range;      // start mark to end mark
  BarBand played;     // start mark to cursor, while playing
  BarBand startMark;  // 4 pixels around the mark, 2 at the bar's ends
  BarBand endMark;
  BarBand cursor;  // 2 pixels, 1 at the bar's ends, 2 short at top and bottom
  friend bool operator==(const BarGeometry&, const BarGeometry&) = default;
};

struct BarInput {
  bool opened = false;  // a file is open in the preview
  std::int64_t durationHns = 0;
  std::int64_t startHns = 0;
  std::int64_t endHns = 0;
  std::int64_t cursorMs = 0;
  bool playing = false;
  friend bool operator==(const BarInput&, const BarInput&) = default;
};

// The bands of a bar of width x height pixels, in drawing order.
BarGeometry ComputeBarGeometry(int width, int height, const BarInput& input);

}  // namespace zel::app
