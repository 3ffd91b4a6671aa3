// How long the preview takes to show the picture at a position: random
// positions (a cursor dragged or clicked anywhere on the bar) and steps of one
// picture from the one shown. The clips are 60 s of 640x480 at 25 fps with a
// key frame every 10 s, made with the ffmpeg command line at the first use.
// Random positions are asked for exactly (a click, a step, the end of a
// drag) and as a dragged bar asks for them (SeekKind::NearestKeyFrame).
// Besides the time on the clock (median_ms, worst_ms) the random positions
// report the processor time they took (cpu_median_ms, all threads), which
// tells how much of the clock time other work on the machine took.
//
//   build/bench/zel_bench --benchmark_filter=Preview

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "General/Notifier.h"
#include "source/PreviewSource.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPositions = 50;
constexpr std::int64_t kFrameHns = 400000;  // 25 fps

class Clips {
 public:
  ~Clips() {
    std::error_code error;
    if (!folder_.empty()) fs::remove_all(folder_, error);
  }
  // The clip's path; empty when ffmpeg could not make it.
  const std::string& Get(const std::string& kind) {
    auto found = paths_.find(kind);
    if (found != paths_.end()) return found->second;
    if (folder_.empty()) {
      folder_ = fs::temp_directory_path() / ("zel-bench-preview-" + std::to_string(getpid()));
      fs::create_directories(folder_);
    }
    const std::string source =
        "-f lavfi -i testsrc2=size=640x480:rate=25:duration=60 "
        "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=60 -g 250 -b:v 1M ";
    const std::string codecs = kind == "wmv" ? "-c:v wmv2 -c:a wmav2 -b:a 128k "
                                             : "-c:v mpeg1video -c:a mp2 -b:a 192k -f mpeg ";
    const std::string path = (folder_ / ("clip." + (kind == "wmv" ? kind : "mpg"))).string();
    const std::string command = "ffmpeg -y -v error " + source + codecs + path;
    return paths_[kind] = std::system(command.c_str()) == 0 ? path : std::string();
  }

 private:
  fs::path folder_;
  std::map<std::string, std::string> paths_;
};

Clips& TheClips() {
  static Clips clips;
  return clips;
}

class CountingSink final : public PreviewSink {
 public:
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    ++shown;
    benchmark::DoNotOptimize(frame.pixels[0]);
  }
  int shown = 0;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(benchmark::State& state, std::vector<double> values, const std::string& prefix) {
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  const bool pictures = prefix == "decoded_";
  state.counters[prefix + (pictures ? "median" : "median_ms")] = values[values.size() / 2];
  state.counters[prefix + (pictures ? "worst" : "worst_ms")] = values.back();
}

// Opens the clip and shows its first picture, as loading a file does.
bool Open(benchmark::State& state, const std::string& kind, PreviewSource& source,
          CountingSink& sink) {
  const std::string& path = TheClips().Get(kind);
  if (path.empty() || source.OpenPreview(path, &sink) != OpenResult::Opened ||
      source.ShowFrameAt(0) != 1) {
    state.SkipWithError("cannot make or open the clip");
    return false;
  }
  return true;
}

double CpuMs(std::clock_t from, std::clock_t to) {
  return 1000.0 * static_cast<double>(to - from) / CLOCKS_PER_SEC;
}

void BM_PreviewRandomPositions(benchmark::State& state, const std::string& kind, SeekKind seek) {
  std::vector<double> ms;
  std::vector<double> cpuMs;
  std::vector<double> decoded;  // pictures decoded per position, whatever the load
  PreviewCounters counters;
  for (auto _ : state) {
    state.PauseTiming();
    PreviewSource source;
    CountingSink sink;
    if (!Open(state, kind, source, sink)) return;
    const std::int64_t durationHns = source.previewInfo().durationHns;
    std::mt19937 rng(static_cast<unsigned>(ms.size() + 1));
    std::uniform_int_distribution<std::int64_t> position(0, durationHns - 1);
    state.ResumeTiming();
    for (int i = 0; i < kPositions; ++i) {
      const std::int64_t at = position(rng);
      const std::uint64_t decodedBefore = source.previewCounters().decodedFrames;
      const Clock::time_point start = Clock::now();
      const std::clock_t cpuStart = std::clock();
      if (source.ShowFrameAt(at, seek) != 1) {
        state.SkipWithError("no picture");
        return;
      }
      cpuMs.push_back(CpuMs(cpuStart, std::clock()));
      ms.push_back(Ms(Clock::now() - start));
      decoded.push_back(
          static_cast<double>(source.previewCounters().decodedFrames - decodedBefore));
    }
    counters = source.previewCounters();
  }
  Report(state, ms, "");
  Report(state, cpuMs, "cpu_");
  Report(state, decoded, "decoded_");
  state.counters["seeks"] = static_cast<double>(counters.seeks);
}

// From a random picture: 25 steps of one picture forward, then 25 back.
void BM_PreviewFrameSteps(benchmark::State& state, const std::string& kind) {
  std::vector<double> forward;
  std::vector<double> backward;
  std::uint64_t stepSeeks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PreviewSource source;
    CountingSink sink;
    if (!Open(state, kind, source, sink)) return;
    std::mt19937 rng(static_cast<unsigned>(forward.size() + 1));
    std::uniform_int_distribution<std::int64_t> position(0, source.previewInfo().durationHns / 2);
    std::int64_t at = position(rng);
    source.ShowFrameAt(at);
    const std::uint64_t seeksBefore = source.previewCounters().seeks;
    state.ResumeTiming();
    for (int i = 0; i < 50; ++i) {
      at += i < 25 ? kFrameHns : -kFrameHns;
      const Clock::time_point start = Clock::now();
      source.ShowFrameAt(at);
      (i < 25 ? forward : backward).push_back(Ms(Clock::now() - start));
    }
    stepSeeks += source.previewCounters().seeks - seeksBefore;
  }
  Report(state, forward, "fwd_");
  Report(state, backward, "back_");
  state.counters["seeks"] = static_cast<double>(stepSeeks);
}

BENCHMARK_CAPTURE(BM_PreviewRandomPositions, wmv, std::string("wmv"), SeekKind::Exact)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_PreviewRandomPositions, mpeg1, std::string("mpg"), SeekKind::Exact)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_PreviewRandomPositions, wmv_dragged, std::string("wmv"),
                  SeekKind::NearestKeyFrame)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_PreviewFrameSteps, wmv, std::string("wmv"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_PreviewFrameSteps, mpeg1, std::string("mpg"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace zel
