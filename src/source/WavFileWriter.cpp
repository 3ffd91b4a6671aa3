#include "source/WavFileWriter.h"

#include <algorithm>
#include <array>
#include <limits>

namespace zel {

namespace {

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

// Byte offsets of the two patched size fields.
constexpr long kRiffSizeOffset = 4;
constexpr long kDataSizeOffset = 40;

}  // namespace

WavFileWriter::WavFileWriter(const std::string& path, int sampleRate, int channels) {
  file_.reset(std::fopen(path.c_str(), "wb"));
  if (!file_) {
    return;
  }
  std::array<std::uint8_t, kHeaderBytes> header{};
  const auto blockAlign = static_cast<std::uint16_t>(channels * 2);
  std::copy_n("RIFF", 4, header.begin());
  PutLe32(&header[4], 36);  // RIFF size, patched: 4 ("WAVE") + fmt chunk + data chunk
  std::copy_n("WAVEfmt ", 8, header.begin() + 8);
  PutLe32(&header[16], 16);  // fmt chunk size
  PutLe16(&header[20], 1);   // PCM
  PutLe16(&header[22], static_cast<std::uint16_t>(channels));
  PutLe32(&header[24], static_cast<std::uint32_t>(sampleRate));
  PutLe32(&header[28], static_cast<std::uint32_t>(sampleRate) * blockAlign);  // bytes/s
  PutLe16(&header[32], blockAlign);
  PutLe16(&header[34], 16);  // bits per sample
  std::copy_n("data", 4, header.begin() + 36);
  PutLe32(&header[40], 0);  // data size, patched
  ok_ = std::fwrite(header.data(), 1, header.size(), file_.get()) == header.size() &&
        std::fflush(file_.get()) == 0;
}

WavFileWriter::~WavFileWriter() { Close(); }

bool WavFileWriter::Append(const std::uint8_t* pcm, std::size_t bytes) {
  if (!file_ || !ok_) {
    return false;
  }
  if (bytes == 0) {
    return true;
  }
  if (std::fwrite(pcm, 1, bytes, file_.get()) != bytes) {
    ok_ = false;
    return false;
  }
  dataBytes_ += bytes;
  return true;
}

bool WavFileWriter::Finish() {
  if (!file_) {
    return false;
  }
  // RIFF sizes are 32-bit; a longer file keeps the largest value that fits.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max() - 36;
  const auto dataSize = static_cast<std::uint32_t>(dataBytes_ < kMax ? dataBytes_ : kMax);
  std::uint8_t field[4];
  bool written = true;
  PutLe32(field, dataSize + 36);
  written &= std::fseek(file_.get(), kRiffSizeOffset, SEEK_SET) == 0 &&
             std::fwrite(field, 1, 4, file_.get()) == 4;
  PutLe32(field, dataSize);
  written &= std::fseek(file_.get(), kDataSizeOffset, SEEK_SET) == 0 &&
             std::fwrite(field, 1, 4, file_.get()) == 4;
  written &= std::fseek(file_.get(), 0, SEEK_END) == 0 && std::fflush(file_.get()) == 0;
  if (!written) {
    ok_ = false;
  }
  return ok_;
}

bool WavFileWriter::Close() {
  if (!file_) {
    return ok_;
  }
  const bool finished = Finish();
  const bool closed = std::fclose(file_.release()) == 0;
  ok_ = finished && closed;
  return ok_;
}

}  // namespace zel
