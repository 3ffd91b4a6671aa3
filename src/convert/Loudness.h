#pragma once

// Loudness normalisation (setting normalize): the integrated loudness of the
// marked range's sound after ITU-R BS.1770 (K-weighting, 400-ms blocks every
// 100 ms, an absolute gate at -70 LUFS and a relative one 10 LU below), one
// gain that brings it to -16 LUFS, and a limiter that keeps the peaks below
// -1 dBFS once the sound is coded.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zel {

inline constexpr double kTargetLufs = -16.0;
inline constexpr double kSilenceLufs = -70.0;  // the absolute gate
inline constexpr double kMaxGainDb = 30.0;

// Takes interleaved 16-bit little-endian PCM of one or two channels at any
// rate, piece by piece, and tells the integrated loudness of all it was
// given.
class LoudnessMeter {
 public:
  LoudnessMeter(int sampleRate, int channels);

  void Add(const std::uint8_t* pcm, std::size_t frames);
  // LUFS; nothing when no block passed the absolute gate (silence, or less
  // than 400 ms of sound).
  std::optional<double> IntegratedLufs() const;

 private:
  struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0, z2 = 0;
    double Run(double x);
  };
  int channels_;
  std::vector<Biquad> filters_;  // two stages per channel
  std::size_t quarterFrames_;    // 100 ms
  std::size_t quarterFill_ = 0;
  double quarterSum_ = 0;              // K-weighted squares of the running 100 ms, all channels
  std::vector<double> quarters_;       // mean squares of the last three 100-ms quarters
  std::vector<double> blockEnergies_;  // of every 400-ms block
};

// The linear gain that brings a measured loudness to kTargetLufs, at most
// kMaxGainDb up; nothing for silence (no loudness measured), which stays as
// it is.
std::optional<double> NormalizationGain(std::optional<double> lufs);

// Multiplies interleaved 16-bit little-endian PCM by gain and limits it:
// where a sample would come out above the ceiling, the gain dips smoothly
// (reaching the dip within 5 ms before it, recovering with a 20-ms time
// constant after it), so that no sample exceeds the ceiling and nothing
// clips.
void ApplyGain(std::uint8_t* pcm, std::size_t frames, int channels, int sampleRate, double gain);

}  // namespace zel
