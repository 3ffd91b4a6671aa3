// Where the help page Zel.html is: in the start directory (beside setup.ini)
// when one is there, otherwise in the installed data folder.
#pragma once

#include <QString>

inline constexpr char kHelpPageName[] = "Zel.html";

// The absolute path of the first Zel.html found in startDirectory, then in
// dataDirectory; an empty string when neither holds one.
QString FindHelpPage(const QString& startDirectory, const QString& dataDirectory = ZEL_DATA_DIR);
