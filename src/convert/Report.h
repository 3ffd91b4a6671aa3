#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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

// An advisory lock on the report of one output folder, held for a whole
// job so that two jobs writing a report into the same folder (two runs, or
// the window and the command line) do not mix their pages. It locks the
// folder itself: the report is replaced by a rename, so its own inode does
// not last. Only report writers take it.
class ReportLock {
 public:
  ReportLock() = default;
  ~ReportLock();
  ReportLock(const ReportLock&) = delete;
  ReportLock& operator=(const ReportLock&) = delete;

  // Takes the lock; while another job holds it, calls onWait once and
  // waits. False when abortRequested became true while waiting. A folder
  // that cannot be opened or locked needs no lock (true).
  bool Acquire(const std::string& folder, const std::atomic<bool>& abortRequested,
               const std::function<void()>& onWait);

 private:
  int fd_ = -1;
};

// "%02d:%02d.%03d" of a 100-ns duration (minutes may have more digits).
std::string FormatReportTime(std::int64_t hns);

}  // namespace zel
