#pragma once

#include <cstdint>
#include <string>

namespace zel {

// What one segment's block of thumbnail.html tells.
struct ReportSegment {
  std::string outputBasePath;  // output folder + segment file name + input extension
  std::int64_t inputDurationHns = 0;
  std::int64_t startHns = 0, endHns = 0;
  bool hasAudio = false;
  int sourceRate = 0, sourceChannels = 0;
  int targetRate = 0, targetChannels = 0, audioBitRate = 0;
  bool hasVideo = false;
  int sourceFrameRate = 0, sourceWidth = 0, sourceHeight = 0;
  int targetFrameRate = 0, targetWidth = 0, targetHeight = 0, videoBitRate = 0;
  bool containerSelected = true;  // 3GP or 3G2 chosen
  std::string thumbnailBasePath;  // output folder + segment name, no extension
};

// Appends the segment's block to the report file; startNew drops what the
// file held (the first block of a job). The file is replaced whole (written
// under a temporary name and renamed), so a failed write leaves the report
// as it was. False when it could not be written.
bool AppendReport(const std::string& reportPath, const ReportSegment& segment,
                  bool startNew = false);

// "%02d:%02d.%03d" of a 100-ns duration (minutes may have more digits).
std::string FormatReportTime(std::int64_t hns);

}  // namespace zel
