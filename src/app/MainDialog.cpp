#include "MainDialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <QTimerEvent>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "CursorArithmetic.h"
#include "General/Log.h"
#include "General/MediaTypes.h"
#include "General/PathJoin.h"
#include "HelpPage.h"
#include "PositionBar.h"
#include "app/settings/SettingsSheet.h"
#include "convert/ConversionDriver.h"
#include "convert/StillCapture.h"
#include "skin/SkinImages.h"
#include "window/AviProgress.h"
#include "window/ButtonBar.h"
#include "window/ConversionController.h"
#include "window/FileLoader.h"
#include "window/NativePath.h"
#include "window/PreviewSurface.h"
#include "window/WindowLayout.h"

namespace zel::app {
namespace {

constexpr int kTimerPeriodMs = 100;
constexpr char kShortWavWarning[] = "2秒より短いファイルは再生できない可能性があります。";
constexpr char kHelpFailure[] = "ヘルプのオープンに失敗しました。";
constexpr char kOneFileAtATime[] = "ファイルは1つずつ読み込んでください。";
constexpr char kNoSoundOutput[] = "音声を出力できる装置がないため、音声なしで再生します。";

// A file name as the file system spells it, shown as well as it can be.
QString Caption(const std::string& fileName) {
  return QString("Zel[%1]").arg(QFile::decodeName(QByteArray::fromStdString(fileName)));
}

}  // namespace

MainDialog::MainDialog(Setup setup, QWidget* parent)
    : QDialog(parent),
      setup_(std::move(setup)),
      notifier_(this),
      backBuffer_(devicePixelRatioF()),
      statusPainter_(backBuffer_.image(SkinImage::kStatusBackground)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle("Zel");
  setFixedSize(kClientSize);
  setAcceptDrops(true);
  // Everything is painted from the back buffer.
  setAttribute(Qt::WA_OpaquePaintEvent);

  loadSettings();

  buttons_ = new ButtonBar(this, backBuffer_);
  connect(buttons_, &ButtonBar::command, this, &MainDialog::command);
  surface_ = new PreviewSurface(this);
  bar_ = new PositionBar(this);
  bar_->move(kBarArea.topLeft());
  loader_ =
      std::make_unique<FileLoader>(records_, preview_, *surface_, notifier_, setup_.workFolder);
  conversion_ = std::make_unique<ConversionController>(records_, notifier_);
  playback_ = std::make_unique<PlaybackController>(preview_, setup_.sound);
  // The end of the played range stops playing, whatever else runs.
  connect(playback_.get(), &PlaybackController::finished, this, &MainDialog::stopPlayback);
  connect(playback_.get(), &PlaybackController::soundUnavailable, this,
          &MainDialog::soundUnavailable);
  // A press moves the cursor at once; a release shows the exact picture.
  for (auto edge : {&PositionBar::pressed, &PositionBar::released}) {
    connect(bar_, edge, this, [this] {
      followDrag(true);
      refresh();
    });
  }
  connect(conversion_.get(), &ConversionController::started, this, &MainDialog::conversionStarted);
  connect(conversion_.get(), &ConversionController::finished, this,
          &MainDialog::conversionFinished);
  // The driver's progress text is the caption while it converts.
  connect(&notifier_, &MessageBoxNotifier::captionChanged, this, &QWidget::setWindowTitle);

  drawEmptyBar();
  refresh();
  timer_.start(kTimerPeriodMs, this);
}

MainDialog::~MainDialog() {
  timer_.stop();
  playback_.reset();
  conversion_.reset();  // only a program ended by a signal gets here while converting
  SaveSettings(records_.settings, setup_.startDirectory);
  loader_->unload();
}

void MainDialog::loadSettings() {
  ConversionSettings& settings = records_.settings;
  settings.result = setup_.startDirectory;
  const SettingsLoad load = LoadSettings(settings, setup_.startDirectory);
  if (const std::string why = DescribeSettingsLoad(load, SettingsFilePath(setup_.startDirectory));
      !why.empty()) {
    LogError(why);
  }
  // A setup.ini without an output folder would leave the files in whatever
  // folder the last Load command went to.
  if (settings.result.empty()) settings.result = setup_.startDirectory;
  ComputeMeasureStep(settings);
  measureStepMs_ = settings.measure_step;
}

void MainDialog::command(int id) {
  if (loading_) return;  // the AVI pre-conversion's dialog is being closed
  switch (id) {
    case kLoadButton:
      return loadCommand();
    case kPlayButton:
      return playCommand();
    case kStopButton:
      return stopCommand();
    case kRewindButton:
      return stepCommand(-1);
    case kFastForwardButton:
      return stepCommand(+1);
    case kStartMarkButton:
      return startMarkCommand();
    case kEndMarkButton:
      return endMarkCommand();
    case kCaptureButton:
      return captureCommand();
    case kConvertButton:
    case kAbortButton:
      return convertCommand();
    case kSettingsButton:
      return settingsCommand();
    case kHelpButton:
      return helpCommand();
    default:
      return;  // Playing has no command
  }
}

void MainDialog::loadCommand() {
  if (playing_ || converting()) return;
  const QString chosen = setup_.chooseFile(this, InitialFileName(QDir::currentPath()),
                                           OpenFileFilters(records_.settings.anyinput != 0));
  if (chosen.isEmpty()) return;
  const std::string file = NativePath(chosen);
  // The next Load starts in the chosen file's folder.
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::path(file).parent_path(), ignored);
  if (loader_->accept(file)) loadFile(file);
}

void MainDialog::dropFiles(const std::vector<std::string>& paths) {
  if (playing_ || converting() || loading_ || paths.empty()) return;
  if (paths.size() > 1) {
    notifier_.showMessage(kOneFileAtATime);
    return;
  }
  if (loader_->accept(paths.front())) loadFile(paths.front());
}

void MainDialog::loadFile(const std::string& path) {
  if (converting()) return;
  loading_ = true;
  loadAbort_ = false;
  const LoadedFile loaded = loader_->load(path, [this](PreparedInput& input) {
    return PreConvertAvi(this, input, notifier_, loadAbort_);
  });
  loading_ = false;
  if (!loaded.cancelled) {
    // The caption names the file loaded; after a failed load there is none.
    setWindowTitle(loaded.opened ? Caption(loaded.name) : QString("Zel"));
    surface_->clear();
    videoRect_ = QRect();
    fileLoaded_ = true;
    cursorMs_ = previousCursorMs_ = 0;
    pictureRequested_ = false;
    layOutVideo();
    showPicture(SeekKind::Exact);
    drawEmptyBar();
    refresh();
  }
  if (closeRequested_) {
    close();
  } else if (loaded.shortWav) {
    notifier_.showMessage(kShortWavWarning);
  }
}

void MainDialog::playCommand() {
  if (!fileLoaded_ || converting()) return;
  // Always the marked range, from the start mark wherever the cursor is.
  pictureRequested_ = false;  // a step's picture would stop it
  buttons_->showPlaying(true);
  playing_ = playback_->play(records_.range.start, records_.range.end);
  if (!playing_) buttons_->showPlaying(false);
  refresh();
}

void MainDialog::resumePlayback(std::int64_t fromMs) {
  playing_ = playback_->play(fromMs * kHnsPerMs, records_.range.end);
  if (!playing_) stopCommand();
}

void MainDialog::stopCommand() {
  if (!fileLoaded_ || converting()) return;
  stopPlayback();
}

void MainDialog::stopPlayback() {
  buttons_->showPlaying(false);
  playback_->stop();  // silent at once; the cursor stays where playback left it
  playing_ = false;
  refresh();
}

void MainDialog::soundUnavailable() {
  if (soundNoticeShown_) return;
  soundNoticeShown_ = true;
  notifier_.showMessage(kNoSoundOutput);
}

void MainDialog::stepCommand(int direction) {
  // Also while playing or converting: it moves only the preview.
  if (!preview_.previewOpened()) return;
  cursorMs_ =
      StepCursorMs(cursorMs_, std::int64_t{direction} * measureStepMs_, shownRange().duration);
  refresh();
  requestPicture();
}

void MainDialog::requestPicture() {
  if (pictureRequested_) return;
  pictureRequested_ = true;
  // Queued behind the events that have come in meanwhile (a held arrow
  // key's repeats), which move the cursor only.
  QTimer::singleShot(0, this, &MainDialog::showRequestedPicture);
}

void MainDialog::showRequestedPicture() {
  if (!pictureRequested_) return;
  pictureRequested_ = false;
  showPicture(SeekKind::Exact);
}

void MainDialog::showPicture(SeekKind kind) {
  preview_.ShowFrameAt(cursorMs_ * kHnsPerMs, kind);
  exactShown_ = kind == SeekKind::Exact;
}

void MainDialog::followDrag(bool ending) {
  // While playing, dragging has no effect.
  if (playing_ || !preview_.previewOpened()) return;
  const std::optional<std::int64_t> dragged = bar_->dragCursorMs(measureStepMs_);
  if (!dragged) return;
  if (*dragged != cursorMs_) {
    cursorMs_ = *dragged;
    pictureRequested_ = false;
    showPicture(ending ? SeekKind::Exact : SeekKind::NearestKeyFrame);
  } else if (!exactShown_) {
    showPicture(SeekKind::Exact);  // the pointer rests, or the drag ends
  }
}

void MainDialog::startMarkCommand() {
  if (!fileLoaded_ || playing_ || converting()) return;
  // never behind the end mark; the display is refreshed all the same
  SetStartMark(records_.range, cursorMs_);
  refresh();
}

void MainDialog::endMarkCommand() {
  if (!fileLoaded_ || playing_ || converting()) return;
  if (SetEndMark(records_.range, cursorMs_)) refresh();  // never before the start mark
}

void MainDialog::captureCommand() {
  showRequestedPicture();  // the capture takes the preview's position
  // The records are the conversion's while it runs: CaptureCommand refuses
  // then before it touches them.
  const CaptureCommandResult capture = CaptureCommand(
      preview_, records_.state, records_.params, records_.settings.capturesize,
      records_.settings.result, setup_.workFolder, playing_, records_.settings.keepaspect != 0);
  for (const char* message : capture.messages) notifier_.showMessage(message);
  if (capture.refused || capture.result == StillCaptureResult::kNothing) return;
  cursorMs_ = capture.cursorMs;
  refresh();
  // Playback goes on from the captured picture to the end mark.
  if (playing_ && CaptureTookPicture(capture.result)) resumePlayback(cursorMs_);
}

void MainDialog::convertCommand() {
  if (!fileLoaded_) return;
  conversion_->convertOrAbort();
}

void MainDialog::conversionStarted() {
  rangeAtStart_ = records_.range;
  buttons_->showConverting(true);
  update();
}

void MainDialog::conversionFinished(ConversionOutcome outcome) {
  buttons_->showConverting(false);
  // A refused job never changed the caption.
  if (outcome != ConversionOutcome::Refused)
    setWindowTitle(Caption(PathFileName(records_.inputPath)));
  refresh();
  if (closeRequested_) close();
}

void MainDialog::settingsCommand() {
  if (playing_ || converting()) return;
  {
    SettingsSheet sheet(records_.settings, notifier_, this);
    sheet.exec();
  }
  // Read back as stored. When setup.ini cannot be written, the values the
  // user chose stay in use rather than the file's older ones.
  if (SaveSettings(records_.settings, setup_.startDirectory)) {
    loadSettings();
  } else {
    ComputeMeasureStep(records_.settings);
    measureStepMs_ = records_.settings.measure_step;
  }
  layOutVideo();
  refresh();
}

void MainDialog::helpCommand() {
  const QString page = FindHelpPage(HelpFolders(QString::fromStdString(setup_.startDirectory)));
  if (page.isEmpty()) {
    notifier_.showMessage(kHelpFailure);
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
    // No browser to show it (xdg-open missing): the user can open it by hand.
    notifier_.showMessage(std::string(kHelpFailure) + "\n" + page.toStdString());
  }
}

bool MainDialog::closeWhenIdle() {
  if (closeRequested_) return true;
  closeRequested_ = true;
  notifier_.dismissAll();
  if (converting()) {
    records_.state.abortRequested = true;
  } else if (loading_) {
    loadAbort_ = true;  // the load then closes the window
  } else {
    close();
  }
  return false;
}

void MainDialog::reject() {
  if (converting()) return;
  QDialog::reject();
}

void MainDialog::layOutVideo() {
  videoRect_ = surface_->layOut(preview_, records_.settings.adjustframe).value_or(QRect());
}

MarkedRange MainDialog::shownRange() const { return converting() ? rangeAtStart_ : records_.range; }

StatusFacts MainDialog::statusFacts() const {
  StatusFacts facts;
  facts.shown = fileLoaded_ && preview_.previewOpened();
  if (!facts.shown) return facts;
  const MediaInfo& info = preview_.previewInfo();
  facts.hasVideo = info.hasVideo;
  facts.frameRate = info.frameRate;
  facts.displayWidth = info.displayWidth;
  facts.displayHeight = info.displayHeight;
  facts.hasAudio = info.hasAudio;
  facts.sampleRate = info.sampleRate;
  facts.channels = info.channels;
  const MarkedRange range = shownRange();
  facts.durationHns = range.duration;
  facts.cursorMs = cursorMs_;
  facts.startHns = range.start;
  facts.endHns = range.end;
  return facts;
}

void MainDialog::drawEmptyBar() { backBuffer_.paintImage(kBarArea, SkinImage::kBarBackground); }

void MainDialog::refresh() {
  {
    QPainter painter(&backBuffer_.pixmap());
    statusPainter_.paint(painter, statusFacts());
  }
  const MarkedRange range = shownRange();
  bar_->setState(
      {preview_.previewOpened(), range.duration, range.start, range.end, cursorMs_, playing_});
  update();
}

void MainDialog::tick() {
  previousCursorMs_ = cursorMs_;
  if (playing_ && preview_.previewOpened()) {
    cursorMs_ = preview_.GetCurrentPosition() / kHnsPerMs;
  } else {
    // A drag moves the cursor at the timer's pace, and at its press and
    // release.
    followDrag(false);
  }
  if (cursorMs_ != previousCursorMs_) refresh();
}

void MainDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  backBuffer_.present(painter, videoRect_);
}

void MainDialog::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) {
    tick();
  } else {
    QDialog::timerEvent(event);
  }
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  // Key repeat repeats the step.
  if (event->key() == Qt::Key_Left && event->modifiers() == Qt::NoModifier) {
    stepCommand(-1);
  } else if (event->key() == Qt::Key_Right && event->modifiers() == Qt::NoModifier) {
    stepCommand(+1);
  } else {
    QDialog::keyPressEvent(event);
  }
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) paths.push_back(NativePath(url));
  event->acceptProposedAction();
  // Loaded once the drop is over: the file manager need not wait for the
  // loading and its messages.
  QMetaObject::invokeMethod(
      this, [this, paths] { dropFiles(paths); }, Qt::QueuedConnection);
}

}  // namespace zel::app
