#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "General/Fault.h"

namespace zel {

// Transcodes an AVI input into a temporary ASF (.wmv) file that the rest of
// the system then opens in its place.
class AviTranscoder {
 public:
  // Builds the transcoding; a failure ends construction early (Run then
  // returns false).
  AviTranscoder(const std::string& sourcePath, const std::string& destinationPath);
  ~AviTranscoder();
  AviTranscoder(const AviTranscoder&) = delete;
  AviTranscoder& operator=(const AviTranscoder&) = delete;

  // What construction found, in the order the user is told: a missing sound
  // or picture stream (the other is transcoded alone), then the failure that
  // ended it, if one did.
  const std::vector<Fault>& faults() const;
  // Transcodes to the end; true when the whole file was written.
  bool Run();
  // When set, Run stops soon after it becomes true (and returns false).
  void SetAbortFlag(const std::atomic<bool>* abortRequested);
  // When set, Run keeps it at how much of the source it has read, in
  // thousandths.
  void SetProgress(std::atomic<int>* permille);
  // What the temporary file carries (after construction).
  bool hasAudio() const;
  bool hasVideo() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True for the extensions "avi" and "AVI" only (not "Avi").
bool NeedsAviTranscoding(const std::string& path);

// The private work folder + the input's file name (after its last "/")
// without its extension + ".wmv".
std::string TemporaryWmvPath(const std::string& inputPath, const std::string& workFolder);

}  // namespace zel
