#include "window/AviProgress.h"

#include <QEventLoop>
#include <QFile>
#include <QProgressDialog>
#include <QTimer>
#include <thread>

#include "General/Notifier.h"
#include "General/PathJoin.h"
#include "convert/Messages.h"
#include "source/AviTranscoder.h"
#include "source/PreparedInput.h"

namespace zel::app {
namespace {

constexpr int kPollMs = 50;
constexpr int kDialogWidth = 360;  // pixels: room for a long name and a bar that reads

}  // namespace

PreConversion PreConvertAvi(QWidget* owner, PreparedInput& input, Notifier& notifier,
                            std::atomic<bool>& cancel) {
  QProgressDialog dialog(owner);
  dialog.setWindowTitle("Zel");
  dialog.setLabelText(QFile::decodeName(QByteArray::fromStdString(PathFileName(input.input()))));
  dialog.setCancelButtonText("キャンセル");
  dialog.setRange(0, 1000);
  dialog.setMinimumWidth(kDialogWidth);
  dialog.setMinimumDuration(0);
  dialog.setAutoReset(false);
  dialog.setWindowModality(Qt::ApplicationModal);
  QObject::connect(&dialog, &QProgressDialog::canceled, [&cancel] { cancel = true; });

  std::atomic<int> permille = 0;
  std::atomic<bool> ended = false;
  bool written = false;
  // The worker's messages are boxes of the window's thread, which it waits
  // for: that thread never waits for the worker, but runs its events until
  // the worker has ended.
  std::thread worker([&] {
    PreparedInput::Watch watch;
    watch.abortFlag = &cancel;
    watch.progress = &permille;
    watch.built = [&notifier](const AviTranscoder& transcoder) {
      for (const Fault& fault : transcoder.faults()) notifier.showMessage(MessageFor(fault));
    };
    written = input.Transcode(watch) == Preparation::Done;
    ended = true;
  });
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ended) return loop.quit();
    // Also closed by Escape or its close box, which tell no one.
    if (!dialog.isVisible() || dialog.wasCanceled()) cancel = true;
    if (!cancel) dialog.setValue(permille);
  });
  poll.start(kPollMs);
  dialog.show();
  loop.exec();
  worker.join();
  if (cancel) return PreConversion::Cancelled;
  return written ? PreConversion::Done : PreConversion::Failed;
}

}  // namespace zel::app
