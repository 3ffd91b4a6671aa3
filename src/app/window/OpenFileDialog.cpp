#include "window/OpenFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace zel::app {
namespace {

// label|patterns|label|patterns|...||
constexpr char kFilter[] =
    "WMVファイル(*.wmv)|*.wmv|AVIファイル(*.avi)|*.avi|MPEG1ファイル(*.mpa; *.mpg; *.mpeg)|*.mpa; "
    "*.mpg; *.mpeg|WAVファイル(*.wav)|*.wav|WMAファイル(*.wma)|*.wma|All Files(*.*)|*.*||";

}  // namespace

QString InitialFileName(const QString& currentFolder) {
  return currentFolder + (currentFolder == "/" ? "" : "/") + "*.wmv";
}

QStringList OpenFileFilters() {
  QStringList filters;
  const QStringList parts = QString::fromUtf8(kFilter).split('|');
  for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty(); i += 2) {
    QStringList patterns;
    for (QString pattern : parts[i + 1].split(';')) {
      pattern = pattern.trimmed();
      if (pattern == "*.*") pattern = "*";  // every name, also one without a dot
      patterns << pattern;
      if (pattern != pattern.toUpper()) patterns << pattern.toUpper();
    }
    // Qt matches the last parenthesised patterns and, with the details
    // hidden, shows the label before them.
    filters << QString("%1 (%2)").arg(parts[i], patterns.join(' '));
  }
  return filters;
}

QString ChooseInputFile(QWidget* owner, const QString& initialName) {
  QFileDialog dialog(owner, "開く");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(OpenFileFilters());
  dialog.setDirectory(QFileInfo(initialName).path());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace zel::app
