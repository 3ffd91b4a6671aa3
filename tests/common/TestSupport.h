#pragma once

// Helpers shared by the tests: a notifier that records, temporary folders,
// running command-line tools (ffmpeg, ffprobe), bytes as text and files.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "General/Notifier.h"
#include "convert/Messages.h"

namespace zel::test {

class RecordingNotifier : public Notifier {
 public:
  int showMessage(std::string_view text, bool systemModal) override;
  void setCaption(std::string_view text) override;
  std::vector<std::string> messages() const;
  std::vector<std::string> captions() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  std::vector<std::string> captions_;
};

// Shows the fault's text as the driver would; true when there was none.
inline bool Told(Notifier& notifier, const Fault& fault) {
  if (fault) notifier.showMessage(MessageFor(fault));
  return !fault;
}

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

// Runs argv (no shell) and collects both streams.
CommandResult RunCommand(const std::vector<std::string>& argv);

// ffmpeg -y -v error <args...>; fails the current test when ffmpeg fails.
void MakeMedia(const std::vector<std::string>& args);

// Lines that "ffmpeg -v error -i path -f null -" prints (empty: decoded cleanly).
std::string DecodeErrors(const std::string& path);

// Bytes written as text: hex digits ("0000001c"), 'quoted' characters
// ('ftyp'), and HH*N for N bytes of HH ("00*24"); blanks separate fields.
std::vector<std::uint8_t> Hex(std::string_view text);

// A 16-bit PCM RIFF/WAVE file: the fmt chunk, `beforeData` (other chunks),
// then the data chunk, whose length word is pcm's size unless given.
std::vector<std::uint8_t> WavBytes(std::uint32_t rate, std::uint32_t channels,
                                   const std::vector<std::uint8_t>& pcm,
                                   const std::vector<std::uint8_t>& beforeData = {},
                                   std::int64_t dataLength = -1);

// n bytes counting up from first, wrapping at 256.
inline std::vector<std::uint8_t> Sequence(std::size_t n, std::uint8_t first = 0) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
std::string ReadFileText(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace zel::test
