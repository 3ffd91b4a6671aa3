// Loading an input file into the window: the type check, the AVI input's
// temporary WMV, the preview opened on the file and the marks over the whole
// of it. What the window shows of it (caption, status lines, first frame)
// is the window's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "window/AviProgress.h"

namespace zel {
class PreviewSource;
class Notifier;
class PreviewSink;
class PreparedInput;
}  // namespace zel

namespace zel::app {

struct WindowRecords;

// The load error box codes; only one is in use.
inline constexpr std::uint32_t kUnsupportedFileError = 0x40000001;
// "サポートしていないファイル形式です。..." for kUnsupportedFileError,
// "未定義のエラーが発生しました。" for any other code.
const char* LoadErrorText(std::uint32_t code);

struct LoadedFile {
  std::string name;        // the chosen file's name, for the caption
  bool opened = false;     // the preview opened it
  bool shortWav = false;   // a ".wav" or ".WAV" file shorter than 2 seconds
  bool cancelled = false;  // the AVI pre-conversion was stopped: nothing changed
};

// Runs the AVI pre-conversion of the input (PreConvertAvi, for the window).
using PreConverter = std::function<PreConversion(PreparedInput& input)>;

class FileLoader {
 public:
  // The temporary WMV of an AVI input goes to workFolder.
  FileLoader(WindowRecords& records, PreviewSource& preview, PreviewSink& sink, Notifier& notifier,
             std::string workFolder);

  // The type check. A refused file gets the error box and changes nothing.
  bool accept(const std::string& path);

  // Makes path (which passed the check) the input: an AVI input is first
  // transcoded by preConvert into a new temporary WMV; then the preview is
  // closed, the last temporary WMV deleted, the preview opened on the file
  // and the marks set to the whole file. The preview shows nothing yet. A
  // cancelled pre-conversion leaves everything as it was.
  LoadedFile load(const std::string& path, const PreConverter& preConvert);

  // Closes the preview and deletes the temporary WMV (the window's end).
  void unload();

 private:
  WindowRecords& records_;
  PreviewSource& preview_;
  PreviewSink& sink_;
  Notifier& notifier_;
  std::string workFolder_;
};

}  // namespace zel::app
