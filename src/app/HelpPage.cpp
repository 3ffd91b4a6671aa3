#include "HelpPage.h"

#include <QDir>
#include <QFileInfo>

QString FindHelpPage(const QString& startDirectory, const QString& dataDirectory) {
  for (const QString& folder : {startDirectory, dataDirectory}) {
    if (folder.isEmpty()) continue;
    const QFileInfo page{QDir(folder), QLatin1String(kHelpPageName)};
    if (page.isFile()) return page.absoluteFilePath();
  }
  return {};
}
