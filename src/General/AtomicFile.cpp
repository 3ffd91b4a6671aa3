#include "General/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <string_view>

namespace zel {

namespace {

std::mutex gPartialMutex;
std::set<std::string>& PartialFiles() {
  static std::set<std::string> files;
  return files;
}

void Register(const std::string& path) {
  std::lock_guard lock(gPartialMutex);
  PartialFiles().insert(path);
}

void Unregister(const std::string& path) {
  std::lock_guard lock(gPartialMutex);
  PartialFiles().erase(path);
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kChars[pick(random)];
  return suffix;
}

// The start of name that fits in a temporary name ".<start>-XXXXXX" of at
// most NAME_MAX bytes, never cut inside a UTF-8 character.
std::string_view TemporaryStem(std::string_view name) {
  constexpr std::size_t kMost = NAME_MAX - 8;  // the dot, the dash and six characters
  if (name.size() <= kMost) return name;
  std::size_t cut = kMost;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

// Makes a rename in folder durable; a file system that cannot sync a folder
// (EINVAL) has nothing more to do.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::fail() {
  if (error_ == 0) error_ = errno != 0 ? errno : EIO;
  return false;
}

bool AtomicFile::open() {
  discard();
  error_ = 0;
  const std::size_t slash = target_.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  // O_EXCL with a fresh name: never an existing file, never through a link.
  // Mode 0666 less the umask, as any new file of the user's.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = folder + "." + std::string(TemporaryStem(name)) + "-" + RandomSuffix();
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temporary_ = std::move(candidate);
      Register(temporary_);
      return true;
    }
    if (errno != EEXIST) return fail();
  }
  errno = EEXIST;
  return fail();
}

bool AtomicFile::write(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0 || error_ != 0) return false;
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return fail();
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::commit() {
  if (fd_ < 0) return false;
  // A file that is replaced keeps its permission bits (not a link's, which
  // is replaced, not followed).
  struct stat old {};
  if (error_ == 0 && ::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    ::fchmod(fd_, old.st_mode & 0777);
  }
  // The content is on the disk before the name points at it; close reports
  // deferred errors (network and quota-limited file systems).
  if (error_ == 0 && ::fsync(fd_) != 0) fail();
  if (::close(fd_) != 0) fail();
  fd_ = -1;
  if (error_ != 0 || std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    fail();
    discard();
    return false;
  }
  Unregister(temporary_);
  temporary_.clear();
  const std::size_t slash = target_.rfind('/');
  SyncFolder(slash == std::string::npos ? std::string() : target_.substr(0, slash + 1));
  return true;
}

void AtomicFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    Unregister(temporary_);
    temporary_.clear();
  }
}

bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> parts) {
  AtomicFile file(path);
  bool ok = file.open();
  for (auto part = parts.begin(); ok && part != parts.end(); ++part) ok = file.write(*part);
  ok = ok && file.commit();
  if (!ok) errno = file.error();
  return ok;
}

void RemovePartialFiles() {
  std::lock_guard lock(gPartialMutex);
  for (const std::string& path : PartialFiles()) ::unlink(path.c_str());
  PartialFiles().clear();
}

}  // namespace zel
