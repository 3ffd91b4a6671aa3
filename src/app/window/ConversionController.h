// The Convert/Abort command and the conversion thread. A conversion runs on
// a std::thread of its own through the loaded input's ConversionPipeline
// (WindowRecords::pipeline); its messages go through the window's
// notifier (modal boxes), its caption through the notifier's queued signal.
// The window never waits for the thread: the thread's last act is to hand
// its outcome to the UI thread, which then restores the window.
#pragma once

#include <QObject>
#include <atomic>
#include <string>
#include <thread>

#include "convert/ConversionDriver.h"

namespace zel {
class Notifier;
}

namespace zel::app {

struct WindowRecords;

class ConversionController final : public QObject {
  Q_OBJECT

 public:
  ConversionController(WindowRecords& records, Notifier& notifier, QObject* parent = nullptr);
  // A conversion still running (the program is being ended) is asked to stop
  // and waited for, with the UI thread's events going on meanwhile.
  ~ConversionController() override;

  // Convert and Abort, one command: starts a conversion of the input, or
  // asks the running one to stop at its next check.
  void convertOrAbort();

 signals:
  // On the UI thread, after converting was set and before the thread starts.
  void started();
  // On the UI thread, after the thread's end; converting is clear again.
  void finished(zel::ConversionOutcome outcome);

 private:
  void threadEnded(ConversionOutcome outcome);

  WindowRecords& records_;
  Notifier& notifier_;
  std::thread thread_;
};

}  // namespace zel::app
