// Where the help page Zel.html is: in the start directory (beside setup.ini)
// when one is there, then beside the program (a build tree keeps it there),
// then in the installed data folder.
#pragma once

#include <QString>
#include <QStringList>

inline constexpr char kHelpPageName[] = "Zel.html";

// The folders looked in, in order, for a window started in startDirectory.
QStringList HelpFolders(const QString& startDirectory);

// The absolute path of the first Zel.html found in the folders; an empty
// string when none holds one.
QString FindHelpPage(const QStringList& folders);
