#pragma once

#include <cstdint>

namespace zel {

// Per-segment source and target description of the video path; also read by
// the thumbnail writer and the report.
struct VideoSegmentInfo {
  int frameCount = 0;       // output frames expected in the segment
  int bitRate = 0;          // the encoder context's bit rate
  int sourceFrameRate = 0;  // 10000000 / source frame duration, truncated
  int targetFrameRate = 0;
  int sourceWidth = 0, sourceHeight = 0;
  int targetWidth = 0, targetHeight = 0;
  int xRatio = 0, yRatio = 0;  // 10000 * target / source
};

// Per-segment source and target description of the audio path.
struct AudioSegmentInfo {
  int sourceRate = 0;
  int targetRate = 0;
  int sourceChannels = 0;
  int targetChannels = 0;
  int rateRatio = 0;  // 10000 * targetRate / sourceRate
  int bitRate = 0;
};

}  // namespace zel
