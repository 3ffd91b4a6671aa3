// zel-window-shots: runs the application as zel does, on a display (Xvfb
// under scripts/screenshots.sh), drives its window through a few states and
// saves pictures of the screen:
//   idle.png, loaded.png, playing.png, capture.png (the still and the output
//   folder after a capture), refusal.png, settings-<page>.png, open-file.png,
//   avi-progress.png (the AVI pre-conversion, then cancelled), converting.png,
//   and no-sound.png where playing finds no sound device
// Each picture shows the windows on the screen with the window's caption
// written above them (without a window manager nothing draws it).
// Usage: zel-window-shots OUTDIR CLIP LONGCLIP AVI

#include <QAbstractButton>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "ConverterApp.h"
#include "MainDialog.h"
#include "app/settings/SettingsSheet.h"
#include "window/ButtonBar.h"

using namespace zel::app;

namespace {

void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  for (int waited = 0; !done(); waited += 50) {
    if (waited > timeoutMs) return false;
    Wait(50);
  }
  return true;
}

class Shots {
 public:
  Shots(QString folder, MainDialog& window) : folder_(std::move(folder)), window_(window) {}

  // The screen around every visible window, the main window's caption above.
  void take(const QString& name) {
    Wait(300);  // let the windows paint
    QRect area;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) area |= w->frameGeometry();
    area.adjust(-12, -12, 12, 12);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    area &= screen.rect();
    const int captionHeight = 26;
    QImage picture(area.width(), area.height() + captionHeight, QImage::Format_RGB32);
    picture.fill(QColor(0x30, 0x34, 0x3a));
    QPainter painter(&picture);
    painter.setPen(Qt::white);
    painter.drawText(QRect(12, 0, area.width() - 24, captionHeight), Qt::AlignVCenter,
                     "caption: " + window_.windowTitle());
    painter.drawPixmap(0, captionHeight, screen.copy(area));
    painter.end();
    const QString path = QDir(folder_).filePath(name + ".png");
    ok_ = picture.save(path) && ok_;
    std::printf("%s  [%s]\n", qPrintable(path), qPrintable(window_.windowTitle()));
  }
  bool ok() const { return ok_; }

 private:
  QString folder_;
  MainDialog& window_;
  bool ok_ = true;
};

MainDialog* FindWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* window = qobject_cast<MainDialog*>(w)) return window;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: zel-window-shots OUTDIR CLIP LONGCLIP AVI\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString clip = QString::fromLocal8Bit(argv[2]);
  const QString longClip = QString::fromLocal8Bit(argv[3]);
  const std::string avi = argv[4];
  int appArgc = 1;
  ConverterApp app(appArgc, argv);
  QDir().mkpath(folder);
  bool ok = false;

  QTimer::singleShot(0, &app, [&] {
    MainDialog* window = FindWindow();
    if (!window) return QApplication::exit(1);
    Shots shots(folder, *window);
    if (!WaitFor([&] { return window->isVisible(); }, 5000)) return window->close(), void();
    shots.take("idle");

    window->dropFiles({clip.toStdString()});
    for (int i = 0; i < 3; ++i) window->command(kFastForwardButton);
    window->command(kStartMarkButton);
    for (int i = 0; i < 2; ++i) window->command(kFastForwardButton);
    shots.take("loaded");

    // the marked range played: the played strip runs from the start mark to
    // the cursor; without a sound device a box says so first
    QObject::connect(&window->notifier(), &MessageBoxNotifier::messageBoxShown, window,
                     [&](QMessageBox* box) {
                       QTimer::singleShot(0, box, [&, box] {
                         if (box->text().contains("音声なしで")) shots.take("no-sound");
                         box->accept();
                       });
                     });
    for (int i = 0; i < 3; ++i) window->command(kFastForwardButton);
    window->command(kEndMarkButton);
    window->command(kPlayButton);
    WaitFor([&] { return window->cursorMs() >= 4600 && window->cursorMs() < 7900; }, 10000);
    shots.take("playing");
    window->command(kStopButton);

    // boxes: pictured, then answered
    QObject::disconnect(&window->notifier(), &MessageBoxNotifier::messageBoxShown, nullptr,
                        nullptr);
    QObject::connect(&window->notifier(), &MessageBoxNotifier::messageBoxShown, window,
                     [&](QMessageBox* box) {
                       QTimer::singleShot(0, box, [&, box] {
                         if (box->text().startsWith("サポート")) shots.take("refusal");
                         box->accept();
                       });
                     });
    window->dropFiles({QDir(folder).filePath("notes.txt").toStdString()});

    // a still of the frame under the cursor, and the output folder after it
    QObject::disconnect(&window->notifier(), &MessageBoxNotifier::messageBoxShown, nullptr, nullptr);
    QString captured;
    QObject::connect(&window->notifier(), &MessageBoxNotifier::messageBoxShown, window,
                     [&](QMessageBox* box) {
                       QTimer::singleShot(0, box, [&, box] {
                         if (box->text().startsWith("画像")) {
                           captured = box->text();
                           shots.take("capture-message");
                         }
                         box->accept();
                       });
                     });
    window->command(kCaptureButton);
    {
      const QDir result(QString::fromStdString(window->records().settings.result));
      const QStringList files = result.entryList(QDir::Files, QDir::Name);
      QImage sheet(520, 260, QImage::Format_RGB32);
      sheet.fill(QColor(0x30, 0x34, 0x3a));
      QPainter painter(&sheet);
      painter.setPen(Qt::white);
      painter.drawText(12, 22, "output folder after the capture: " + result.path());
      int y = 48;
      for (const QString& name : files) {
        painter.drawText(12, y, name);
        if (name.endsWith(".jpg")) painter.drawImage(QPoint(200, 40), QImage(result.filePath(name)));
        y += 18;
      }
      painter.drawText(12, 250, "message: " + captured);
      painter.end();
      sheet.save(QDir(folder).filePath("capture.png"));
    }

    QTimer::singleShot(0, window, [&] {
      auto* sheet = qobject_cast<SettingsSheet*>(QApplication::activeModalWidget());
      if (!sheet) return;
      auto* tabs = sheet->findChild<QTabWidget*>();
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        shots.take("settings-" + tabs->tabText(i).toLower());
      }
      sheet->reject();
    });
    window->command(kSettingsButton);

    QTimer::singleShot(0, window, [&] {
      if (QWidget* dialog = QApplication::activeModalWidget()) {
        shots.take("open-file");
        dialog->close();
      }
    });
    window->command(kLoadButton);

    // the AVI's pre-conversion a little way in, then cancelled: the clip
    // stays loaded
    QTimer progressWatch;
    QObject::connect(&progressWatch, &QTimer::timeout, window, [&] {
      auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
      if (!progress || progress->value() < 100) return;
      progressWatch.stop();
      shots.take("avi-progress");
      progress->findChild<QPushButton*>()->click();
    });
    progressWatch.start(50);
    window->dropFiles({avi});

    window->dropFiles({longClip.toStdString()});
    window->command(kConvertButton);
    WaitFor([&] { return window->windowTitle().contains("sampletime:00:0"); }, 60000);
    shots.take("converting");
    window->command(kAbortButton);
    WaitFor([&] { return !window->converting(); }, 60000);
    ok = shots.ok();
    window->close();
  });
  const int status = app.run();
  return status == 0 && ok ? 0 : 1;
}
