#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "MessageBoxNotifier.h"

namespace zel::app {

class MessageBoxNotifierTest : public QObject {
  Q_OBJECT

  // What the test saw of the last box, and the click that answers it once
  // its modal loop runs.
  struct SeenBox {
    bool onUiThread = false;
    QString title, text;
    QMessageBox::StandardButtons buttons;
    bool callerWaiting = false;
  };

  static void AnswerBoxes(MessageBoxNotifier& notifier, SeenBox& seen,
                          const std::atomic<bool>& returned) {
    QObject::connect(&notifier, &MessageBoxNotifier::messageBoxShown, [&](QMessageBox* box) {
      seen.onUiThread = QThread::currentThread() == qApp->thread();
      seen.title = box->windowTitle();
      seen.text = box->text();
      seen.buttons = box->standardButtons();
      QTimer::singleShot(50, box, [&, box] {
        seen.callerWaiting = !returned;
        box->button(QMessageBox::Ok)->click();
      });
    });
  }

 private slots:
  void messageFromAWorkerWaitsForTheUser() {
    std::atomic<bool> returned = false;
    int result = 0;
    SeenBox seen;
    std::jthread worker;  // joined last: a notifier that goes releases a waiting caller
    MessageBoxNotifier notifier;
    AnswerBoxes(notifier, seen, returned);
    worker = std::jthread([&] {
      result = notifier.showMessage("変換を中断しました。");
      returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
    QVERIFY(seen.onUiThread);
    QVERIFY(seen.callerWaiting);
    QCOMPARE(seen.title, "Zel");
    QCOMPARE(seen.text, "変換を中断しました。");
    QCOMPARE(seen.buttons, QMessageBox::Ok);
    QCOMPARE(result, 1);
  }

  void messageOnTheUiThreadIsShownThere() {
    std::atomic<bool> returned = false;
    SeenBox seen;
    MessageBoxNotifier notifier;
    AnswerBoxes(notifier, seen, returned);
    QCOMPARE(notifier.showMessage("ok"), 1);
    QVERIFY(seen.onUiThread);
    QCOMPARE(seen.text, "ok");
  }

  void captionAndProgressArriveOnTheUiThread() {
    MessageBoxNotifier notifier;
    QStringList seen;
    // Connected without a context object: only an emission on the UI thread
    // runs these there.
    QObject::connect(&notifier, &MessageBoxNotifier::captionChanged, [&](const QString& caption) {
      seen << QString("%1 %2").arg(caption).arg(QThread::currentThread() == qApp->thread());
    });
    QObject::connect(&notifier, &MessageBoxNotifier::progressChanged,
                     [&](int index, int count, qint64 done, qint64 total) {
                       seen << QString("%1/%2 %3/%4 %5")
                                   .arg(index)
                                   .arg(count)
                                   .arg(done)
                                   .arg(total)
                                   .arg(QThread::currentThread() == qApp->thread());
                     });
    std::jthread([&] {
      notifier.setCaption("12% sample.wmv");
      notifier.reportProgress(
          {.segmentIndex = 1, .segmentCount = 3, .doneHns = 50, .totalHns = 120});
    }).join();
    QTRY_COMPARE(seen, QStringList({"12% sample.wmv 1", "1/3 50/120 1"}));
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::MessageBoxNotifierTest)
#include "MessageBoxNotifierTest.moc"
