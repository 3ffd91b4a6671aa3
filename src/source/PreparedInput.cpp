#include "source/PreparedInput.h"

#include <filesystem>

#include "source/AviTranscoder.h"

namespace zel {
namespace {

std::string PartialPath(const std::string& path) { return path + ".part"; }

}  // namespace

PreparedInput::PreparedInput(const std::string& input, const std::string& workFolder)
    : input_(input) {
  if (NeedsAviTranscoding(input)) temporary_ = TemporaryWmvPath(input, workFolder);
}

PreparedInput::~PreparedInput() { Remove(); }

Preparation PreparedInput::Transcode(const Watch& watch) {
  written_ = true;
  bool whole = false;
  {
    AviTranscoder transcoder(input_, PartialPath(temporary_));
    if (watch.built) watch.built(transcoder);
    transcoder.SetAbortFlag(watch.abortFlag);
    transcoder.SetProgress(watch.progress);
    whole = transcoder.Run();
  }
  if (whole) return Preparation::Done;
  Remove();
  return watch.abortFlag && *watch.abortFlag ? Preparation::Aborted : Preparation::Failed;
}

bool PreparedInput::Keep() {
  std::error_code error;
  std::filesystem::rename(PartialPath(temporary_), temporary_, error);
  if (error) {
    Remove();
    return false;
  }
  written_ = false;
  kept_ = true;
  return true;
}

void PreparedInput::Remove() {
  std::error_code ignored;
  if (written_) std::filesystem::remove(PartialPath(temporary_), ignored);
  if (kept_) std::filesystem::remove(temporary_, ignored);
  written_ = kept_ = false;
}

}  // namespace zel
