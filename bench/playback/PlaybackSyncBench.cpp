// A/V sync of the preview's playback. A 60-second clip shows a white picture
// and plays a click every 2 s (black and silence otherwise); its sound is
// PCM, since ffmpeg's WMA encoder leaves its delay unmarked (the clicks of a
// wmav2 clip decode 46 ms early and its pictures start 46 ms late). The range is
// played through the window's PlaybackController, alone and while
// conversions of another clip (60 s, 640x480, the default settings) run one
// after another in the same process, as the window's conversion thread runs
// them; conversions counts those finished meanwhile.
//
// How the offset is measured: the sink notes the moment each white picture
// is handed to it (Tw). A 1 ms timer notes the controller's clock, the
// sound actually played by the audio device (QAudioSink::processedUSecs) or,
// without a device, the steady clock that stands in for it; Ta is the moment
// that clock passed the click's first sample (the clicks' places are read
// from the clip's decoded sound). av_offset = Tw - Ta: positive when the
// picture comes after its sound. file_offset is what the clip itself holds
// (white picture's time - click's time); a player that is exactly in sync
// shows av_offset = file_offset; sync_error = av_offset - file_offset is
// what playback adds. Also reported: pictures shown and dropped,
// processor time of the whole process per second played, the worst interval
// of a 100 ms timer on the window's thread (the window's own tick), how long the play command held
// that thread, and whether a device played.
//
//   build/bench/zel_playback_bench
//   XDG_RUNTIME_DIR=<a PulseAudio null sink's> build/bench/zel_playback_bench

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "General/Notifier.h"
#include "app/playback/PlaybackController.h"
#include "container/TrackBuffers.h"
#include "convert/ConversionDriver.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"
#include "settings/ConversionSettings.h"
#include "source/MediaSource.h"
#include "source/PreviewSource.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using app::PlaybackController;

double NowMs() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

class Clips {
 public:
  Clips() {
    folder_ = fs::temp_directory_path() / ("zel-bench-playback-" + std::to_string(getpid()));
    fs::create_directories(folder_ / "out");
  }
  ~Clips() {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  const fs::path& folder() const { return folder_; }
  // The sync clip; empty when ffmpeg could not make it.
  std::string Sync() {
    return Make("sync.wmv",
                "-f lavfi -i color=c=black:s=640x480:r=25:d=60,"
                "drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(mod(n\\,50)\\,0)' "
                "-f lavfi -i aevalsrc='if(lt(mod(t\\,2)\\,0.005)\\,0.8*sin(2*PI*1000*t)\\,0)'"
                ":s=44100:d=60 -ac 2 -c:v wmv2 -b:v 1M -c:a pcm_s16le");
  }
  std::string Busy() {
    return Make("busy.wmv",
                "-f lavfi -i testsrc2=size=640x480:rate=25:duration=60 -f lavfi -i "
                "sine=frequency=440:sample_rate=44100:duration=60 -c:v wmv2 -b:v 1M -c:a wmav2");
  }
  // Where the clicks start in the clip's decoded sound, 100-ns units.
  std::vector<std::int64_t> Clicks(const std::string& path) {
    std::vector<std::int64_t> clicks;
    const std::string command =
        "ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -ar 44100 -f s16le -";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return clicks;
    std::int16_t sample = 0;
    std::int64_t index = 0, lastLoud = -44100;
    while (std::fread(&sample, 2, 1, pipe) == 1) {
      if (std::abs(sample) > 3000) {
        if (index - lastLoud > 22050) clicks.push_back(index * 10'000'000 / 44100);
        lastLoud = index;
      }
      ++index;
    }
    pclose(pipe);
    return clicks;
  }

 private:
  std::string Make(const std::string& name, const std::string& args) {
    auto found = paths_.find(name);
    if (found != paths_.end()) return found->second;
    const std::string path = (folder_ / name).string();
    const std::string command = "ffmpeg -y -v error -nostdin " + args + " " + path;
    return paths_[name] = std::system(command.c_str()) == 0 ? path : std::string();
  }
  fs::path folder_;
  std::map<std::string, std::string> paths_;
};

Clips& TheClips() {
  static Clips clips;
  return clips;
}

class QuietNotifier final : public Notifier {
 public:
  int showMessage(std::string_view, bool) override { return 1; }
  void setCaption(std::string_view) override {}
};

// Notes when each white picture is shown.
class WhiteWatch final : public PreviewSink {
 public:
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    const std::uint8_t* centre =
        frame.pixels + static_cast<std::ptrdiff_t>(frame.height / 2) * frame.bytesPerLine +
        (frame.width / 2) * 4;
    if (centre[1] > 128) whites.push_back({frame.timeHns, NowMs()});
  }
  struct Shown {
    std::int64_t timeHns;
    double wallMs;
  };
  std::vector<Shown> whites;
};

// Median of a list (sorted in place).
double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void BM_PlaybackSync(benchmark::State& state) {
  const auto sound = state.range(0) != 0 ? PlaybackController::Sound::DefaultOutput
                                         : PlaybackController::Sound::Silent;
  const bool converting = state.range(1) != 0;
  const std::string clip = TheClips().Sync();
  const std::string busy = converting ? TheClips().Busy() : std::string();
  const std::vector<std::int64_t> clicks = TheClips().Clicks(clip);
  if (clip.empty() || (converting && busy.empty()) || clicks.size() < 25) {
    state.SkipWithError("ffmpeg could not make the clips");
    return;
  }
  for (auto _ : state) {
    PreviewSource preview;
    WhiteWatch sink;
    if (preview.OpenPreview(clip, &sink) != OpenResult::Opened) {
      state.SkipWithError("the clip does not open");
      return;
    }
    preview.LayoutVideoWindow(770, 312, 0);  // the window's preview area
    PlaybackController controller(preview, sound);

    // The clock, sampled every millisecond: (wall ms, clock hns).
    std::vector<std::pair<double, std::int64_t>> samples;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (controller.isPlaying()) samples.emplace_back(NowMs(), controller.clockHns());
    });
    // The window's 100 ms timer.
    double lastTick = NowMs(), worstTick = 0, worstTickAt = 0, wallBefore = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const double now = NowMs();
      if (now - lastTick > worstTick) {
        worstTick = now - lastTick;
        worstTickAt = (now - wallBefore) / 1000;
      }
      lastTick = now;
    });

    // A conversion of another clip on a thread of its own, as the window runs it.
    ConversionSettings settings;
    ApplyDefaultSettings(settings);
    settings.result = (TheClips().folder() / "out").string();
    settings.file3gp = 1;
    ConversionParameters params;
    ConversionState conversionState;
    MarkedRange range;
    VideoEncoderContext videoContext;
    AudioParameterBlock audioBlock;
    MediaSource conversionSource;
    QuietNotifier conversionNotifier;
    ConversionJob job{settings,     params,     conversionState,  range,
                      videoContext, audioBlock, conversionSource, conversionNotifier};
    // One conversion after another, for as long as the range plays.
    std::atomic<bool> playingDone{false};
    std::atomic<int> conversions{0};
    std::thread conversion;
    if (converting) {
      conversion = std::thread([&] {
        while (!playingDone) {
          conversionState.converting = true;
          if (ConvertThreadBody(busy, &conversionNotifier, TheClips().folder().string(), job) ==
              ConversionOutcome::Completed) {
            ++conversions;
          }
          conversionState.converting = false;
        }
      });
    }

    QEventLoop loop;
    QObject::connect(&controller, &PlaybackController::finished, &loop, &QEventLoop::quit);
    const double cpuBefore = CpuMs();
    wallBefore = NowMs();
    poll.start(1);
    tick.start(100);
    lastTick = NowMs();
    const std::int64_t durationHns = preview.previewInfo().durationHns;
    const double playBegan = NowMs();
    const bool started = controller.play(0, durationHns);
    const double playMs = NowMs() - playBegan;  // the window's thread held up by the command
    if (!started) {
      state.SkipWithError("playback did not start");
    } else {
      loop.exec();
    }
    const bool audible = controller.audible() || controller.counters().pcmBytes > 0;
    const double playedS = (NowMs() - wallBefore) / 1000;
    const double cpuMs = CpuMs() - cpuBefore;
    poll.stop();
    tick.stop();
    playingDone = true;
    conversionState.abortRequested = true;
    if (conversion.joinable()) conversion.join();

    // Ta: when the clock passed each click.
    const auto passed = [&samples](std::int64_t hns) -> double {
      for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].second >= hns && samples[i - 1].second < hns) {
          const auto& [t0, c0] = samples[i - 1];
          const auto& [t1, c1] = samples[i];
          return t0 + (t1 - t0) * static_cast<double>(hns - c0) / static_cast<double>(c1 - c0);
        }
      }
      return -1;
    };
    std::vector<double> offsets, fileOffsets, errors;
    double worst = 0, worstError = 0;
    for (const WhiteWatch::Shown& white : sink.whites) {
      // The picture at the range's start is shown at once, as a still,
      // before the clock runs.
      if (white.timeHns == 0) continue;
      const auto click = std::min_element(clicks.begin(), clicks.end(), [&](auto a, auto b) {
        return std::llabs(a - white.timeHns) < std::llabs(b - white.timeHns);
      });
      const double ta = passed(*click);
      if (ta < 0) continue;
      offsets.push_back(white.wallMs - ta);
      fileOffsets.push_back((white.timeHns - *click) / 1e4);
      errors.push_back(offsets.back() - fileOffsets.back());
      worst = std::max(worst, std::abs(offsets.back()));
      worstError = std::max(worstError, std::abs(errors.back()));
    }
    const PlaybackCounters counters = controller.counters();
    state.counters["audible"] = audible ? 1 : 0;
    state.counters["whites"] = static_cast<double>(offsets.size());
    state.counters["av_offset_median_ms"] = Median(offsets);
    state.counters["av_offset_worst_ms"] = worst;
    state.counters["file_offset_ms"] = Median(fileOffsets);
    state.counters["sync_error_median_ms"] = Median(errors);
    state.counters["sync_error_worst_ms"] = worstError;
    state.counters["shown"] = static_cast<double>(counters.shown);
    state.counters["dropped"] = static_cast<double>(counters.dropped);
    state.counters["played_s"] = playedS;
    state.counters["cpu_ms_per_s"] = cpuMs / playedS;
    state.counters["tick_worst_ms"] = worstTick;
    state.counters["play_call_ms"] = playMs;
    state.counters["tick_worst_at_s"] = worstTickAt;
    if (converting) state.counters["conversions"] = conversions.load();
  }
}

BENCHMARK(BM_PlaybackSync)
    ->ArgNames({"sound", "converting"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace zel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the event loop the controller's timers run on
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
