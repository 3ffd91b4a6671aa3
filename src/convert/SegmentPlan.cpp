#include "convert/SegmentPlan.h"

#include <algorithm>
#include <climits>

#include "convert/ConversionParameters.h"

namespace zel {

void ClampMarks(MarkedRange& range) {
  if (range.duration < 0) range.duration = 0;
  if (range.start > range.duration) range.start = range.duration;
  if (range.end > range.duration) range.end = range.duration;
  if (range.end == 0) range.end = range.duration;
  // Marks are never negative and the start never passes the end; a range the
  // window could not have produced is still converted as an empty segment.
  if (range.start < 0) range.start = 0;
  if (range.end < range.start) range.end = range.start;
}

SegmentBounds SegmentAt(int index, std::int64_t splitHns, const MarkedRange& range) {
  SegmentBounds b;
  if (splitHns <= 0) {
    b.start = range.start;
    b.end = range.end;
    b.last = true;
    return b;
  }
  b.start = index * splitHns + range.start;
  b.end = (index + 1) * splitHns + range.start;
  if (b.end >= range.duration) {
    b.end = range.duration;
    b.last = true;
  }
  if (b.end >= range.end) {
    b.end = range.end;
    b.last = true;
  }
  return b;
}

int SegmentCount(std::int64_t splitHns, const MarkedRange& range) {
  // Segment i is the last when its end, (i + 1) * split + start, reaches the
  // duration or the end mark; counted without walking through them (a
  // damaged file may claim years).
  const std::int64_t length = std::min(range.duration, range.end) - range.start;
  if (splitHns <= 0 || length <= splitHns) return 1;
  const std::int64_t count = length / splitHns + (length % splitHns != 0 ? 1 : 0);
  return static_cast<int>(std::min<std::int64_t>(count, INT_MAX));
}

}  // namespace zel
