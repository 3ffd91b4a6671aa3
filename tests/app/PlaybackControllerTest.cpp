#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <vector>

#include "app/playback/PlaybackController.h"
#include "common/TestSupport.h"
#include "source/MediaSource.h"

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

  test::TempDir dir_;
  std::string clip_;  // 3 s, 25 fps, with sound

  struct Preview {
    MediaSource source;
    RecordingSink sink;
    test::RecordingNotifier notifier;
  };

 private slots:
  void initTestCase() {
    clip_ = dir_.file("clip.wmv");
    const test::CommandResult made =
        test::RunCommand({"ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "lavfi", "-i",
                          "testsrc2=size=160x120:rate=25:duration=3", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=44100:duration=3", "-c:v", "wmv2", "-c:a",
                          "wmav2", clip_});
    QCOMPARE(made.exitCode, 0);
  }

  void playsToTheEndByItself_data() {
    QTest::addColumn<Sound>("sound");
    // Silent is what runs without an audio device (CI); the default output
    // plays through a device where there is one and falls back to silence
    // where there is none.
    QTest::newRow("silent") << Sound::Silent;
    QTest::newRow("default output") << Sound::DefaultOutput;
  }
  void playsToTheEndByItself() {
    QFETCH(Sound, sound);
    Preview p;
    QCOMPARE(p.source.OpenPreview(clip_, &p.sink, p.notifier), 1);
    const std::int64_t endHns = p.source.previewInfo().durationHns;
    PlaybackController controller(p.source, sound);
    QSignalSpy finished(&controller, &PlaybackController::finished);
    bool playingAtFinish = true;
    connect(&controller, &PlaybackController::finished,
            [&] { playingAtFinish = controller.isPlaying(); });
    QElapsedTimer played;
    played.start();
    QVERIFY(controller.play(0, endHns));
    QVERIFY(controller.isPlaying());
    QCOMPARE(finished.count(), 0);  // never from within play
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    // In real time, not faster.
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

  void stopsInTheMiddle() {
    Preview p;
    QCOMPARE(p.source.OpenPreview(clip_, &p.sink, p.notifier), 1);
    PlaybackController controller(p.source, Sound::DefaultOutput);
    QSignalSpy finished(&controller, &PlaybackController::finished);
    QSignalSpy moved(&controller, &PlaybackController::positionChanged);
    QVERIFY(controller.play(5'000'000, p.source.previewInfo().durationHns));
    QTRY_VERIFY_WITH_TIMEOUT(controller.positionMs() >= 1000, 10000);
    QVERIFY(!moved.isEmpty());
    controller.stop();
    QVERIFY(!controller.isPlaying());
    QVERIFY(!controller.audible());
    const int stoppedAt = controller.positionMs();
    const std::size_t shown = p.sink.times.size();
    QTest::qWait(600);
    QCOMPARE(controller.positionMs(), stoppedAt);
    QCOMPARE(p.sink.times.size(), shown);
    QCOMPARE(finished.count(), 0);
    // And plays again.
    QVERIFY(controller.play(0, 2'000'000));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(controller.positionMs(), 200);
  }

  void nothingPlaysWithoutAFile() {
    MediaSource source;
    PlaybackController controller(source);
    QVERIFY(!controller.play(0, 10'000'000));
    QVERIFY(!controller.isPlaying());
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::PlaybackControllerTest)
#include "PlaybackControllerTest.moc"
