// The application: start-up, the main window, shutdown.
//
//   zel [FILE]   FILE is loaded at start as if it had been dropped on the window
#pragma once

#include <QApplication>
#include <QFont>

namespace zel::app {

// A user-interface font that has Japanese glyphs (IPA P Gothic), at the
// size of the platform's default font.
QFont JapaneseUiFont();

class ConverterApp final : public QApplication {
  Q_OBJECT

 public:
  ConverterApp(int& argc, char** argv);

  // Runs the window until it closes; the process's exit status.
  int run();

 private:
  // What Qt left of the command line: the files to load, as bytes.
  int& argc_;
  char** argv_;
};

}  // namespace zel::app
