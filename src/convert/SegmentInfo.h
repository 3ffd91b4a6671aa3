#pragma once

#include <cstdint>

#include "convert/PictureFit.h"

namespace zel {

// Per-segment source and target description of the video path; also read by
// the thumbnail writer and the report.
struct VideoSegmentInfo {
  int frameCount = 0;       // output frames of the segment: ticks of the output clock
  int bitRate = 0;          // the encoder context's bit rate
  int sourceFrameRate = 0;  // 10000000 / source frame duration, truncated
  int targetFrameRate = 0;  // whole frames per second (29 for 30000/1001)
  // The output clock's exact rate, frames per second as a fraction; a
  // denominator of 0 stands for targetFrameRate / 1.
  int targetRateNum = 0, targetRateDen = 0;
  int sourceWidth = 0, sourceHeight = 0;
  int targetWidth = 0, targetHeight = 0;
  int xRatio = 0, yRatio = 0;  // 10000 * target / source
  // Beyond the described nearest-neighbour stretch (both off by default):
  int sampleAspectNum = 0, sampleAspectDen = 0;  // the source's pixel shape; 0: square
  bool keepAspect = false;     // the picture keeps its aspect ratio, black bars around it
  bool smoothScaling = false;  // scaling averages source pixels (libswscale)
};

// The sizes of a scaling and its ratios (10000 * target / source, 0 for an
// unknown source size); the other fields stay 0.
inline VideoSegmentInfo FrameSizes(int sourceWidth, int sourceHeight, int targetWidth,
                                   int targetHeight) {
  VideoSegmentInfo info;
  info.sourceWidth = sourceWidth;
  info.sourceHeight = sourceHeight;
  info.targetWidth = targetWidth;
  info.targetHeight = targetHeight;
  info.xRatio = sourceWidth > 0 ? 10000 * targetWidth / sourceWidth : 0;
  info.yRatio = sourceHeight > 0 ? 10000 * targetHeight / sourceHeight : 0;
  return info;
}

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
