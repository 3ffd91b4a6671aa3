#pragma once

// Decoded sound as interleaved 16-bit PCM at a fixed rate and channel count,
// for the conversion's WAV files and for playback alike.

#include <cstdint>
#include <vector>

#include "source/LibavHandles.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace zel {

// More channels than asked for are mixed down (two into one by averaging
// the pair), one channel is doubled into two; other sample formats and rates
// are converted, rates with libswresample's low-pass filter, so nothing above
// the new rate's half folds back as a false tone. The converter follows the
// input when its format changes between frames.
class PcmConverter {
 public:
  PcmConverter(int sampleRate, int channels);
  ~PcmConverter();
  PcmConverter(const PcmConverter&) = delete;
  PcmConverter& operator=(const PcmConverter&) = delete;

  // Converts one frame; out then holds `samples` whole sample frames. False
  // when the frame cannot be converted.
  bool Convert(const AVFrame* frame, std::vector<std::uint8_t>& out, int& samples);
  // The samples the filter still holds at the end of the input (a few
  // milliseconds when the rate changes, else none).
  void Flush(std::vector<std::uint8_t>& out, int& samples);

 private:
  bool Configure(const AVFrame* frame);

  int rate_;
  AVChannelLayout outLayout_{};
  av::SwrPtr swr_;
  int inFormat_ = -1;
  int inRate_ = 0;
  int inChannels_ = 0;
};

}  // namespace zel
