#include "convert/Report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "General/AtomicFile.h"
#include "General/MediaTypes.h"

namespace zel {
namespace {

// Appends one formatted item. The format is always one of our literals; user
// strings (paths) are appended by AppendText, never passed as a format.
template <typename... Args>
void AppendFormat(std::string& out, const char* format, Args... args) {
  char buffer[128];
  const int written = std::snprintf(buffer, sizeof buffer, format, args...);
  if (written > 0) out.append(buffer, static_cast<std::size_t>(written));
}

// File names go into the page as text and inside an attribute: the four
// characters that would end or break either are written as entities; every
// other byte stays as it is.
void AppendText(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '"':
        out += "&quot;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
}

// A path as the link of an attribute: the characters that a browser reads
// as the end of a path ('#' a fragment, '?' a query) or as an escape ('%')
// are percent-encoded.
std::string LinkOf(const std::string& path) {
  std::string link;
  for (char c : path) {
    if (c == '%' || c == '#' || c == '?') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      link += escaped;
    } else {
      link += c;
    }
  }
  return link;
}

const char* ChannelText(int channels) { return channels == 1 ? "MONO" : "STEREO"; }

// The block of one segment, every item in the order a reader of the report
// expects: the input, the segment's range, the targets, the thumbnail.
std::string ReportBlock(const ReportSegment& s) {
  std::string out;
  out += "input file ";
  AppendText(out, s.outputBasePath);
  out += "<BR>";
  out += FormatReportTime(s.inputDurationHns);
  out += "<BR>";
  if (s.hasAudio) {
    out += "audio<BR>";
    AppendFormat(out, "samplerate %05d[Hz]<BR>", s.sourceRate);
    AppendFormat(out, "channels %s<BR>", ChannelText(s.sourceChannels));
  }
  if (s.hasVideo) {
    out += "video<BR>";
    AppendFormat(out, "framerate %02d[fps]<BR>", s.sourceFrameRate);
    AppendFormat(out, "framesize %dx%d<BR>", s.sourceWidth, s.sourceHeight);
  }
  out += "<HR>";
  out += "starttime " + FormatReportTime(s.startHns) + " endtime " + FormatReportTime(s.endHns) +
         "<BR>";
  if (s.hasAudio) {
    out += "audio<BR>";
    AppendFormat(out, "samplerate %05d[Hz]<BR>", s.targetRate);
    AppendFormat(out, "channels %s<BR>", ChannelText(s.targetChannels));
    AppendFormat(out, "bitrate %05d[bps]<BR>", s.audioBitRate);
  }
  if (s.hasVideo) {
    out += "video<BR>";
    AppendFormat(out, "framerate %02d[fps]<BR>", s.targetFrameRate);
    AppendFormat(out, "framesize %dx%d<BR>", s.targetWidth, s.targetHeight);
    AppendFormat(out, "bitrate %05d[bps]<BR>", s.videoBitRate);
  }
  if (s.containerSelected) {
    // a segment without video still points at its (missing) thumbnail
    out += "<img src=\"";
    AppendText(out, LinkOf(s.thumbnailBasePath));
    out += ".jpg\"><BR>";
  }
  out += "<HR><HR>";
  return out;
}

}  // namespace

std::string FormatReportTime(std::int64_t hns) {
  if (hns < 0) hns = 0;
  const std::int64_t seconds = hns / kHnsPerSecond;
  std::string out;
  AppendFormat(out, "%02" PRId64 ":%02d.%03d", seconds / 60, static_cast<int>(seconds % 60),
               static_cast<int>((hns / kHnsPerMs) % 1000));
  return out;
}

ReportLock::~ReportLock() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

bool ReportLock::Acquire(const std::string& folder, const std::atomic<bool>& abortRequested,
                         const std::function<void()>& onWait) {
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return true;  // a folder we cannot open takes no report either
  bool told = false;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return true;  // a file system without locks
    if (abortRequested) return false;
    if (!told && onWait) onWait();
    told = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

bool AppendReport(const std::string& reportPath, const ReportSegment& segment, bool startNew) {
  try {
    std::string text;
    if (!startNew) {
      std::ifstream in(reportPath, std::ios::binary);
      if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) return false;
    }
    text += ReportBlock(segment);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return WriteWholeFile(reportPath, {{bytes, text.size()}});
  } catch (...) {
    return false;
  }
}

}  // namespace zel
