#include "MessageBoxNotifier.h"

#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace zel::app {
namespace {

constexpr int kOneLineWidth = 640;  // pixels; longer texts wrap

}  // namespace

MessageBoxNotifier::MessageBoxNotifier(QWidget* owner, QObject* parent)
    : QObject(parent), owner_(owner) {}

int MessageBoxNotifier::showMessage(std::string_view text, bool /*systemModal*/) {
  // There is no system-modal box here; a box modal to the application is
  // what stops the user from going on without reading it.
  if (dismissed_) return 1;
  const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (QThread::currentThread() == thread()) return showOnUiThread(message);

  // The caller waits until the box is gone. Should the notifier go before the
  // queued call runs, Qt drops the call and releases the caller, which then
  // returns OK as well.
  int result = 1;
  QMetaObject::invokeMethod(
      this, [this, &message, &result] { result = showOnUiThread(message); },
      Qt::BlockingQueuedConnection);
  return result;
}

void MessageBoxNotifier::dismissAll() {
  dismissed_ = true;
  for (const QPointer<QMessageBox>& box : open_) {
    if (box) box->done(QMessageBox::Ok);
  }
}

int MessageBoxNotifier::showOnUiThread(const QString& text) {
  if (dismissed_) return 1;  // asked for before the program began to end
  QMessageBox box(QMessageBox::NoIcon, "Zel", text, QMessageBox::Ok, owner_.data());
  box.setWindowModality(Qt::ApplicationModal);
  // QMessageBox wraps at a width of its own; a one-line message that would
  // break before its last characters reads better on one line.
  if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
    const int width = label->fontMetrics().horizontalAdvance(text) + 8;
    if (width <= kOneLineWidth) label->setMinimumWidth(width);
  }
  open_.emplace_back(&box);
  emit messageBoxShown(&box);
  box.exec();
  std::erase(open_, QPointer<QMessageBox>(&box));
  return 1;  // the only button is OK; Escape closes the box as OK does
}

void MessageBoxNotifier::setCaption(std::string_view text) {
  onUiThread([this, caption = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))] {
    emit captionChanged(caption);
  });
}

void MessageBoxNotifier::reportProgress(const ConversionProgress& progress) {
  onUiThread([this, progress] {
    emit progressChanged(progress.segmentIndex, progress.segmentCount, progress.doneHns,
                         progress.totalHns);
  });
}

void MessageBoxNotifier::onUiThread(std::function<void()> emitter) {
  // Emitted from the UI thread itself, so every receiver runs there, even
  // one connected without a context object.
  if (QThread::currentThread() == thread()) {
    emitter();
  } else {
    QMetaObject::invokeMethod(this, std::move(emitter), Qt::QueuedConnection);
  }
}

}  // namespace zel::app
