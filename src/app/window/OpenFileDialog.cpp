#include "window/OpenFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace zel::app {
namespace {

// label|patterns|label|patterns|...||
constexpr char kFilter[] =
    "WMVファイル(*.wmv)|*.wmv|AVIファイル(*.avi)|*.avi|MPEG1ファイル(*.mpa; *.mpg; *.mpeg)|*.mpa; "
    "*.mpg; *.mpeg|WAVファイル(*.wav)|*.wav|WMAファイル(*.wma)|*.wma|All Files(*.*)|*.*||";
// What the anyinput setting adds: the usual names of today's media files.
constexpr char kAllMedia[] = "すべてのメディアファイル";
constexpr char kAllMediaPatterns[] =
    "*.mp4; *.m4v; *.mov; *.mkv; *.webm; *.avi; *.wmv; *.asf; *.mpg; *.mpeg; *.mpa; *.ts; *.m2ts; "
    "*.mts; *.flv; *.3gp; *.3g2; *.mp3; *.m4a; *.aac; *.flac; *.ogg; *.oga; *.opus; *.wav; *.wma";

}  // namespace

QString InitialFileName(const QString& currentFolder) {
  return currentFolder + (currentFolder == "/" ? "" : "/") + "*.wmv";
}

QStringList OpenFileFilters(bool anyInput) {
  QStringList filters;
  QStringList parts = QString::fromUtf8(kFilter).split('|');
  if (anyInput) {
    const qsizetype allFiles = parts.indexOf("All Files(*.*)");
    parts.insert(allFiles, QString::fromUtf8(kAllMediaPatterns));
    parts.insert(allFiles, QString::fromUtf8(kAllMedia));
  }
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

QString ChooseInputFile(QWidget* owner, const QString& initialName, const QStringList& filters) {
  QFileDialog dialog(owner, "開く");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(filters);
  dialog.setDirectory(QFileInfo(initialName).path());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace zel::app
