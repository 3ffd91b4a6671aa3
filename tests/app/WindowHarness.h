#pragma once

// The main window in fresh start and work folders, shown offscreen, with
// every message box it raises recorded and answered with OK.

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "MainDialog.h"
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "window/ButtonBar.h"

namespace zel::app::test {

using zel::test::Media;
using zel::test::TempDir;

struct SeenBox {
  QString text;
  bool whileConverting;  // raised by the conversion thread, which waits for it
};

class TestWindow {
 public:
  // setupIni: the text of the start directory's setup.ini (none when empty).
  explicit TestWindow(const std::string& setupIni = {}) {
    if (!setupIni.empty()) std::ofstream(start.file("setup.ini")) << setupIni;
    MainDialog::Setup setup{start.path().string(), work.path().string(),
                            [this](QWidget*, const QString& initialName,
                                   const QStringList& filters) {
                              initialNames << initialName;
                              offeredFilters = filters;
                              return chosen;
                            }};
    setup.sound = PlaybackController::Sound::Silent;  // no sound card here
    dialog = std::make_unique<MainDialog>(std::move(setup));
    QObject::connect(&dialog->notifier(), &MessageBoxNotifier::messageBoxShown,
                     [this](QMessageBox* box) {
                       boxes.push_back({box->text(), dialog->converting()});
                       QTimer::singleShot(0, box, [box] { box->accept(); });
                     });
    dialog->show();
  }

  void drop(const std::string& path) { dialog->dropFiles({QString::fromStdString(path)}); }
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
  std::unique_ptr<MainDialog> dialog;
};

}  // namespace zel::app::test
