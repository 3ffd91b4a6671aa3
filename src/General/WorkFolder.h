#pragma once

#include <string>
#include <string_view>

namespace zel {

// The private folder of one process for its temporary work files: the
// segments' WAV files, the AVI input's temporary WMV and the thumbnails'
// BMPs. It lives under the system's temporary folder ($TMPDIR) as
// "<program>-<pid>-XXXXXX", so that no user file can ever be overwritten or
// deleted by our temporary files, and so that a folder left behind by a
// killed process can be recognised: Create first removes the folders of our
// programs whose process no longer exists.
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
};

// Removes, from temporaryFolder, the work folders that earlier runs of our
// programs left behind ("zel-<pid>-*", "zel-convert-<pid>-*", owned by this
// user) whose process no longer exists. Returns how many were removed.
int RemoveStaleWorkFolders(const std::string& temporaryFolder);

}  // namespace zel
