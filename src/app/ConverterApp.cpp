#include "ConverterApp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "General/AtomicFile.h"
#include "General/Log.h"
#include "General/WorkFolder.h"
#include "MainDialog.h"
#include "skin/SkinImages.h"
#include "source/LibavLog.h"

namespace zel::app {
namespace {

// Ctrl-C, SIGTERM and SIGHUP reach the UI thread through a socket pair: the
// handler only writes the signal's number.
int gSignalSocket[2] = {-1, -1};

void OnSignal(int signal) {
  const int savedErrno = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(gSignalSocket[0], &byte, 1);
  errno = savedErrno;
}

class InterruptWatch {
 public:
  // The signals are caught from here on, before the work folder exists: a
  // kill in between would leave a folder without its marker, which no run
  // removes. Until Attach, a signal waits on the socket.
  InterruptWatch() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalSocket) != 0)
      return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
  }
  ~InterruptWatch() {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
  }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // first: ask the window to close; second: remove the work files and end
  // as the signal ends a program.
  void Attach(MainDialog& window, const std::string& workFolder) {
    if (gSignalSocket[1] < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(gSignalSocket[1], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &window, [&window, workFolder] {
      char signal = 0;
      if (::read(gSignalSocket[1], &signal, 1) != 1) return;
      if (!window.closeWhenIdle()) return;
      RemovePartialFiles();
      std::error_code ignored;
      std::filesystem::remove_all(workFolder, ignored);
      std::signal(signal, SIG_DFL);
      std::raise(signal);
    });
  }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

QFont JapaneseUiFont() {
  QFont font = QApplication::font();
  font.setFamilies({"IPAPGothic", "IPAGothic", "Noto Sans CJK JP", "VL PGothic"});
  return font;
}

ConverterApp::ConverterApp(int& argc, char** argv)
    : QApplication(argc, argv), argc_(argc), argv_(argv) {
  setApplicationName("zel");
  setWindowIcon(ApplicationIcon());
  // lets a Wayland desktop match the window to zel.desktop and its icon
  QGuiApplication::setDesktopFileName("zel");
  setFont(JapaneseUiFont());
  // Qt's own texts (OK, キャンセル, the file dialog) in the interface's language
  auto* translator = new QTranslator(this);
  if (translator->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(translator);
  }
}

int ConverterApp::run() {
  // A file size limit (ulimit -f) or a closed pipe makes a write fail with
  // its message, instead of ending the program without one.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  SetLogProgram("zel", false);
  InstallLibavLog();
  // The start directory holds setup.ini and the help page; paths named on
  // the command line are taken from it, before the Load command moves the
  // current directory elsewhere.
  const QString startDirectory = QDir::currentPath();
  std::vector<std::string> files;  // bytes as given: a name need not be UTF-8
  std::error_code ignored;
  for (int i = 1; i < argc_; ++i) files.push_back(std::filesystem::absolute(argv_[i], ignored));

  InterruptWatch interrupts;
  WorkFolder workFolder;
  std::string error;
  if (!workFolder.Create("zel", &error)) {
    LogError(error);
    QMessageBox::critical(nullptr, "Zel", QString::fromStdString(error));
    return 1;
  }

  MainDialog window({startDirectory.toStdString(), workFolder.path()});
  interrupts.Attach(window, workFolder.path());
  connect(&window, &QDialog::finished, this, &QCoreApplication::quit);
  window.show();
  if (!files.empty()) {
    QMetaObject::invokeMethod(
        &window, [&window, files] { window.dropFiles(files); }, Qt::QueuedConnection);
  }
  return exec();
}

}  // namespace zel::app
