// One second of decoded sound through the resampler of the conversion
// (libswresample with its low-pass filter), and through FAAC for comparison.

#include <benchmark/benchmark.h>
#include <faac.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "source/PcmConverter.h"

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

// Items: input samples (all channels). A decoder's frames of 2048 samples of
// 44100 Hz stereo float (as wmav2 gives them) to 8000 Hz mono 16-bit, as the
// conversion's sound thread makes them.
void BM_PcmConvert44100StereoTo8000Mono(benchmark::State& state) {
  constexpr int kRate = 44100, kFrame = 2048;
  std::vector<float> left(kFrame), right(kFrame);
  for (int i = 0; i < kFrame; ++i)
    left[i] = right[i] =
        static_cast<float>(0.25 * std::sin(2 * std::numbers::pi * 440 * i / kRate));
  zel::av::FramePtr frame = zel::av::MakeFrame();
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->sample_rate = kRate;
  frame->nb_samples = kFrame;
  av_channel_layout_default(&frame->ch_layout, 2);
  std::uint8_t* planes[2] = {reinterpret_cast<std::uint8_t*>(left.data()),
                             reinterpret_cast<std::uint8_t*>(right.data())};
  frame->extended_data = frame->data;
  frame->data[0] = planes[0];
  frame->data[1] = planes[1];
  zel::PcmConverter converter(8000, 1);
  std::vector<std::uint8_t> out;
  const int perSecond = kRate / kFrame;
  for (auto _ : state) {
    for (int n = 0; n < perSecond; ++n) {
      int samples = 0;
      converter.Convert(frame.get(), out, samples);
      benchmark::DoNotOptimize(out.data());
    }
  }
  frame->data[0] = frame->data[1] = nullptr;
  state.SetItemsProcessed(state.iterations() * perSecond * kFrame * 2);
}
BENCHMARK(BM_PcmConvert44100StereoTo8000Mono);

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
