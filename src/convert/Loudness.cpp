#include "convert/Loudness.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numbers>
#include <utility>

namespace zel {

namespace {

// The limiter's ceiling: -1 dBFS less what AAC and AMR-NB coding adds to
// the peaks of limited sound.
constexpr double kCeilingDbfs = -3.0;
constexpr double kAttackSeconds = 0.005;
constexpr double kReleaseSeconds = 0.02;  // time constant

double BlockLufs(double energy) { return -0.691 + 10 * std::log10(energy); }

int LoadSample(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }

}  // namespace

double LoudnessMeter::Biquad::Run(double x) {
  // Transposed direct form II.
  const double y = b0 * x + z1;
  z1 = b1 * x - a1 * y + z2;
  z2 = b2 * x - a2 * y;
  return y;
}

// The K-weighting's two stages (a high shelf of about +4 dB above 1.5 kHz,
// then a high pass at 38 Hz), made for the sample rate from their analogue
// prototypes; at 48000 Hz they are the coefficients BS.1770 lists.
LoudnessMeter::LoudnessMeter(int sampleRate, int channels)
    : channels_(std::max(channels, 1)),
      quarterFrames_(static_cast<std::size_t>(std::max(sampleRate, 10) / 10)) {
  const double rate = std::max(sampleRate, 10);
  double k = std::tan(std::numbers::pi * 1681.974450955533 / rate);
  double q = 0.7071752369554196;
  const double vh = std::pow(10.0, 3.999843853973347 / 20);
  const double vb = std::pow(vh, 0.4996667741545416);
  double a0 = 1 + k / q + k * k;
  const Biquad shelf{(vh + vb * k / q + k * k) / a0, 2 * (k * k - vh) / a0,
                     (vh - vb * k / q + k * k) / a0, 2 * (k * k - 1) / a0,
                     (1 - k / q + k * k) / a0};
  k = std::tan(std::numbers::pi * 38.13547087602444 / rate);
  q = 0.5003270373238773;
  a0 = 1 + k / q + k * k;
  const Biquad highPass{1, -2, 1, 2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0};
  for (int c = 0; c < channels_; ++c) {
    filters_.push_back(shelf);
    filters_.push_back(highPass);
  }
}

void LoudnessMeter::Add(const std::uint8_t* pcm, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels_; ++c) {
      const double x = LoadSample(pcm + 2 * (i * channels_ + c)) / 32768.0;
      const double y = filters_[2 * c + 1].Run(filters_[2 * c].Run(x));
      quarterSum_ += y * y;
    }
    if (++quarterFill_ < quarterFrames_) continue;
    // Each 100 ms closes the 400-ms block of the last four quarters.
    const double quarter = quarterSum_ / static_cast<double>(quarterFrames_);
    if (quarters_.size() == 3) {
      blockEnergies_.push_back((quarters_[0] + quarters_[1] + quarters_[2] + quarter) / 4);
      quarters_.erase(quarters_.begin());
    }
    quarters_.push_back(quarter);
    quarterFill_ = 0;
    quarterSum_ = 0;
  }
}

std::optional<double> LoudnessMeter::IntegratedLufs() const {
  // The mean energy of the blocks louder than a gate, and how many there are.
  const auto gated = [this](double gateLufs) {
    double sum = 0;
    std::size_t count = 0;
    for (double energy : blockEnergies_) {
      if (energy > 0 && BlockLufs(energy) > gateLufs) {
        sum += energy;
        ++count;
      }
    }
    return std::pair{count > 0 ? sum / static_cast<double>(count) : 0.0, count};
  };
  const auto [absolute, heard] = gated(kSilenceLufs);
  if (heard == 0) return std::nullopt;
  const double relativeGate = std::max(BlockLufs(absolute) - 10, kSilenceLufs);
  return BlockLufs(gated(relativeGate).first);
}

std::optional<double> NormalizationGain(std::optional<double> lufs) {
  if (!lufs) return std::nullopt;
  return std::pow(10.0, std::min(kTargetLufs - *lufs, kMaxGainDb) / 20);
}

void ApplyGain(std::uint8_t* pcm, std::size_t frames, int channels, int sampleRate, double gain) {
  const double ceiling = 32768 * std::pow(10.0, kCeilingDbfs / 20);
  const double attack = std::max(1.0, sampleRate * kAttackSeconds);
  const double release = 1 - std::exp(-1 / std::max(1.0, sampleRate * kReleaseSeconds));
  // The most gain frame i may have (before it is changed), as a fraction.
  const auto allowed = [&](std::size_t i) {
    int peak = 0;
    for (int c = 0; c < channels; ++c)
      peak = std::max(peak, std::abs(LoadSample(pcm + 2 * (i * channels + c))));
    return peak * gain > ceiling ? ceiling / (peak * gain) : 1.0;
  };
  // The gain at frame i may be at most allowed(j) + (j - i) / attack for every
  // frame j ahead of it: the minimum over the next `attack` frames, held in
  // a window of rising keys (allowed(j) + j / attack). Frames that allow the
  // whole gain never bound it, and stay out of the window.
  std::deque<std::pair<std::size_t, double>> window;
  std::size_t next = 0;
  double envelope = 1;
  for (std::size_t i = 0; i < frames; ++i) {
    for (; next < frames && static_cast<double>(next) <= static_cast<double>(i) + attack; ++next) {
      const double bound = allowed(next);
      if (bound >= 1) continue;
      const double key = bound + static_cast<double>(next) / attack;
      while (!window.empty() && window.back().second >= key) window.pop_back();
      window.emplace_back(next, key);
    }
    while (!window.empty() && window.front().first < i) window.pop_front();
    const double limit =
        window.empty() ? 1.0
                       : std::min(1.0, window.front().second - static_cast<double>(i) / attack);
    envelope = std::min(limit, envelope + (1 - envelope) * release);
    for (int c = 0; c < channels; ++c) {
      std::uint8_t* sample = pcm + 2 * (i * channels + c);
      const long value =
          std::clamp(std::lrint(LoadSample(sample) * gain * envelope), -32768L, 32767L);
      sample[0] = static_cast<std::uint8_t>(value & 0xff);
      sample[1] = static_cast<std::uint8_t>((value >> 8) & 0xff);
    }
  }
}

}  // namespace zel
