#include "window/ConversionController.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>

#include "window/WindowRecords.h"

namespace zel::app {

ConversionController::ConversionController(WindowRecords& records, Notifier& notifier,
                                           QObject* parent)
    : QObject(parent), records_(records), notifier_(notifier) {}

ConversionController::~ConversionController() {
  if (!thread_.joinable()) return;
  blockSignals(true);  // the window is going
  records_.state.abortRequested = true;
  // The thread may be waiting for a message box of the UI thread; joining
  // at once could wait forever.
  while (records_.state.converting) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (thread_.joinable()) thread_.join();
}

void ConversionController::convertOrAbort() {
  ConversionState& state = records_.state;
  if (state.converting) {
    state.abortRequested = true;
    return;
  }
  if (!records_.pipeline) return;  // nothing loaded
  state.converting = true;
  state.abortRequested = false;
  emit started();
  thread_ = std::thread([this] {
    // The thread's boundary: a failure ends the job, never the program.
    ConversionOutcome outcome = ConversionOutcome::Failed;
    try {
      outcome = records_.pipeline->Convert(
          {records_.settings, records_.params, records_.state, records_.range}, notifier_);
    } catch (...) {
    }
    // The thread's last act: what follows runs on the UI thread.
    QMetaObject::invokeMethod(
        this, [this, outcome] { threadEnded(outcome); }, Qt::QueuedConnection);
  });
}

void ConversionController::threadEnded(ConversionOutcome outcome) {
  // Nothing is left for the thread to do but return.
  thread_.join();
  records_.state.converting = false;
  emit finished(outcome);
}

}  // namespace zel::app
