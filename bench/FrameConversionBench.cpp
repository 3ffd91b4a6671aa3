// The per-frame cost of the video path's conversions against the cost of
// encoding one picture: the conversions should stay a small part of it.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "convert/ConversionParameters.h"
#include "convert/FrameConversion.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"

namespace zel {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::mt19937 rng(1);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

void BM_ScaleYV12_320x240_to_176x144(benchmark::State& state) {
  VideoSegmentInfo info = FrameSizes(320, 240, 176, 144);
  std::vector<std::uint8_t> src = Bytes(320 * 240 * 3 / 2), dst(176 * 144 * 3 / 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ScaleYV12(info, src.data(), src.size(), dst.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScaleYV12_320x240_to_176x144);

void BM_YV12ToRgb24_320x240(benchmark::State& state) {
  VideoSegmentInfo info = FrameSizes(320, 240, 320, 240);
  std::vector<std::uint8_t> src = Bytes(320 * 240 * 3 / 2), dst(320 * 240 * 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(YV12ToRgb24(info, src.data(), src.size(), dst.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_YV12ToRgb24_320x240);

// One delivered 320x240 YV12 frame through BufferCB: scaling to 176x144 and
// encoding one MPEG-4 picture (source and target both at 15 fps).
void BM_BufferCB_Mpeg4_320x240_to_176x144(benchmark::State& state) {
  VideoEncoderContext context;
  AudioParameterBlock audio;
  ConversionParameters params;
  params.videoKind = VideoKind::Mpeg4;
  params.frameRate = 15;
  params.width = 176;
  params.height = 144;
  ResetVideoEncoderContext(context, params, audio);
  VideoSegmentInfo info;
  // A long segment so that the data block is sized for every iteration.
  if (SetUpVideoSegment(context, {666666, 320, 240}, 36000000000LL, info)) {
    state.SkipWithError("set-up failed");
    return;
  }
  ConversionState conversion;
  VideoTrackBuffer store;
  VideoGrabber grabber(store, conversion);
  if (grabber.OpenVideoEncoder(context, info)) {
    state.SkipWithError("open failed");
    return;
  }
  // Frames that move a little, as a camera's do.
  std::vector<std::vector<std::uint8_t>> frames;
  for (int n = 0; n < 8; ++n) {
    std::vector<std::uint8_t> f(320 * 240 * 3 / 2, 128);
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        f[y * 320 + x] = static_cast<std::uint8_t>(((x + 3 * n) ^ (y + n)) & 0xff);
    frames.push_back(std::move(f));
  }
  std::int64_t n = 0;
  for (auto _ : state) {
    const auto& f = frames[n % frames.size()];
    grabber.BufferCB(static_cast<double>(n) / 15.0 + 1e-6, f.data(), f.size());
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
  grabber.CloseVideoEncoder();
}
BENCHMARK(BM_BufferCB_Mpeg4_320x240_to_176x144);

}  // namespace
}  // namespace zel
