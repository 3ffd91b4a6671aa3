#include "General/GeneralFile.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace zel {
namespace {

// '*' matches any run of bytes, '?' one byte, everything else itself; '[' and
// '\\' have no special meaning, as in the Windows file search. Iterative
// matching with one back-track point for the last '*'.
bool MatchWildcard(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::string GneGetFileName(std::string_view path) {
  // On UTF-8 text no trail byte of a multi-byte character is '/' or '\\'
  // (they are all 0x80-0xBF), so the last such byte is always a separator;
  // the double-byte rule of Shift-JIS text is not needed.
  std::size_t at = path.find_last_of("/\\");
  if (at == std::string_view::npos) return std::string(path);
  return std::string(path.substr(at + 1));
}

bool GneFileExists(std::string_view path) {
  if (path.empty()) return false;
  std::size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.find_first_of("*?") == std::string_view::npos) {
    // lstat: a directory entry counts even when it is a dangling link.
    struct stat st {};
    return ::lstat(std::string(path).c_str(), &st) == 0;
  }
  // As in the Windows search, wildcards work in the last component only.
  std::string_view folder = slash == std::string_view::npos ? std::string_view(".")
                            : slash == 0                    ? std::string_view("/")
                                                            : path.substr(0, slash);
  if (folder.find_first_of("*?") != std::string_view::npos) return false;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(std::string(folder).c_str()), ::closedir);
  if (!dir) return false;
  // "." and ".." are entries too, as in the Windows search ("folder/*" finds
  // them even in an empty folder).
  while (const dirent* entry = ::readdir(dir.get())) {
    if (MatchWildcard(name, entry->d_name)) return true;
  }
  return false;
}

}  // namespace zel
