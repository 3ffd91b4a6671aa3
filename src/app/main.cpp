// zel: the desktop window.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("Zel");
  window.setFixedSize(799, 499);
  window.show();
  return app.exec();
}
