// File names as the file system spells them. Linux names are bytes, not
// necessarily UTF-8 (an old archive's "old\xff\xfeclip.wmv"); a QString
// holds such a name only with replacement characters, which name no file.
// The window therefore hands the core the bytes: from argv as they are, from
// a drop through the URL's percent-encoding, from the open-file dialog by
// finding the entry whose shown name is the one chosen.
#pragma once

#include <QString>
#include <QUrl>
#include <string>

namespace zel::app {

// The path of a dropped file: the bytes of a file: URL's path.
std::string NativePath(const QUrl& url);

// The path of a file chosen in a dialog: QFile::encodeName of it when that
// names something; otherwise each component not found is matched against
// the entries of its folder by their shown name (QFile::decodeName). An
// ambiguous or missing one stays as encodeName gives it.
std::string NativePath(const QString& path);

}  // namespace zel::app
