// zel: the desktop window.

#include <QApplication>
#include <QWidget>

#include "skin/SkinImages.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setWindowIcon(ApplicationIcon());
  // lets a Wayland desktop match the window to zel.desktop and its icon
  QGuiApplication::setDesktopFileName("zel");
  QWidget window;
  window.setWindowTitle("Zel");
  window.setFixedSize(799, 499);
  window.show();
  return app.exec();
}
