#include "window/NativePath.h"

#include <QFile>
#include <filesystem>

namespace zel::app {

namespace fs = std::filesystem;

std::string NativePath(const QUrl& url) {
  if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == "localhost")) {
    return QFile::encodeName(url.toLocalFile()).toStdString();
  }
  // The encoded path keeps bytes that are no UTF-8 as %XX.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

std::string NativePath(const QString& path) {
  const fs::path encoded = QFile::encodeName(path).toStdString();
  std::error_code error;
  if (fs::exists(fs::symlink_status(encoded, error)) || !encoded.has_relative_path()) {
    return encoded.string();
  }
  const fs::path folder = NativePath(QFile::decodeName(encoded.parent_path().string().c_str()));
  const QString shown = QFile::decodeName(encoded.filename().string().c_str());
  fs::path found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (QFile::decodeName(entry.path().filename().string().c_str()) != shown) continue;
    if (!found.empty()) return encoded.string();  // two names look alike
    found = entry.path();
  }
  return found.empty() ? encoded.string() : found.string();
}

}  // namespace zel::app
