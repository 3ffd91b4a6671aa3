// The main window: one fixed 799 x 499 skinned window that holds the user's
// work. It is assembled from parts with one job each (back buffer, buttons,
// status lines, preview surface, file loader, conversion controller) and
// owns the records they share, once.
//
// Commands are never disabled: each checks the window's state (file loaded,
// playing, converting) itself and does nothing where it does not apply.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "MessageBoxNotifier.h"
#include "playback/PlaybackController.h"
#include "source/PreviewSource.h"
#include "window/BackBuffer.h"
#include "window/OpenFileDialog.h"
#include "window/StatusPainter.h"
#include "window/WindowRecords.h"

namespace zel {
enum class ConversionOutcome;
}

namespace zel::app {

class ButtonBar;
class ConversionController;
class FileLoader;
class PositionBar;
class PreviewSurface;

class MainDialog final : public QDialog {
  Q_OBJECT

 public:
  struct Setup {
    std::string startDirectory;  // holds setup.ini and the help page
    std::string workFolder;      // the private work folder: segment WAVs, the AVI's WMV
    FileChooser chooseFile = ChooseInputFile;
    PlaybackController::Sound sound = PlaybackController::Sound::DefaultOutput;
  };

  // Start-up: the settings from the start directory's setup.ini (the output
  // folder defaults to the start directory), the skin, the 100 ms timer.
  explicit MainDialog(Setup setup, QWidget* parent = nullptr);
  // Shutdown: the settings saved, the preview closed, the temporary WMV deleted.
  ~MainDialog() override;

  // A button's command, by the button's id.
  void command(int id);
  // Files dropped on the window (or named on the command line), their paths
  // as the file system spells them (bytes, not necessarily UTF-8): one file
  // is checked and loaded; several at once are refused with a message.
  void dropFiles(const std::vector<std::string>& paths);

  // An interrupt (Ctrl-C, SIGTERM, SIGHUP): every message box that waits
  // closes and no other opens; the window closes as soon as no conversion
  // and no AVI pre-conversion runs, a running one being stopped first.
  // True when this had been asked before.
  bool closeWhenIdle();

  // Draws the status lines and the position bar into the back buffer and
  // presents it.
  void refresh();

  bool fileLoaded() const { return fileLoaded_; }
  bool loading() const { return loading_; }  // an AVI input is being pre-converted
  bool playing() const { return playing_; }
  bool converting() const { return records_.state.converting; }
  std::int64_t cursorMs() const { return cursorMs_; }
  // The marks as the window shows them: while converting, as they were when
  // the conversion started (the conversion owns the records meanwhile).
  MarkedRange shownRange() const;
  StatusFacts statusFacts() const;
  // The rectangle Present leaves to the preview video (window coordinates),
  // empty without one.
  QRect videoRect() const { return videoRect_; }

  // Read these only while not converting.
  const WindowRecords& records() const { return records_; }
  MessageBoxNotifier& notifier() { return notifier_; }
  ButtonBar& buttons() { return *buttons_; }
  PreviewSurface& previewSurface() { return *surface_; }
  PositionBar& positionBar() { return *bar_; }
  PlaybackController& playback() { return *playback_; }
  PreviewSource& preview() { return preview_; }
  BackBuffer& backBuffer() { return backBuffer_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Enter does nothing; Escape and the close box are refused while converting.
  void accept() override {}
  void reject() override;

 private:
  void loadCommand();
  void playCommand();
  void stopCommand();
  // Plays from fromMs to the end mark (after a capture while playing).
  void resumePlayback(std::int64_t fromMs);
  void stepCommand(int direction);
  void startMarkCommand();
  void endMarkCommand();
  void captureCommand();
  void convertCommand();
  void settingsCommand();
  void helpCommand();

  void loadFile(const std::string& path);
  void loadSettings();
  void layOutVideo();
  void drawEmptyBar();
  void tick();
  // The end of the played range, or Stop: the Play face back, the sound off.
  void stopPlayback();
  void soundUnavailable();
  // The cursor follows a drag on the bar: a key frame near it while it
  // moves, the exact picture when it rests or the button is let go (ending).
  void followDrag(bool ending);
  void showPicture(SeekKind kind);
  // Steps ask for the picture at the cursor through here: one request waits
  // at most, and it shows wherever the cursor is when its turn comes.
  void requestPicture();
  void showRequestedPicture();
  void conversionStarted();
  void conversionFinished(ConversionOutcome outcome);

  const Setup setup_;
  WindowRecords records_;
  MessageBoxNotifier notifier_;
  PreviewSource preview_;  // the conversion has its own
  BackBuffer backBuffer_;
  StatusPainter statusPainter_;
  ButtonBar* buttons_;
  PreviewSurface* surface_;
  PositionBar* bar_;
  std::unique_ptr<FileLoader> loader_;
  std::unique_ptr<ConversionController> conversion_;
  std::unique_ptr<PlaybackController> playback_;
  QBasicTimer timer_;  // the window's only timer, "100"

  bool fileLoaded_ = false;  // set by the first load, never cleared
  bool playing_ = false;
  bool closeRequested_ = false;
  bool loading_ = false;
  std::atomic<bool> loadAbort_ = false;  // stops the AVI pre-conversion
  bool pictureRequested_ = false;
  bool exactShown_ = true;         // the picture shown is the cursor's own
  bool soundNoticeShown_ = false;  // once per run
  // Milliseconds; 64-bit, so that no file is too long for the cursor.
  std::int64_t cursorMs_ = 0;
  std::int64_t previousCursorMs_ = 0;  // the cursor at the start of the current tick
  int measureStepMs_ = 1000;           // the step of Rewind and Fast forward
  MarkedRange rangeAtStart_;           // shown while converting
  QRect videoRect_;
};

}  // namespace zel::app
