// Pictures of the settings sheet's pages and of a message box, for looking at
// them: page-shots <folder> writes one PNG per page (scripts/page-shots.sh).

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>

#include "MessageBoxNotifier.h"
#include "app/settings/SettingsSheet.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QDir folder(argc > 1 ? argv[1] : ".");
  folder.mkpath(".");

  zel::ConversionSettings settings;
  settings.result = "/home/ユーザー/ビデオ/携帯用に変換したファイル";
  zel::ApplyDefaultSettings(settings);
  zel::app::MessageBoxNotifier notifier;
  bool saved = true;
  QObject::connect(&notifier, &zel::app::MessageBoxNotifier::messageBoxShown,
                   [&](QMessageBox* box) {
                     QTimer::singleShot(0, box, [&, box] {
                       saved = saved && box->grab().save(folder.filePath("message.png"));
                       box->accept();
                     });
                   });

  zel::app::SettingsSheet sheet(settings, notifier);
  sheet.show();
  auto* tabs = sheet.findChild<QTabWidget*>();
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    QApplication::processEvents();
    const QString name = tabs->tabText(i).toLower();  // the page's caption: AUDIO, ..., EXTRA
    saved = saved && sheet.grab().save(folder.filePath(QString("sheet-%1.png").arg(name)));
  }
  notifier.showMessage("フレームレートに2の乗数は選べません。最も近い値に変更します。");
  return saved ? 0 : 1;
}
