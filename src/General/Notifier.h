#pragma once

#include <cstdint>
#include <string_view>

namespace zel {

// Progress of a running conversion, for front ends that draw a bar. All
// times are 100-ns units.
struct ConversionProgress {
  int segmentIndex = 0;
  int segmentCount = 0;                 // 0 when not known
  std::int64_t segmentPositionHns = 0;  // how far the running segment has been decoded
  std::int64_t segmentLengthHns = 0;
  std::int64_t doneHns = 0;      // converted so far, whole job: earlier segments + the position
  std::int64_t totalHns = 0;     // length of the marked range
  bool segmentFinished = false;  // the segment's files are written
  int videoBitRate = 0;          // the picture rate the size limit chose; 0 without a limit
};

// How the core talks to the user. The window shows modal message boxes and
// sets its caption; the command line prints to stderr. Implementations must be
// callable from any thread; showMessage blocks the calling thread until the
// user has dismissed the message.
class Notifier {
 public:
  virtual ~Notifier() = default;

  // A message box with an OK button and the title "Zel". Returns the box's
  // result (1 for OK).
  virtual int showMessage(std::string_view text, bool systemModal = false) = 0;

  // A warning that does not stop the job, given once per job. The window
  // shows it as a message; the command line prints it.
  virtual int showWarning(std::string_view text) { return showMessage(text); }

  // The progress text that the window shows as its caption.
  virtual void setCaption(std::string_view text) = 0;

  // Structured progress; front ends without a bar ignore it.
  virtual void reportProgress(const ConversionProgress&) {}
};

// A notifier that drops everything; for callers that have no user to tell.
class SilentNotifier final : public Notifier {
 public:
  int showMessage(std::string_view, bool) override { return 1; }
  void setCaption(std::string_view) override {}
};

}  // namespace zel
