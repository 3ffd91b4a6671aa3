#include <QDir>
#include <QRegularExpression>
#include <QtTest>
#include <filesystem>

#include "WindowHarness.h"
#include "window/FileLoader.h"
#include "window/OpenFileDialog.h"
#include "window/PreviewSurface.h"

namespace zel::app {

using test::Media;
using test::TestWindow;
namespace fs = std::filesystem;

const QString kShortWav = "2秒より短いファイルは再生できない可能性があります。";

class FileLoadingTest : public QObject {
  Q_OBJECT

 private slots:
  void loadedFileIsShown_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("lines");  // patterns of the status lines
    QTest::addColumn<QRect>("video");
    QTest::newRow("video with sound")
        << "clip.wmv"
        << QStringList{"VIDEO:29\\[fps\\] 320x240", "AUDIO:44100\\[Hz\\] STEREO",
                       "00:04\\.0\\d\\d CURSOR 00:00\\.000",
                       "START 00:00\\.000 END 00:04\\.0\\d\\d"}
        << QRect(244, 54, 320, 240);
    QTest::newRow("sound only") << "mono8k.wav"
                                << QStringList{"AUDIO:08000\\[Hz\\] MONO",
                                               "00:03\\.000 CURSOR 00:00\\.000",
                                               "START 00:00\\.000 END 00:03\\.000"}
                                << QRect();
  }
  void loadedFileIsShown() {
    QFETCH(QString, name);
    QFETCH(QStringList, lines);
    QFETCH(QRect, video);
    TestWindow w;
    MainDialog& d = *w.dialog;
    w.drop(Media(name.toStdString()));
    QCOMPARE(d.windowTitle(), "Zel[" + name + "]");
    QVERIFY(w.boxes.empty());
    const MarkedRange& range = d.records().range;
    QVERIFY(range.duration > 0 && range.start == 0 && range.end == range.duration);
    QCOMPARE(d.cursorMs(), 0);
    const QStringList shown = StatusLines(d.statusFacts());
    QCOMPARE(shown.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
      QVERIFY2(QRegularExpression("^" + lines[i] + "$").match(shown[i]).hasMatch(),
               qPrintable(shown[i]));
    // the first frame in the centre of the preview area, left out by Present
    QCOMPARE(d.videoRect(), video);
    PreviewSurface& surface = d.previewSurface();
    QCOMPARE(surface.isVisible(), !video.isNull());
    if (!video.isNull()) {
      QCOMPARE(surface.geometry(), video);
      QCOMPARE(surface.picture().size(), video.size());
    }
  }

  // A refused file (an MPEG with MP3 sound, a text) keeps the loaded one.
  void refusedFileKeepsTheLoadedOne() {
    for (const std::string& refused : {Media("layer3.mpg"), Media("clip.wmv") + ".txt"}) {
      TestWindow w;
      w.drop(Media("clip.wmv"));
      w.drop(refused);
      QCOMPARE(w.texts(), QStringList{LoadErrorText(kUnsupportedFileError)});
      QCOMPARE(w.dialog->records().inputPath, Media("clip.wmv"));
      QCOMPARE(w.dialog->windowTitle(), "Zel[clip.wmv]");
    }
  }

  // With anyinput the dialog offers every media file and an MPEG with MP3
  // sound is taken, by the button and by a drop alike.
  void anyInputTakesTodaysFiles() {
    TestWindow w("[zel]\nanyinput=1\n");
    w.chosen = QString::fromStdString(Media("layer3.mpg"));
    w.click(kLoadButton);
    QVERIFY(w.offeredFilters.filter("すべてのメディアファイル").size() == 1);
    QCOMPARE(w.dialog->windowTitle(), "Zel[layer3.mpg]");
    w.drop(Media("clip.wmv"));
    w.drop(Media("layer3.mpg"));
    QCOMPARE(w.dialog->windowTitle(), "Zel[layer3.mpg]");
    QVERIFY(w.boxes.empty());
    TestWindow described;
    described.click(kLoadButton);
    QVERIFY(described.offeredFilters.filter("すべてのメディアファイル").isEmpty());
  }

  void severalFilesDroppedAtOnceAreRefused() {
    TestWindow w;
    w.dialog->dropFiles(
        {QString::fromStdString(Media("clip.wmv")), QString::fromStdString(Media("song.wma"))});
    QVERIFY(!w.dialog->fileLoaded());
    QVERIFY(w.boxes.empty());
    QCOMPARE(w.dialog->windowTitle(), "Zel");
  }

  void loadButtonStartsWhereTheLastFileWas() {
    TestWindow w;
    const QString before = QDir::currentPath();
    w.chosen = "";  // cancelled
    w.click(kLoadButton);
    QCOMPARE(w.initialNames, QStringList{InitialFileName(before)});
    QVERIFY(!w.dialog->fileLoaded() && w.boxes.empty());

    w.chosen = QString::fromStdString(Media("song.wma"));
    w.click(kLoadButton);
    const QString folder = QDir::currentPath();
    QDir::setCurrent(before);
    QCOMPARE(folder, QFileInfo(w.chosen).absolutePath());
    QCOMPARE(w.dialog->windowTitle(), "Zel[song.wma]");
    QCOMPARE(InitialFileName("/"), "/*.wmv");
  }

  void aviGoesThroughATemporaryWmv() {
    TestWindow w;
    MainDialog& d = *w.dialog;
    const std::string avi = w.start.file("movie.AVI");
    fs::copy_file(Media("clip.avi"), avi);
    const std::string wmv = w.work.file("movie.wmv");
    w.drop(avi);
    QCOMPARE(d.windowTitle(), "Zel[movie.AVI]");
    QCOMPARE(d.records().inputPath, wmv);
    QCOMPARE(d.records().tempInputPath, wmv);
    QVERIFY(fs::is_regular_file(wmv));
    QCOMPARE(StatusLines(d.statusFacts()).first(), "VIDEO:25[fps] 320x240");

    // converted from the temporary file, named after it
    w.click(kConvertButton);
    QVERIFY(w.waitUntilIdle());
    QCOMPARE(d.windowTitle(), "Zel[movie.wmv]");
    QVERIFY(fs::is_regular_file(w.start.file("movie.3gp")));

    // the next load deletes it; "Avi" is previewed as it is
    const std::string other = w.start.file("other.Avi");
    fs::copy_file(Media("clip.avi"), other);
    w.drop(other);
    QVERIFY(!fs::exists(wmv));
    QCOMPARE(d.records().inputPath, other);
    QVERIFY(d.records().tempInputPath.empty());

    // and so does the window's end
    w.drop(avi);
    QVERIFY(fs::is_regular_file(wmv));
    w.dialog.reset();
    QVERIFY(!fs::exists(wmv));
    QVERIFY(fs::is_regular_file(avi));
  }

  // A WAV ("wav" or "WAV") shorter than 2 s may not play: the user is told,
  // and it is loaded all the same.
  void shortWavWarning() {
    const struct {
      const char* name;
      const char* seconds;
      bool warns;
    } cases[] = {{"short.wav", "1.5", true},
                 {"short.WAV", "1.5", true},
                 {"short.Wav", "1.5", false},
                 {"two.wav", "2.0", false}};
    for (const auto& c : cases) {
      TestWindow w;
      const std::string path = w.start.file(c.name);
      zel::test::MakeMedia({"-f", "lavfi", "-i",
                            std::string("sine=sample_rate=44100:duration=") + c.seconds, "-c:a",
                            "pcm_s16le", "-f", "wav", path});
      w.drop(path);
      QCOMPARE(w.texts(), c.warns ? QStringList{kShortWav} : QStringList{});
      QCOMPARE(w.dialog->windowTitle(), QString("Zel[%1]").arg(c.name));
    }
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::FileLoadingTest)
#include "FileLoadingTest.moc"
