// One second of audio through the integer rate and channel conversion, and
// through FAAC for comparison: the conversion should cost next to nothing.

#include <benchmark/benchmark.h>
#include <faac.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "convert/PcmConversion.h"

namespace {

std::vector<std::uint8_t> ToneBytes(int rate, int channels) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(rate) * channels);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i / channels) / rate;
    samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * t));
  }
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

zel::AudioSegmentInfo Info(int sourceRate, int targetRate, int sourceChannels, int targetChannels) {
  zel::AudioSegmentInfo info;
  info.sourceRate = sourceRate;
  info.targetRate = targetRate;
  info.sourceChannels = sourceChannels;
  info.targetChannels = targetChannels;
  info.rateRatio = static_cast<int>(10000LL * targetRate / sourceRate);
  return info;
}

// Items: output samples (all channels).
void BM_PcmResample44100StereoTo8000(benchmark::State& state) {
  const auto source = ToneBytes(44100, 2);
  const auto info = Info(44100, 8000, 2, 2);
  std::vector<std::uint8_t> out(source.size() * info.rateRatio / 10000 + 10000);
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = zel::ResamplePcm(info, source.data(), source.size(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(bytes / 2));
}
BENCHMARK(BM_PcmResample44100StereoTo8000);

// Items: input samples (all channels), one second of 44100 Hz stereo.
void BM_PcmStereoToMono(benchmark::State& state) {
  const auto source = ToneBytes(44100, 2);
  const auto info = Info(44100, 44100, 2, 1);
  std::vector<std::uint8_t> out(source.size() / 2 + 10000);
  for (auto _ : state) {
    zel::ConvertPcmChannels(info, source.data(), source.size(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.size() / 2));
}
BENCHMARK(BM_PcmStereoToMono);

struct FaacCloser {
  void operator()(void* handle) const { faacEncClose(handle); }
};

// Items: input samples, one second of 8000 Hz mono as AAC-LC at 32000 bit/s,
// on a fresh encoder per second as the audio path does per segment.
void BM_PcmFaacEncode8000Mono(benchmark::State& state) {
  const auto source = ToneBytes(8000, 1);
  std::vector<std::uint8_t> padded(source.size() + 4096, 0);
  std::memcpy(padded.data(), source.data(), source.size());
  for (auto _ : state) {
    unsigned long inputSamples = 0, maxOutputBytes = 0;
    std::unique_ptr<void, FaacCloser> faac(faacEncOpen(8000, 1, &inputSamples, &maxOutputBytes));
    faacEncConfigurationPtr config = faacEncGetCurrentConfiguration(faac.get());
    config->mpegVersion = MPEG4;
    config->aacObjectType = LOW;
    config->allowMidside = 1;
    config->useTns = 0;
    config->bitRate = 32000;
    config->outputFormat = RAW_STREAM;
    config->inputFormat = FAAC_INPUT_16BIT;
    if (!faacEncSetConfiguration(faac.get(), config)) {
      state.SkipWithError("faacEncSetConfiguration");
      break;
    }
    std::vector<std::uint8_t> out(maxOutputBytes);
    for (std::size_t offset = 0; offset < source.size(); offset += 2 * inputSamples) {
      int n = faacEncEncode(faac.get(), reinterpret_cast<std::int32_t*>(padded.data() + offset),
                            static_cast<unsigned int>(inputSamples), out.data(),
                            static_cast<unsigned int>(maxOutputBytes));
      benchmark::DoNotOptimize(n);
    }
    while (faacEncEncode(faac.get(), nullptr, 0, out.data(),
                         static_cast<unsigned int>(maxOutputBytes)) > 0) {
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.size() / 2));
}
BENCHMARK(BM_PcmFaacEncode8000Mono);

}  // namespace
