// An input as the preview and the conversion open it. An AVI input is
// first transcoded into a temporary WMV in the private work folder: written
// under "<wmv>.part" and given its name only when whole, owned here and
// removed when this goes.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace zel {

class AviTranscoder;

enum class Preparation { Done, Failed, Aborted };

class PreparedInput {
 public:
  // What a transcoding watches and tells while it runs. built is called
  // once the transcoding is built, before it runs (its faults and streams).
  struct Watch {
    const std::atomic<bool>* abortFlag = nullptr;
    std::atomic<int>* progress = nullptr;  // thousandths of the source read
    std::function<void(const AviTranscoder&)> built;
  };

  PreparedInput(const std::string& input, const std::string& workFolder);
  ~PreparedInput();
  PreparedInput(const PreparedInput&) = delete;
  PreparedInput& operator=(const PreparedInput&) = delete;

  const std::string& input() const { return input_; }
  // True for an AVI input: it must be transcoded before it is opened.
  bool needsTranscoding() const { return !temporary_.empty(); }
  // The file to open: the input itself, or its temporary WMV.
  const std::string& path() const { return needsTranscoding() ? temporary_ : input_; }

  // Transcodes the AVI into "<path()>.part"; nothing of it stays unless
  // Done. Aborted when the abort flag stopped it.
  Preparation Transcode(const Watch& watch);
  // Gives the whole transcoding the temporary name (replacing a file of
  // that name); false, with nothing left, when it cannot.
  bool Keep();

 private:
  void Remove();

  std::string input_;
  std::string temporary_;  // empty when the input opens as it is
  bool written_ = false;   // "<temporary_>.part" may exist
  bool kept_ = false;      // temporary_ exists and is ours
};

}  // namespace zel
