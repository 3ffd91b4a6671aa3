#pragma once

#include <memory>
#include <optional>
#include <string>

#include "General/Fault.h"
#include "container/TrackBuffers.h"
#include "convert/SegmentInfo.h"

namespace zel {

struct ConversionState;

// Segment set-up: target rate and channels (0 takes the source's), frame
// length and bit rate into block, then info.
void SetUpAudioSegment(AudioParameterBlock& block, AudioKind kind, int targetRate,
                       int targetChannels, int sourceRate, int sourceChannels,
                       AudioSegmentInfo& info);

// AMR-NB mode for a bit rate (7, 12.2 kbit/s, for anything outside the table).
int AmrModeForBitRate(int bitRate);

// The encoding side of the AudioTrackBuffer.
class AudioEncoder {
 public:
  AudioEncoder(AudioTrackBuffer& store, ConversionState& state);
  ~AudioEncoder();

  // Opens FAAC or the AMR-NB encoder for one segment. The fault when the
  // encoder cannot be made or refuses its configuration.
  Fault OpenAudioEncoder(AudioParameterBlock& block, const AudioSegmentInfo& info, AudioKind kind);
  // Reads the segment's temporary WAV file (TemporaryWavPath of the working
  // directory and the segment index), converts and encodes it into the store.
  // The fault when the file cannot be read or holds no PCM (the track then
  // has no frames, and the segment must not be taken for a whole one). Less
  // than one second of PCM is no failure: it makes an empty track.
  // The status caption "audio 変換中" comes first unless withCaption is false
  // (ShowCaption then shows it when its turn comes).
  Fault EncodeTemporaryWav(const std::string& workingDirectory, bool withCaption = true);
  void ShowCaption() const;
  void CloseAudioEncoder();
  // The gain EncodeTemporaryWav applies, with the limiter, to the PCM of
  // every segment from now on (setting normalize); nothing leaves it as it is.
  void SetGain(std::optional<double> gain);

  // What the open encoder was given, for tests and diagnostics.
  unsigned long inputSamples() const;  // FAAC: samples per call, all channels; else 0
  int amrMode() const;                 // AMR-NB mode, -1 without an AMR encoder
  long faacBitRate() const;            // FAAC's bit rate per channel, -1 without FAAC

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel
