#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace zel {

// A file that appears whole or not at all. It is written under a temporary
// name in the target's folder (".<name>-XXXXXX", so a half-written file
// never looks like a finished one; a long name is shortened there, to keep
// the whole within NAME_MAX) and renamed over the target only when commit()
// succeeds. A failed, aborted or killed run therefore leaves an
// earlier file of that name as it was, and a link at the target is
// replaced, not followed. A file that is replaced keeps its permission
// bits, and the new content reaches the disk before the new name does, so
// that after a power loss the name never points at an empty file. Until it
// is committed, the temporary file is registered, so that a second Ctrl-C
// can remove it (RemovePartialFiles).
class AtomicFile {
 public:
  explicit AtomicFile(std::string target);
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file. False (errno set) when the folder is missing
  // or not writable.
  bool open();
  // Appends bytes; false on any failed or short write (ENOSPC, EFBIG...).
  bool write(std::span<const std::uint8_t> bytes);
  // Closes the file and renames it over the target. False when anything
  // failed; the target is then untouched and the temporary file gone.
  bool commit();

  const std::string& target() const { return target_; }
  // The errno of the first failure (0 when nothing failed), for messages.
  int error() const { return error_; }

 private:
  bool fail();
  void discard();

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  int error_ = 0;
};

// Writes the parts one after the other as the whole new content of path
// (through an AtomicFile). False on any failure (errno set to its reason);
// path is then untouched.
bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> parts);

// Removes the temporary files of every AtomicFile that is still open in this
// process. For the end of the program on a second interrupt; safe to call
// from any thread (not from a signal handler).
void RemovePartialFiles();

}  // namespace zel
