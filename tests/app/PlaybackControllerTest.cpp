// What reaches the window's thread from others: the pictures of playback,
// paced by the controller, and the messages, captions and progress of the
// conversion thread, each box waited for.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include "MessageBoxNotifier.h"
#include "app/playback/PlaybackController.h"
#include "common/MediaFixtures.h"
#include "source/PreviewSource.h"

namespace zel::app {

using Sound = PlaybackController::Sound;

// Records the pictures playback shows, and whether they came on the window's
// thread.
class RecordingSink final : public PreviewSink {
 public:
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    times.push_back(frame.timeHns);
    offThread = offThread || QThread::currentThread() != qApp->thread();
  }
  std::vector<std::int64_t> times;
  bool offThread = false;
};

class PlaybackControllerTest : public QObject {
  Q_OBJECT

  // The preview of a clip of 3 s at 25 fps, with sound.
  struct Preview {
    Preview() {
      const std::string clip =
          test::Media("clip.wmv", test::Join({test::Video("160x120", "25", "3"),
                                              test::Tone(44100, "3"),
                                              {"-c:v", "wmv2", "-c:a", "wmav2"}}));
      QVERIFY(source.OpenPreview(clip, &sink) == OpenResult::Opened);
    }
    PreviewSource source;
    RecordingSink sink;
  };

 public:
  // Counts the timer events of the window's thread while installed on the
  // application: after a stop, the controller's step timer must give none.
  bool eventFilter(QObject*, QEvent* event) override {
    timerEvents_ += event->type() == QEvent::Timer;
    return false;
  }
  int timerEvents_ = 0;

 private slots:
  void playsToTheEndByItself_data() {
    QTest::addColumn<Sound>("sound");
    // Silent is what runs without an audio device (CI); the default output
    // plays through a device where there is one and falls back to silence
    // where there is none.
    QTest::newRow("silent") << Sound::Silent;
    QTest::newRow("default output") << Sound::DefaultOutput;
  }
  // Nothing plays without a file. A stop in the middle halts at once: no
  // picture, no move, no end, no sound; then the range plays again, to its
  // end by itself, in real time.
  void playsToTheEndByItself() {
    QFETCH(Sound, sound);
    PreviewSource none;
    QVERIFY(!PlaybackController(none).play(0, 10'000'000));
    Preview p;
    const std::int64_t endHns = p.source.previewInfo().durationHns;
    PlaybackController controller(p.source, sound);
    QSignalSpy finished(&controller, &PlaybackController::finished);
    QSignalSpy moved(&controller, &PlaybackController::positionChanged);
    QVERIFY(controller.play(5'000'000, endHns));
    QTRY_VERIFY_WITH_TIMEOUT(controller.positionMs() >= 1000, 10000);
    QVERIFY(!moved.isEmpty());
    controller.stop();
    QVERIFY(!controller.isPlaying() && !controller.audible());
    std::uint8_t pcm[4];
    QCOMPARE(p.source.ReadPlaybackPcm(pcm, sizeof pcm), 0u);  // the range stopped too
    const int stoppedAt = controller.positionMs();
    const std::size_t shownAtStop = p.sink.times.size();
    qApp->installEventFilter(this);
    QTest::qWait(600);
    qApp->removeEventFilter(this);
    if (sound == Sound::Silent) QCOMPARE(timerEvents_, 0);  // a device's sink may have its own
    QCOMPARE(controller.positionMs(), stoppedAt);
    QCOMPARE(p.sink.times.size(), shownAtStop);
    QCOMPARE(finished.count(), 0);
    p.sink.times.clear();
    bool playingAtFinish = true;
    connect(&controller, &PlaybackController::finished,
            [&] { playingAtFinish = controller.isPlaying(); });
    QElapsedTimer played;
    played.start();
    QVERIFY(controller.play(0, endHns));
    QVERIFY(controller.isPlaying());
    QCOMPARE(finished.count(), 0);  // never from within play
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QVERIFY(played.elapsed() >= endHns / 10000 - 100);
    QVERIFY(!playingAtFinish);
    if (sound == Sound::Silent) QVERIFY(!controller.audible());
    // The cursor ends at the end mark.
    QCOMPARE(controller.positionMs(), static_cast<int>(endHns / 10000));
    // Pictures in their order, each shown or dropped, on the window's thread.
    QVERIFY(!p.sink.times.empty());
    QVERIFY(std::is_sorted(p.sink.times.begin(), p.sink.times.end()));
    QVERIFY(std::adjacent_find(p.sink.times.begin(), p.sink.times.end()) == p.sink.times.end());
    const PlaybackCounters counters = controller.counters();
    QCOMPARE(counters.shown, p.sink.times.size());
    QCOMPARE(counters.shown + counters.dropped, 75u);  // all of them
    QVERIFY(!p.sink.offThread);
    QTest::qWait(200);
    QCOMPARE(finished.count(), 1);
  }

  // A box from a worker is shown on the UI thread while the worker waits for
  // the answer; one from the UI thread is shown there. Captions and progress
  // from a worker arrive on the UI thread too (connected without a context
  // object: only an emission on the UI thread runs these there).
  void messagesCaptionsAndProgressReachTheUiThread() {
    std::atomic<bool> returned = false;
    QStringList seen;     // title, text, shown on the UI thread, OK only, the caller waiting
    std::jthread worker;  // joined last: a notifier that goes releases a waiting caller
    MessageBoxNotifier notifier;
    const auto onUi = [] { return QThread::currentThread() == qApp->thread(); };
    QObject::connect(&notifier, &MessageBoxNotifier::messageBoxShown, [&](QMessageBox* box) {
      const QString shown = QString("%1 %2 %3 %4")
                                .arg(box->windowTitle(), box->text())
                                .arg(onUi())
                                .arg(box->standardButtons() == QMessageBox::Ok);
      QTimer::singleShot(50, box, [&, box, shown] {
        seen << shown + QString(" %1").arg(!returned);
        box->button(QMessageBox::Ok)->click();
      });
    });
    QObject::connect(&notifier, &MessageBoxNotifier::captionChanged,
                     [&](const QString& caption) { seen << caption + QString(" %1").arg(onUi()); });
    QObject::connect(
        &notifier, &MessageBoxNotifier::progressChanged,
        [&](int index, int count, qint64 done, qint64 total) {
          seen << QString("%1/%2 %3/%4 %5").arg(index).arg(count).arg(done).arg(total).arg(onUi());
        });
    int result = 0;
    worker = std::jthread([&] {
      notifier.setCaption("12% sample.wmv");
      notifier.reportProgress(
          {.segmentIndex = 1, .segmentCount = 3, .doneHns = 50, .totalHns = 120});
      result = notifier.showMessage("変換を中断しました。");
      returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
    QCOMPARE(result, 1);
    QCOMPARE(notifier.showMessage("ok"), 1);
    QCOMPARE(seen, QStringList({"12% sample.wmv 1", "1/3 50/120 1",
                                "Zel 変換を中断しました。 1 1 1", "Zel ok 1 1 0"}));
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::PlaybackControllerTest)
#include "PlaybackControllerTest.moc"
