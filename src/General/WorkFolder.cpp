#include "General/WorkFolder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zel {

namespace {

namespace fs = std::filesystem;

// The programs whose work folders we recognise, longest first so that
// "zel-convert-" is not read as "zel-" with the pid "convert".
constexpr std::string_view kPrograms[] = {"zel-convert", "zel"};

// The process id of a work folder's name "<program>-<pid>-XXXXXX", or 0.
pid_t WorkFolderOwner(std::string_view name) {
  for (std::string_view program : kPrograms) {
    if (!name.starts_with(program) || name.size() <= program.size() ||
        name[program.size()] != '-') {
      continue;
    }
    std::string_view rest = name.substr(program.size() + 1);
    const std::size_t dash = rest.find('-');
    // mkdtemp replaces exactly six characters
    if (dash == std::string_view::npos || dash == 0 || dash > 9 || rest.size() != dash + 7) return 0;
    pid_t pid = 0;
    for (char c : rest.substr(0, dash)) {
      if (c < '0' || c > '9') return 0;
      pid = pid * 10 + (c - '0');
    }
    return pid;
  }
  return 0;
}

bool ProcessExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

WorkFolder::~WorkFolder() { Remove(); }

bool WorkFolder::Create(std::string_view program, std::string* error) {
  Remove();
  std::error_code ec;
  const fs::path temporary = fs::temp_directory_path(ec);
  if (ec) {
    if (error) *error = "no temporary folder (TMPDIR): " + ec.message();
    return false;
  }
  RemoveStaleWorkFolders(temporary.string());
  std::string pattern =
      (temporary / (std::string(program) + "-" + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    if (error) *error = "cannot create a folder in " + temporary.string() + ": " +
                        std::generic_category().message(errno);
    return false;
  }
  path_ = pattern;
  return true;
}

void WorkFolder::Remove() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
  path_.clear();
}

int RemoveStaleWorkFolders(const std::string& temporaryFolder) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(temporaryFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t pid = WorkFolderOwner(name);
    if (pid <= 0 || pid == ::getpid() || ProcessExists(pid)) continue;
    // Only real folders of this user: never follow a link, never touch what
    // another user left in a shared /tmp.
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
      continue;
    }
    std::error_code ignored;
    if (fs::remove_all(it->path(), ignored) > 0 && !ignored) ++removed;
  }
  return removed;
}

}  // namespace zel
