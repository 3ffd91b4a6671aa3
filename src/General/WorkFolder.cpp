#include "General/WorkFolder.h"

#include <fcntl.h>
#include <sys/file.h>
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

// Whether name has the form of a work folder's, "<program>-<pid>-XXXXXX".
// A user's own folder may have it too: the marker tells them apart.
bool HasWorkFolderName(std::string_view name) {
  for (std::string_view program : kPrograms) {
    if (!name.starts_with(program) || name.size() <= program.size() ||
        name[program.size()] != '-') {
      continue;
    }
    std::string_view rest = name.substr(program.size() + 1);
    const std::size_t dash = rest.find('-');
    // mkdtemp replaces exactly six characters
    if (dash == std::string_view::npos || dash == 0 || dash > 9 || rest.size() != dash + 7) {
      return false;
    }
    return rest.substr(0, dash).find_first_not_of("0123456789") == std::string_view::npos;
  }
  return false;
}

// The system's temporary folder: the first of the variables that
// temp_directory_path reads that is set and not empty (an empty one is the
// same as an unset one), else /tmp.
fs::path TemporaryFolder() {
  for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/tmp";
}

// Closes a descriptor at the end of a scope.
struct Descriptor {
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};

// Whether the descriptor is of the given kind and owned by this user.
bool OwnedByUs(int fd, mode_t kind) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == kind && st.st_uid == ::getuid();
}

// Locks the marker of a new folder and returns its descriptor, or -1. The
// marker is locked under another name and then renamed, so that no other
// run can ever find it unlocked and take the folder for a dead run's.
int LockNewMarker(const std::string& folder) {
  const std::string marker = folder + "/" + kWorkFolderMarker;
  const std::string unlocked = marker + "-new";
  const int fd = ::open(unlocked.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(unlocked.c_str(), marker.c_str()) != 0) {
    ::unlink(unlocked.c_str());
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

WorkFolder::~WorkFolder() { Remove(); }

bool WorkFolder::Create(std::string_view program, std::string* error) {
  Remove();
  std::error_code ec;
  const fs::path temporary = TemporaryFolder();
  if (!fs::is_directory(temporary, ec)) {
    if (error) {
      *error = "no temporary folder (TMPDIR): " + temporary.string() + ": " +
               (ec ? ec.message() : std::generic_category().message(ENOTDIR));
    }
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
  // Without the lock (a file system without flock) the folder still works;
  // having no marker, it is only never taken for a dead run's.
  lock_ = LockNewMarker(path_);
  return true;
}

void WorkFolder::Remove() {
  if (!path_.empty()) {
    // removed while still locked, so no other run starts removing it too
    std::error_code ec;
    fs::remove_all(path_, ec);
    path_.clear();
  }
  if (lock_ >= 0) {
    ::close(lock_);
    lock_ = -1;
  }
}

int RemoveStaleWorkFolders(const std::string& temporaryFolder) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(temporaryFolder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!HasWorkFolderName(it->path().filename().string())) continue;
    // Only real folders of this user: never follow a link, never touch what
    // another user left in a shared /tmp.
    const Descriptor folder(
        ::open(it->path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.fd < 0 || !OwnedByUs(folder.fd, S_IFDIR)) continue;
    // A folder is ours only with the marker, and a dead run's only when
    // nobody holds the marker's lock. The lock is kept while removing, so
    // that two runs starting together do not both remove it.
    const Descriptor marker(
        ::openat(folder.fd, kWorkFolderMarker, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (marker.fd < 0 || !OwnedByUs(marker.fd, S_IFREG) ||
        ::flock(marker.fd, LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    std::error_code ignored;
    if (fs::remove_all(it->path(), ignored) > 0 && !ignored) ++removed;
  }
  return removed;
}

void RemoveWorkFile(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace zel
