#include "General/PathJoin.h"

namespace zel {

std::string PathFileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PathExtension(const std::string& path) {
  const std::string stem = PathWithoutExtension(path);
  return stem.size() == path.size() ? std::string() : path.substr(stem.size() + 1);
}

std::string PathWithoutExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t name = path.size() - PathFileName(path).size();
  return dot == std::string::npos || dot < name ? path : path.substr(0, dot);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace zel
