#include <QAbstractButton>
#include <QAudioDevice>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QMediaDevices>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "General/MediaTypes.h"
#include "HelpPage.h"
#include "MainDialog.h"
#include "PositionBar.h"
#include "app/settings/SettingsSheet.h"
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "window/ButtonBar.h"
#include "window/FileLoader.h"
#include "window/OpenFileDialog.h"
#include "window/PreviewSurface.h"

namespace zel::app {

using namespace test;

// The main window in fresh start and work folders, shown offscreen, with
// every message box it raises recorded and answered with OK.
struct SeenBox {
  QString text;
  bool whileConverting;  // raised by the conversion thread, which waits for it
  QString caption;       // the window's caption at the time
};

class TestWindow {
 public:
  // setupIni: the text of the start directory's setup.ini (none when empty).
  explicit TestWindow(const std::string& setupIni = {},
                      PlaybackController::Sound sound = PlaybackController::Sound::Silent) {
    if (!setupIni.empty()) std::ofstream(start.file("setup.ini")) << setupIni;
    MainDialog::Setup setup{
        start.path().string(), work.path().string(),
        [this](QWidget*, const QString& initialName, const QStringList& filters) {
          initialNames << initialName;
          offeredFilters = filters;
          return chosen;
        }};
    setup.sound = sound;
    dialog = std::make_unique<MainDialog>(std::move(setup));
    QObject::connect(&dialog->notifier(), &MessageBoxNotifier::messageBoxShown,
                     [this](QMessageBox* box) {
                       boxes.push_back({box->text(), dialog->converting(), dialog->windowTitle()});
                       if (!answerWhen) return QTimer::singleShot(0, box, [box] { box->accept(); });
                       // polled from the box's own loop; answered after 10 s at the latest
                       auto* poll = new QTimer(box);
                       QObject::connect(poll, &QTimer::timeout, box, [this, box, shown = now()] {
                         if (answerWhen() || now() - shown > 10000) box->accept();
                       });
                       poll->start(20);
                     });
    dialog->show();
  }

  void drop(const std::string& path) { dialog->dropFiles({path}); }
  static qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }
  // A click on a visible button, as the user gives it.
  void click(int id) {
    QAbstractButton* b = dialog->buttons().button(id);
    QVERIFY2(b->isVisible(), qPrintable(b->objectName() + " is hidden"));
    QTest::mouseClick(b, Qt::LeftButton);
  }
  bool waitUntilIdle(int timeoutMs = 120000) {
    return QTest::qWaitFor([this] { return !dialog->converting(); }, timeoutMs);
  }
  QStringList texts() const {
    QStringList list;
    for (const SeenBox& b : boxes) list << b.text;
    return list;
  }
  bool visible(int id) const { return dialog->buttons().button(id)->isVisible(); }

  TempDir start, work;
  QString chosen;  // what the open-file dialog answers
  QStringList initialNames;
  QStringList offeredFilters;  // the filters of the last open-file dialog
  std::vector<SeenBox> boxes;
  std::function<bool()> answerWhen;  // when set, boxes wait until it says true
  std::unique_ptr<MainDialog> dialog;
};
namespace fs = std::filesystem;

const QString kShortWav = "2秒より短いファイルは再生できない可能性があります。";

enum class State { NoFile, Loaded, Playing, Converting };
constexpr int kDrop = 1, kClose = 2, kEscape = 3, kEnter = 4;  // no buttons

class MainDialogTest : public QObject {
  Q_OBJECT

  // Every settings sheet that opens is counted and answered (Cancel unless
  // answerSheet_ says otherwise); the help page's address is recorded.
  int sheetsShown_ = 0;
  std::function<void(SettingsSheet&)> answerSheet_;
  QTimer sheetWatch_;
  QList<QUrl> helpOpened_;

 public slots:
  void openUrl(const QUrl& url) { helpOpened_ << url; }

 private slots:
  void initTestCase() {
    connect(&sheetWatch_, &QTimer::timeout, this, [this] {
      if (auto* sheet = qobject_cast<SettingsSheet*>(QApplication::activeModalWidget())) {
        ++sheetsShown_;
        answerSheet_ ? answerSheet_(*sheet) : sheet->reject();
      }
    });
    sheetWatch_.start(10);
    QDesktopServices::setUrlHandler("file", this, "openUrl");
  }
  void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

  // The first start: nothing loaded, the output folder is the start
  // directory, setup.ini written at the end; the load button starts where
  // the last file was.
  void firstStart() {
    TestWindow w;
    QCOMPARE(w.dialog->windowTitle(), "Zel");
    QCOMPARE(w.dialog->size(), QSize(799, 499));
    QVERIFY(!w.visible(kAbortButton) && !w.visible(kPlayingButton) && w.visible(kConvertButton));
    QVERIFY(StatusLines(w.dialog->statusFacts()).isEmpty());
    const QString before = QDir::currentPath();
    w.click(kLoadButton);  // cancelled
    QCOMPARE(w.initialNames, QStringList{InitialFileName(before)});
    QVERIFY(!w.dialog->fileLoaded() && w.boxes.empty());
    if (FindHelpPage(HelpFolders(QString::fromStdString(w.start.path().string()))).isEmpty()) {
      w.click(kHelpButton);  // no page anywhere
      QCOMPARE(w.texts(), QStringList{"ヘルプのオープンに失敗しました。"});
    }
    w.chosen = QString::fromStdString(Media("song.wma"));
    w.click(kLoadButton);
    const QString folder = QDir::currentPath();
    QDir::setCurrent(before);
    QCOMPARE(folder, QFileInfo(w.chosen).absolutePath());
    QCOMPARE(w.dialog->windowTitle(), "Zel[song.wma]");
    QCOMPARE(StatusLines(w.dialog->statusFacts()).first(), "AUDIO:44100[Hz] STEREO");
    QVERIFY(!w.dialog->previewSurface().isVisible());
    QCOMPARE(InitialFileName("/"), "/*.wmv");
    QCOMPARE(w.dialog->records().settings.result, w.start.path().string());
    w.dialog.reset();
    QVERIFY(fs::is_regular_file(w.start.file("setup.ini")));
  }

  // Zel.html is taken from the start directory, then beside the program (a
  // build tree's), then the data folder; a folder of that name is no page. A
  // page that nothing can open is named in the message.
  void helpPageStartDirectoryComesFirst() {
    QTemporaryDir start, data, empty;
    for (const QTemporaryDir* dir : {&start, &data})
      QVERIFY(QFile(dir->filePath(kHelpPageName)).open(QIODevice::WriteOnly));
    QCOMPARE(FindHelpPage({start.path(), data.path()}), start.filePath(kHelpPageName));
    QCOMPARE(FindHelpPage({empty.path(), data.path()}), data.filePath(kHelpPageName));
    QVERIFY(FindHelpPage({empty.path(), empty.path()}).isEmpty());
    QVERIFY(QDir(empty.path()).mkdir(kHelpPageName));
    QCOMPARE(FindHelpPage({empty.path(), data.path()}), data.filePath(kHelpPageName));
    QCOMPARE(HelpFolders(start.path()).mid(0, 2),
             QStringList({start.path(), QCoreApplication::applicationDirPath()}));

    TestWindow w;
    std::ofstream(w.start.file("Zel.html")) << "<html></html>";
    QDesktopServices::setUrlHandler("file", this, "noSuchSlot");  // nothing opens it
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No such method"));
    w.click(kHelpButton);
    QDesktopServices::setUrlHandler("file", this, "openUrl");
    QCOMPARE(w.texts(), QStringList{QString("ヘルプのオープンに失敗しました。\n%1")
                                        .arg(QString::fromStdString(w.start.file("Zel.html")))});
  }

  void commandsInEachState_data() {
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("runs");
    const struct {
      const char* name;
      int command;
      bool noFile, loaded, playing, converting;
    } rows[] = {
        {"load", kLoadButton, true, true, false, false},
        {"drop", kDrop, true, true, false, false},
        {"play", kPlayButton, false, true, false, false},  // Playing is shown instead
        {"stop (seen only while playing)", kStopButton, false, false, true, false},
        {"rewind", kRewindButton, false, true, true, true},
        {"fast forward", kFastForwardButton, false, true, true, true},
        {"start mark", kStartMarkButton, false, true, false, false},
        {"end mark", kEndMarkButton, false, true, false, false},
        {"capture (refused while converting)", kCaptureButton, false, true, true, true},
        {"convert or abort", kConvertButton, false, true, true, true},
        {"settings", kSettingsButton, true, true, false, false},
        {"help", kHelpButton, true, true, true, true},
        {"close box", kClose, true, true, true, false},
        {"escape", kEscape, true, true, true, false},
        {"enter", kEnter, false, false, false, false},
    };
    for (const auto& r : rows) {
      QTest::addRow("%s, no file", r.name) << State::NoFile << r.command << r.noFile;
      QTest::addRow("%s, loaded", r.name) << State::Loaded << r.command << r.loaded;
      QTest::addRow("%s, playing", r.name) << State::Playing << r.command << r.playing;
      QTest::addRow("%s, converting", r.name) << State::Converting << r.command << r.converting;
    }
  }
  void commandsInEachState() {
    QFETCH(State, state);
    QFETCH(int, command);
    QFETCH(bool, runs);
    TestWindow w;
    MainDialog& d = *w.dialog;
    std::ofstream(w.start.file("Zel.html")) << "<html></html>";
    w.chosen = QString::fromStdString(Media("song.wma"));
    if (state != State::NoFile) {
      w.drop(Media("clip10.wmv"));
      d.command(kFastForwardButton);
      QCOMPARE(d.cursorMs(), 1000);
    }
    if (state == State::Converting) w.click(kConvertButton);
    if (state == State::Playing) w.click(kPlayButton);
    QCOMPARE(d.converting(), state == State::Converting);
    QCOMPARE(d.playing(), state == State::Playing);
    QCOMPARE(w.visible(kPlayingButton), state == State::Playing);     // Playing is shown instead
    QCOMPARE(w.visible(kConvertButton), state != State::Converting);  // and Abort
    const QStringList messagesBefore = w.texts();
    sheetsShown_ = 0;
    helpOpened_.clear();

    // The command as the user gives it; some tell at once whether it ran.
    bool ran = false;
    const std::map<int, std::function<void()>> give = {
        {kDrop, [&] { w.drop(w.chosen.toStdString()); }},
        {kClose, [&] { ran = d.close(); }},
        {kEscape, [&] { QTest::keyClick(&d, Qt::Key_Escape); }},
        {kEnter, [&] { QTest::keyClick(&d, Qt::Key_Return); }},
        {kPlayButton,
         [&] {
           if (w.visible(kPlayButton)) w.click(kPlayButton);
           ran = d.playing() && state != State::Playing;
         }},
        {kConvertButton, [&] {
           w.click(d.converting() ? kAbortButton : kConvertButton);
           ran = state == State::Converting ? d.records().state.abortRequested.load()
                                            : d.converting();
         }}};
    give.contains(command) ? give.at(command)() : w.click(command);
    const bool playingAfter = d.playing();
    if (d.converting()) d.command(kAbortButton);  // a conversion left running ends
    QVERIFY(w.waitUntilIdle());
    if (d.playing()) d.command(kStopButton);

    // The others by what they left behind.
    const auto moved = [&] { return d.cursorMs() != (state == State::NoFile ? 0 : 1000); };
    const auto closed = [&] { return !d.isVisible(); };
    const std::map<int, std::function<bool()>> effect = {
        {kLoadButton, [&] { return !w.initialNames.isEmpty(); }},
        {kDrop, [&] { return d.windowTitle() == "Zel[song.wma]"; }},
        {kStopButton, [&] { return state == State::Playing && !playingAfter; }},
        {kRewindButton, moved},
        {kFastForwardButton, moved},
        {kStartMarkButton, [&] { return d.records().range.start == 10'000'000; }},
        {kEndMarkButton, [&] { return d.records().range.end == 10'000'000; }},
        // refused with its message, or a still written in the output folder
        {kCaptureButton,
         [&] {
           return w.texts()
                      .mid(messagesBefore.size())
                      .startsWith("変換中はキャンプチャできません。") ||
                  std::any_of(fs::directory_iterator(w.start.path()), {},
                              [](const auto& e) { return e.path().extension() == ".jpg"; });
         }},
        {kSettingsButton, [&] { return sheetsShown_ == 1; }},
        {kHelpButton,
         [&] { return helpOpened_.size() == 1 && helpOpened_[0].path().endsWith("Zel.html"); }},
        {kEscape, closed},
        {kEnter, closed}};
    if (effect.contains(command)) ran = effect.at(command)();
    QCOMPARE(ran, runs);
  }

  // Play plays the marked range from the start mark; at its end Stop runs by
  // itself: the Play face is back and the cursor near the end mark.
  // Without a sound device it plays silently, and says so once a run.
  void playbackRunsToTheEndMark() {
    TestWindow w({}, PlaybackController::Sound::DefaultOutput);
    MainDialog& d = *w.dialog;
    w.drop(Media("clip.wmv"));
    d.command(kFastForwardButton);
    d.command(kFastForwardButton);
    d.command(kEndMarkButton);  // 2 s
    d.command(kRewindButton);
    d.command(kStartMarkButton);    // 1 s
    d.command(kFastForwardButton);  // the cursor somewhere else: playing starts at the mark
    w.click(kPlayButton);
    QVERIFY(d.playing() && w.visible(kPlayingButton));
    QTRY_VERIFY_WITH_TIMEOUT(d.cursorMs() >= 1000 && d.cursorMs() < 1500, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!d.playing(), 10000);
    QVERIFY(w.visible(kPlayButton) && !w.visible(kPlayingButton));
    QVERIFY2(d.cursorMs() >= 1800 && d.cursorMs() <= 2000,
             qPrintable(QString::number(d.cursorMs())));
    // a capture while playing goes on playing from the captured picture, up
    // to the end mark again (the file goes on to 4 s)
    w.click(kPlayButton);
    QTRY_VERIFY_WITH_TIMEOUT(d.cursorMs() > 1200, 3000);
    const int boxesBefore = static_cast<int>(w.boxes.size());
    w.click(kCaptureButton);
    QVERIFY(d.playing());
    QCOMPARE(static_cast<int>(w.boxes.size()), boxesBefore);  // no message while playing
    std::int64_t furthest = 0;
    QTRY_VERIFY_WITH_TIMEOUT((furthest = std::max(furthest, d.cursorMs()), !d.playing()), 10000);
    QVERIFY2(furthest <= 2000 && d.cursorMs() >= 1800, qPrintable(QString::number(furthest)));
    QVERIFY(std::any_of(fs::directory_iterator(w.start.path()), {},
                        [](const auto& e) { return e.path().extension() == ".jpg"; }));
    // without a sound device, the first Play of the run said so
    const bool device = !QMediaDevices::defaultAudioOutput().isNull();
    QCOMPARE(w.texts().filter("音声なしで再生").size(), device ? 0 : 1);
  }

  // The sheet's values are saved, read back and applied: ADJUSTFRAME lays
  // the picture over the whole preview area. A setup.ini that cannot be
  // written stays as it is, and the values chosen stay in use.
  void settingsAppliedAfterTheSheet_data() {
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("link");  // setup.ini links to a file in another folder
    QTest::newRow("setup.ini written") << true << false;
    QTest::newRow("setup.ini is a folder") << false << false;
    QTest::newRow("setup.ini links elsewhere") << true << true;
  }
  void settingsAppliedAfterTheSheet() {
    QFETCH(bool, writable);
    QFETCH(bool, link);
    TestWindow w;
    TempDir kept;
    const std::string ini = link ? kept.file("zel.ini") : w.start.file("setup.ini");
    if (link) fs::create_symlink(ini, w.start.file("setup.ini"));
    if (!writable) fs::create_directory(w.start.file("setup.ini"));
    w.drop(Media("clip.wmv"));
    answerSheet_ = [](SettingsSheet& sheet) {
      sheet.findChild<QTabWidget*>()->setCurrentIndex(3);
      sheet.findChild<QCheckBox*>("1162")->click();
      sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
    sheetsShown_ = 0;
    w.click(kSettingsButton);
    answerSheet_ = nullptr;
    QCOMPARE(sheetsShown_, 1);
    QCOMPARE(w.dialog->videoRect(), kPreviewArea.adjusted(1, 1, -1, -1));
    QCOMPARE(w.dialog->previewSurface().picture().size(), QSize(768, 310));
    QCOMPARE(fs::is_directory(w.start.file("setup.ini")), !writable);
    QCOMPARE(fs::is_symlink(w.start.file("setup.ini")), link);
    if (writable) {
      QVERIFY(zel::test::ReadFileText(ini).find("adjustframe=1") != std::string::npos);
    }
  }

  // A refused file (several at once, an MPEG with MP3 sound, a text) keeps
  // the loaded one; one that fails to open leaves none, and the caption
  // names no file. With anyinput the dialog offers every media file and the
  // MPEG is taken, by the button and by a drop alike.
  void refusedFilesKeepTheLoadedOne() {
    TestWindow w;
    MainDialog& d = *w.dialog;
    const QString several = "ファイルは1つずつ読み込んでください。";
    d.dropFiles({Media("clip.wmv"), Media("song.wma")});
    QVERIFY(!d.fileLoaded());
    QCOMPARE(d.windowTitle(), "Zel");
    w.drop(Media("clip.wmv"));
    for (const std::string& refused : {Media("layer3.mpg"), Media("clip.wmv") + ".txt"})
      w.drop(refused);
    d.dropFiles({Media("song.wma"), Media("song.wma")});
    QCOMPARE(w.texts(), QStringList({several, LoadErrorText(kUnsupportedFileError),
                                     LoadErrorText(kUnsupportedFileError), several}));
    QCOMPARE(d.records().inputPath, Media("clip.wmv"));
    QCOMPARE(d.windowTitle(), "Zel[clip.wmv]");
    // the first frame in the centre of the preview area, left out by Present
    QCOMPARE(d.videoRect(), QRect(244, 54, 320, 240));
    QCOMPARE(d.previewSurface().geometry(), d.videoRect());
    w.click(kLoadButton);  // cancelled
    QVERIFY(w.offeredFilters.filter("すべてのメディアファイル").isEmpty());
    zel::test::WriteFileBytes(w.start.file("noise.wmv"), std::vector<std::uint8_t>(5000, 0x5a));
    w.drop(w.start.file("noise.wmv"));
    QCOMPARE(w.texts().last(), "RenderFile Error.");
    QCOMPARE(d.windowTitle(), "Zel");

    TestWindow any("[zel]\nanyinput=1\n");
    any.chosen = QString::fromStdString(Media("layer3.mpg"));
    any.click(kLoadButton);
    QCOMPARE(any.offeredFilters.filter("すべてのメディアファイル").size(), 1);
    QCOMPARE(any.dialog->windowTitle(), "Zel[layer3.mpg]");
    any.drop(Media("clip.wmv"));
    any.drop(Media("layer3.mpg"));
    QCOMPARE(any.dialog->windowTitle(), "Zel[layer3.mpg]");
    QVERIFY(any.boxes.empty());
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

    // converted from the temporary file, named after it; the working
    // directory (where temporary WAVs once went) is left alone
    const std::vector<std::uint8_t> own = {'m', 'i', 'n', 'e'};
    zel::test::WriteFileBytes(w.start.file("sample_00.wav"), own);
    const fs::path before = fs::current_path();
    fs::current_path(w.start.path());
    w.click(kConvertButton);
    QVERIFY(w.waitUntilIdle());
    fs::current_path(before);
    QCOMPARE(w.texts().last(), QString("ファイルをフォルダ[%1]に保存しました。")
                                   .arg(QString::fromStdString(w.start.path().string())));
    // the driver's progress was the caption; the thread waited for the answer
    QVERIFY(w.boxes.back().caption.contains("変換中") && w.boxes.back().whileConverting);
    QCOMPARE(zel::test::ReadFileBytes(w.start.file("sample_00.wav")), own);
    QCOMPARE(d.windowTitle(), "Zel[movie.wmv]");
    QVERIFY(fs::is_regular_file(w.start.file("movie.3gp")) &&
            fs::is_regular_file(w.start.file("movie.3g2")));
    QCOMPARE(std::distance(fs::directory_iterator(w.work.path()), {}), 1);  // the WMV only

    // the next load deletes it; "Avi" is previewed as it is
    const std::string other = w.start.file("other.Avi");
    fs::copy_file(Media("clip.avi"), other);
    w.drop(other);
    QVERIFY(!fs::exists(wmv));
    QCOMPARE(d.records().inputPath, other);
    QVERIFY(d.records().tempInputPath.empty());

    // no output may be the AVI itself, here a link to a 3GP file
    const std::string own3gp = w.start.file("own.3gp");
    fs::copy_file(w.start.file("movie.3gp"), own3gp);
    fs::create_symlink("own.3gp", w.start.path() / "own.avi");
    w.drop(w.start.file("own.avi"));
    w.click(kConvertButton);
    QVERIFY(w.waitUntilIdle());
    QCOMPARE(w.texts().last(),
             "出力ファイルが入力ファイルと同じになるため、変換できません。出力フォルダ"
             "を変えてください[" +
                 QString::fromStdString(w.start.file("own.avi")) + "]");
    QVERIFY(zel::test::ReadFileBytes(own3gp) ==
            zel::test::ReadFileBytes(w.start.file("movie.3gp")));

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
    TestWindow w;
    for (auto [name, seconds, warns] : {std::tuple{"short.wav", "1.5", true},
                                        {"short.WAV", "1.5", true},
                                        {"short.Wav", "1.5", false},
                                        {"two.wav", "2.0", false}}) {
      const std::string path = w.start.file(name);
      zel::test::MakeMedia({"-f", "lavfi", "-i", std::string("sine=duration=") + seconds, "-c:a",
                            "pcm_s16le", "-f", "wav", path});
      w.boxes.clear();
      w.drop(path);
      QCOMPARE(w.texts(), warns ? QStringList{kShortWav} : QStringList{});
      QCOMPARE(w.dialog->windowTitle(), QString("Zel[%1]").arg(name));
    }
  }

  // The end of the played range stops playing also while a conversion runs
  // (here waiting for its first box); a split job warns of 8000 Hz once.
  void playbackEndsWhileAConversionWaits() {
    TestWindow w(
        "[zel]\nmpeg_audio=1\nmpeg_video=2\nframesize=2\nsplittime=1\n"
        "3gpfile=1\n3g2file=1\n");
    MainDialog& d = *w.dialog;
    w.drop(Media("clip10.wmv"));
    d.command(kFastForwardButton);
    d.command(kFastForwardButton);
    d.command(kEndMarkButton);  // 2 s: two segments
    bool endedWhileWaiting = false;
    w.answerWhen = [&] {
      endedWhileWaiting =
          endedWhileWaiting || (d.converting() && !d.playing() && w.visible(kPlayButton) &&
                                !d.positionBar().state().playing);
      return !d.playing();
    };
    w.click(kPlayButton);
    w.click(kConvertButton);
    QVERIFY(w.waitUntilIdle());
    QVERIFY(endedWhileWaiting);
    QCOMPARE(w.texts().filter("au携帯").size(), 1);
    QVERIFY(w.texts().last().startsWith("ファイルをフォルダ"));
  }

  // An interrupt closes the box that waits, on the conversion's thread or
  // the window's, and the window closes without another box.
  void interruptClosesTheBoxThatWaits() {
    for (bool converting : {true, false}) {
      TestWindow w;
      w.answerWhen = [&] { return w.dialog->closeWhenIdle(), false; };
      if (converting) {
        w.drop(Media("clip10.wmv"));
        w.click(kConvertButton);  // the 8000 Hz warning waits
      } else {
        const std::string wav = w.start.file("short.wav");  // its warning waits
        zel::test::MakeMedia({"-f", "lavfi", "-i", "sine=duration=1.5", "-c:a", "pcm_s16le", wav});
        w.drop(wav);
      }
      QTRY_VERIFY_WITH_TIMEOUT(!w.dialog->isVisible() && !w.dialog->converting(), 20000);
      QCOMPARE(static_cast<int>(w.boxes.size()), 1);
      QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
  }

  // The AVI pre-conversion runs behind a progress dialog; キャンセル stops it
  // and keeps the earlier file, an interrupt stops it and closes the window.
  void aviPreConversionCanBeStopped() {
    const std::string avi = Media("long.avi", test::Join({test::Video("320x240", "25", "40"),
                                                          test::Tone(44100, "40"),
                                                          {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}}));
    for (bool interrupt : {false, true}) {
      TestWindow w;
      w.drop(Media("clip.wmv"));
      QStringList seen;
      QTimer watch;
      QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!progress || !seen.isEmpty()) return;
        seen << progress->windowTitle() << progress->labelText()
             << progress->findChild<QPushButton*>()->text();
        interrupt ? void(w.dialog->closeWhenIdle()) : progress->findChild<QPushButton*>()->click();
      });
      watch.start(20);
      w.drop(avi);
      QCOMPARE(seen, QStringList({"Zel", "long.avi", "キャンセル"}));
      QVERIFY(fs::is_empty(w.work.path()));
      QCOMPARE(w.dialog->isVisible(), !interrupt);
      QCOMPARE(w.dialog->windowTitle(), "Zel[clip.wmv]");
      QCOMPARE(w.dialog->records().inputPath, Media("clip.wmv"));
      QVERIFY(w.dialog->preview().previewOpened());
    }
  }

  // A press on the bar moves the cursor at once, before any Tick; so does
  // the release, wherever it is. Steps that come faster than pictures (a
  // held arrow key) wait as one request, for the cursor where it is when its
  // turn comes.
  void cursorMovesAtOnceAndHeldKeysAskForOnePicture() {
    TestWindow w("[zel]\nmeasure=1\n");  // 100 ms steps
    MainDialog& d = *w.dialog;
    w.drop(Media("clip10.wmv"));
    QTest::mousePress(&d.positionBar(), Qt::LeftButton, {}, QPoint(385, 8));
    QCOMPARE(d.cursorMs(), 5000);  // the middle of 10.1 s, on the 100 ms grid
    QCOMPARE(d.preview().GetCurrentPosition(), 5000 * kHnsPerMs);
    QTest::mouseRelease(&d.positionBar(), Qt::LeftButton, {}, QPoint(77, 8));
    QCOMPARE(d.cursorMs(), 1000);
    const std::uint64_t before = d.preview().previewCounters().requests;
    for (int i = 0; i < 30; ++i)
      QCoreApplication::postEvent(
          &d, new QKeyEvent(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, {}, true));
    QTRY_COMPARE(d.cursorMs(), 4000);
    QTRY_COMPARE(d.preview().previewCounters().requests, before + 1);
    QTest::qWait(50);
    QCOMPARE(d.preview().previewCounters().requests, before + 1);
    QCOMPARE(d.preview().GetCurrentPosition(), 4000 * kHnsPerMs);
  }

  // A name that is no UTF-8 reaches the core as the bytes it is, dropped or
  // chosen in the open-file dialog.
  void namesThatAreNoUtf8() {
    TestWindow w;
    const std::string path = w.start.file(
        "old\xff\xfe"
        "clip.wmv");
    fs::copy_file(Media("clip.wmv"), path);
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"))});
    QDragEnterEvent enter(QPoint(400, 200), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDropEvent drop(QPointF(400, 200), Qt::CopyAction, &mime, Qt::LeftButton, {});
    for (QEvent* event : std::initializer_list<QEvent*>{&enter, &drop})
      QCoreApplication::sendEvent(w.dialog.get(), event);
    QTRY_COMPARE(w.dialog->records().inputPath, path);
    w.drop(Media("song.wma"));
    w.chosen = QFile::decodeName(QByteArray::fromStdString(path));
    w.click(kLoadButton);
    QCOMPARE(w.dialog->records().inputPath, path);
    QVERIFY(w.boxes.empty() && w.dialog->preview().previewOpened());
  }
};

}  // namespace zel::app

QTEST_MAIN(zel::app::MainDialogTest)
#include "MainDialogTest.moc"
