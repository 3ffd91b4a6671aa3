#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <vector>

#include "General/Notifier.h"

class QMessageBox;

namespace zel::app {

// The window's notifier. Messages are modal boxes titled "Zel" with an OK
// button, always shown on the UI thread: a call from another thread (the
// conversion) is handed to the UI thread and waits there until the user has
// dismissed the box. Caption and progress reach the UI thread as queued
// signals. Create it on the UI thread.
class MessageBoxNotifier final : public QObject, public Notifier {
  Q_OBJECT

 public:
  // owner: the window the boxes belong to (may be null).
  explicit MessageBoxNotifier(QWidget* owner = nullptr, QObject* parent = nullptr);

  int showMessage(std::string_view text, bool systemModal = false) override;
  // The program is ending: every box that waits closes as if OK had been
  // clicked, and messages from now on are not shown (they return OK).
  void dismissAll();
  void setCaption(std::string_view text) override;
  void reportProgress(const ConversionProgress& progress) override;

 signals:
  // The box is set up and about to run modally on the UI thread; whoever
  // listens may answer it (a test clicks its OK button from a queued call).
  void messageBoxShown(QMessageBox* box);
  void captionChanged(const QString& caption);
  void progressChanged(int segmentIndex, int segmentCount, qint64 doneHns, qint64 totalHns);

 private:
  int showOnUiThread(const QString& text);
  // Runs emitter at once on the UI thread, queued there from any other.
  void onUiThread(std::function<void()> emitter);

  QPointer<QWidget> owner_;
  std::atomic<bool> dismissed_ = false;
  std::vector<QPointer<QMessageBox>> open_;  // the boxes that wait, UI thread only
};

}  // namespace zel::app
