// zel: the desktop window.

#include "ConverterApp.h"

int main(int argc, char** argv) {
  zel::app::ConverterApp app(argc, argv);
  return app.run();
}
