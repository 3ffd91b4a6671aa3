#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace zel {

// A 16-bit PCM WAV file that grows as audio is appended: the RIFF header, a
// "fmt " chunk and the "data" chunk header come first, the two size fields are
// patched when the file is finished.
class WavFileWriter {
 public:
  // Creates or truncates path and writes the header. ok() tells the result.
  WavFileWriter(const std::string& path, int sampleRate, int channels);
  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  bool ok() const { return ok_; }
  // Appends interleaved 16-bit little-endian samples; false when writing fails.
  bool Append(const std::uint8_t* pcm, std::size_t bytes);
  // Writes the sizes into the header and flushes; the file stays open for
  // more data. False when writing fails.
  bool Finish();
  // Finish, then close. Safe to call more than once.
  bool Close();

  std::uint64_t dataBytes() const { return dataBytes_; }
  static constexpr std::size_t kHeaderBytes = 44;

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::uint64_t dataBytes_ = 0;
  bool ok_ = false;
};

}  // namespace zel
