#include "General/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
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

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open() {
  discard();
  failed_ = false;
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
    if (errno != EEXIST) return false;
  }
  return false;
}

bool AtomicFile::write(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0 || failed_) return false;
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::commit() {
  if (fd_ < 0) return false;
  // close reports deferred errors (network and quota-limited file systems)
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (failed_ || !closed || std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    discard();
    return false;
  }
  Unregister(temporary_);
  temporary_.clear();
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
  if (!file.open()) return false;
  for (std::span<const std::uint8_t> part : parts) {
    if (!file.write(part)) return false;
  }
  return file.commit();
}

void RemovePartialFiles() {
  std::lock_guard lock(gPartialMutex);
  for (const std::string& path : PartialFiles()) ::unlink(path.c_str());
  PartialFiles().clear();
}

}  // namespace zel
