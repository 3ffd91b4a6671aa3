#pragma once

#include <cstdint>

namespace zel {

struct MarkedRange;

struct SegmentBounds {
  std::int64_t start = 0;  // 100-ns units, absolute file time
  std::int64_t end = 0;
  bool last = false;
};

// Pulls the marks back into [0, duration]; an end mark of 0 means the end of
// the file. The marks stay changed after the job.
void ClampMarks(MarkedRange& range);

// Bounds of segment `index` of the marked range cut every splitHns (0: one
// segment over the whole range).
SegmentBounds SegmentAt(int index, std::int64_t splitHns, const MarkedRange& range);

// How many segments SegmentAt yields for the range (at least 1, at most
// INT_MAX).
int SegmentCount(std::int64_t splitHns, const MarkedRange& range);

}  // namespace zel
