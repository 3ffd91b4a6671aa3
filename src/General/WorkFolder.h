#pragma once

#include <string>
#include <string_view>

namespace zel {

// The private folder of one process for its temporary work files: the
// segments' WAV files, the AVI input's temporary WMV and the thumbnails'
// BMPs. It lives under the system's temporary folder ($TMPDIR) as
// "<program>-<pid>-XXXXXX", so that no user file can ever be overwritten or
// deleted by our temporary files. The folder holds a marker file
// (kWorkFolderMarker) on which the process keeps an exclusive flock for the
// folder's life; the kernel drops the lock when the process ends, however
// it ends, so a folder left behind by a killed run is one whose marker can
// be locked. Create first removes such folders. The pid in the name is for
// people looking at the folder only: it says nothing certain (another PID
// namespace may share the temporary folder, and pids are reused).
class WorkFolder {
 public:
  WorkFolder() = default;
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // Makes the folder; false with the reason in error when it cannot.
  bool Create(std::string_view program, std::string* error = nullptr);
  // Removes the folder and everything in it (also done by the destructor).
  void Remove();

  const std::string& path() const { return path_; }
  bool valid() const { return !path_.empty(); }

 private:
  std::string path_;
  int lock_ = -1;  // the marker, locked while the folder exists
};

// The marker file's name inside a work folder.
inline constexpr const char* kWorkFolderMarker = ".zel-work";

// Removes, from temporaryFolder, the work folders that earlier runs of our
// programs left behind: "zel-<pid>-*" or "zel-convert-<pid>-*" folders (not
// links) of this user that hold the marker, with nobody holding its lock.
// A folder without the marker is never touched, whatever its name. Returns
// how many were removed.
int RemoveStaleWorkFolders(const std::string& temporaryFolder);

// Removes a file that the job made in its work folder (a segment's WAV);
// one that is already gone is no error.
void RemoveWorkFile(const std::string& path);

}  // namespace zel
