#include "HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QStringList HelpFolders(const QString& startDirectory) {
  return {startDirectory, QCoreApplication::applicationDirPath(), ZEL_DATA_DIR};
}

QString FindHelpPage(const QStringList& folders) {
  for (const QString& folder : folders) {
    if (folder.isEmpty()) continue;
    const QFileInfo page{QDir(folder), QLatin1String(kHelpPageName)};
    if (page.isFile()) return page.absoluteFilePath();
  }
  return {};
}
