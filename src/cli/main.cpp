// zel-convert: the command-line front end for headless and batch use. It
// drives the same conversion as the window.

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "General/AtomicFile.h"
#include "General/Log.h"
#include "General/MediaTypes.h"
#include "General/MessageText.h"
#include "General/PathJoin.h"
#include "General/WorkFolder.h"
#include "cli/CliNotifier.h"
#include "cli/CliOptions.h"
#include "cli/InputQueue.h"
#include "container/ThreeGpWriter.h"
#include "convert/ConversionDriver.h"
#include "convert/ConversionParameters.h"
#include "convert/ConversionPipeline.h"
#include "convert/Messages.h"
#include "convert/SegmentPlan.h"
#include "settings/ConversionSettings.h"
#include "settings/NamePattern.h"
#include "settings/ValueLists.h"
#include "source/AviTranscoder.h"
#include "source/LibavLog.h"
#include "source/MediaSource.h"
#include "source/PreparedInput.h"

#ifndef ZEL_VERSION
#define ZEL_VERSION "0.0.0"
#endif

namespace {

namespace fs = std::filesystem;
using zel::cli::CliNotifier;
using zel::cli::CliOptions;
using zel::cli::OutputOwners;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUnsupportedInput =
    "サポートしていないファイル形式です。\nmpeg1の場合は、音声コーデックにmp3が使用されているファイ"
    "ルは変換できません。";

void Say(const std::string& text) { zel::LogError(text); }

std::string Quoted(const std::string& path) { return zel::ShortenForMessage(path); }

std::string Seconds(std::int64_t hns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(hns) / zel::kHnsPerSecond);
  return text;
}

// Interrupts (Ctrl-C, SIGTERM, SIGHUP) are taken by a thread of their own,
// so that the program can clean up outside of a signal handler. The first
// one stops the run: the running jobs are aborted as the window's abort
// button does it and no further input is started; the program then ends
// normally, removing its work folder. A second one ends the program at
// once, after removing the work folder and any half-written output.
std::atomic<bool> gInterrupted{false};
std::mutex gAbortMutex;
std::set<std::atomic<bool>*> gAbortFlags;  // the running jobs'

// A running job's abort flag, which an interrupt sets while it is listed.
class ListedAbortFlag {
 public:
  explicit ListedAbortFlag(std::atomic<bool>& flag) : flag_(flag) {
    std::lock_guard lock(gAbortMutex);
    gAbortFlags.insert(&flag_);
    if (gInterrupted) flag_ = true;  // the interrupt came before the flag was listed
  }
  ~ListedAbortFlag() {
    std::lock_guard lock(gAbortMutex);
    gAbortFlags.erase(&flag_);
  }
  ListedAbortFlag(const ListedAbortFlag&) = delete;
  ListedAbortFlag& operator=(const ListedAbortFlag&) = delete;

 private:
  std::atomic<bool>& flag_;
};

class SignalWatch {
 public:
  // Blocks the signals in the calling thread (and so in every thread started
  // later) before the watching thread starts.
  SignalWatch() {
    sigemptyset(&signals_);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals_, s);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  }
  ~SignalWatch() {
    if (thread_.joinable()) {
      pthread_kill(thread_.native_handle(), SIGUSR1);  // our own "stop watching"
      thread_.join();
    }
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  void Start(std::string workFolder) {
    thread_ = std::thread([this, workFolder = std::move(workFolder)] {
      for (;;) {
        int signal = 0;
        if (sigwait(&signals_, &signal) != 0 || signal == SIGUSR1) return;
        if (!gInterrupted.exchange(true)) {
          std::lock_guard lock(gAbortMutex);
          for (std::atomic<bool>* flag : gAbortFlags) flag->store(true);
          continue;
        }
        zel::RemovePartialFiles();
        std::error_code ignored;
        fs::remove_all(workFolder, ignored);
        // End as the signal ends a program, so the shell sees why.
        std::signal(signal, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        std::raise(signal);
      }
    });
  }

 private:
  sigset_t signals_;
  std::thread thread_;
};

// Applies the options to the settings; false with a message when the
// combination cannot be converted.
bool ApplyOptions(const CliOptions& o, zel::ConversionSettings& s, std::string& error) {
  if (o.outputFolder) s.result = *o.outputFolder;
  if (o.audioFormat) s.mpeg_audio = *o.audioFormat;
  if (o.videoFormat) s.mpeg_video = *o.videoFormat;
  // Values become indexes of the lists that the stored format offers, as the
  // settings dialog would store them.
  const bool amr = zel::AudioFormatValue(s.mpeg_audio) == 2;
  if (o.sampleRate) {
    int index = zel::IndexOfValue(zel::SampleRateList(s.mpeg_audio), *o.sampleRate);
    if (index < 0) {
      error = amr ? "AMR-NB takes --rate 8000 only" : "--rate needs --audio aac or amr";
      return false;
    }
    s.samplerate = index;
  }
  if (o.channels) {
    int index = zel::IndexOfValue(zel::ChannelList(s.mpeg_audio), *o.channels);
    if (index < 0) {
      error = amr ? "AMR-NB takes --channels 1 only" : "--channels needs --audio aac or amr";
      return false;
    }
    s.channels = index;
  }
  if (o.frameWidth) {
    int index = zel::IndexOfValue(zel::FrameSizeList(s.mpeg_video), *o.frameWidth);
    if (index < 0) {
      error = zel::VideoFormatValue(s.mpeg_video) == 1 ? "H.263 takes --size 128x96 or 176x144"
                                                       : "--size needs --video h263 or mpeg4";
      return false;
    }
    s.framesize = index;
  }
  if (o.frameRate) s.framerate = *o.frameRate;
  if (o.splitSeconds) s.splittime = static_cast<std::int64_t>(*o.splitSeconds) * zel::kHnsPerSecond;
  if (o.containerMode) {
    s.file3gp = *o.containerMode != 2;
    s.file3g2 = *o.containerMode != 1;
  }
  if (o.report) s.logfile = 1;
  if (o.pattern) s.edit = *o.pattern;
  if (o.thumbWidth) s.capturesize = zel::IndexOfValue(zel::CaptureSizeList(), *o.thumbWidth);
  if (o.keepAspect) s.keepaspect = *o.keepAspect;
  if (o.smooth) s.smoothscale = *o.smooth;
  if (o.anyInput) s.anyinput = *o.anyInput;
  if (o.maxSizeKib) s.maxsize = *o.maxSizeKib;
  if (o.normalize) s.normalize = *o.normalize;
  return true;
}

// With H.263 video, the resolved frame size must be one that H.263 can code;
// false with a message naming the sizes of --size that it takes.
bool CheckH263FrameSize(const zel::ConversionSettings& s, std::string& error) {
  if (zel::VideoFormatValue(s.mpeg_video) != zel::kVideoFormatH263) return true;
  const int width = zel::FrameWidth(s.framesize);
  const int height = zel::FrameHeightForWidth(width);
  if (zel::IsH263FrameSize(width, height)) return true;
  std::vector<std::string> sizes;
  // The MPEG-4 list holds the sizes that --size offers.
  for (const zel::ListEntry& entry : zel::FrameSizeList(zel::kVideoFormatMpeg4)) {
    if (zel::IsH263FrameSize(entry.value, zel::FrameHeightForWidth(entry.value)))
      sizes.emplace_back(entry.text);
  }
  std::string choices;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    if (i > 0) choices += i + 1 == sizes.size() ? " or " : ", ";
    choices += sizes[i];
  }
  error = "H.263 video takes " + choices + " (the frame size is " + std::to_string(width) + "x" +
          std::to_string(height) + "); choose one with --size";
  return false;
}

// Loads ./setup.ini or --settings FILE. False (exit 2) when an explicitly
// named file cannot serve; a broken ./setup.ini is described and the run
// goes on with what the load gave.
bool LoadRunSettings(const CliOptions& options, const std::string& startDirectory,
                     zel::ConversionSettings& settings) {
  using Outcome = zel::SettingsLoad::Outcome;
  settings.result = startDirectory;
  const fs::path path = options.settingsFile ? fs::path(*options.settingsFile)
                                             : zel::SettingsFilePath(startDirectory);
  const zel::SettingsLoad load = zel::LoadSettingsFile(settings, path);
  if (options.settingsFile) {
    if (load.outcome == Outcome::Missing) {
      Say("settings file " + Quoted(path.string()) + " not found");
      return false;
    }
    if (load.outcome == Outcome::Refused || load.outcome == Outcome::Unreadable) {
      Say("settings file " + Quoted(path.string()) + ": " + load.reason);
      return false;
    }
  }
  if (std::string why = zel::DescribeSettingsLoad(load, path); !why.empty()) Say(why);
  return true;
}

// What is wrong with an input path, or empty when it names a regular file
// that can be read.
std::string InputProblem(const std::string& input) {
  struct stat st {};
  if (::stat(input.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "no such file";
    if (errno == ELOOP)
      return std::string("its symbolic links form a loop (") + std::strerror(errno) + ")";
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
  ::close(fd);
  return {};
}

// An AVI is checked before its transcoding, as other inputs are by the
// conversion: streams beyond what the converter takes (exit 2), and
// outputs that would replace the input itself, such as a link named .avi
// to a 3GP file (exit 1). The status, or kExitOk after no message.
int CheckAviFirst(const std::string& input, zel::MarkedRange range,
                  const zel::ConversionSettings& settings, CliNotifier& notifier) {
  zel::MediaInfo info;
  if (!zel::ReadMediaInfo(input, info)) return kExitOk;
  if (std::string refused = zel::RefusedStreamsMessage(info, input); !refused.empty()) {
    notifier.showMessage(refused, false);
    return kExitUsage;
  }
  range.duration = info.durationHns;
  zel::ClampMarks(range);
  const int segments = zel::SegmentCount(settings.splittime, range);
  if (segments > zel::kMaxSegments) return kExitOk;  // the conversion refuses it
  for (const std::string& path : zel::PlannedOutputs(input, settings, segments, false)) {
    if (zel::IsSameFile(path, input)) {
      notifier.showMessage(std::string(zel::text::kOutputIsInputPrefix) + input + "]", false);
      return kExitFailed;
    }
  }
  return kExitOk;
}

// Why a file gave nothing to convert: its one kind of stream may be there
// but set aside by the settings.
std::string NothingToConvert(const std::string& path, const zel::ConversionParameters& params) {
  zel::MediaInfo info;
  if (zel::ReadMediaInfo(path, info)) {
    if (info.hasAudio && !info.hasVideo && params.audioKind == zel::AudioKind::None) {
      return "has only sound, and the audio setting is none (--audio)";
    }
    if (info.hasVideo && !info.hasAudio && params.videoKind == zel::VideoKind::None) {
      return "has only pictures, and the video setting is none (--video)";
    }
  }
  return "no sound or pictures that can be decoded";
}

int ConvertOne(const std::string& input, const CliOptions& options,
               const zel::ConversionSettings& settings, const std::string& workFolder,
               CliNotifier& notifier, OutputOwners& owners) {
  if (std::string problem = InputProblem(input); !problem.empty()) {
    Say(Quoted(input) + ": " + problem);
    return kExitFailed;
  }
  if (!zel::IsSupportedInput(input, settings.anyinput != 0)) {
    notifier.showMessage(kUnsupportedInput, false);
    return kExitUsage;
  }

  // The range must hold something of this file.
  zel::MarkedRange range;
  range.start = options.startHns.value_or(0);
  range.end = options.endHns.value_or(0);
  zel::MediaInfo info;
  if (range.start > 0 && zel::ReadMediaInfo(input, info) && (info.hasAudio || info.hasVideo) &&
      range.start >= info.durationHns) {
    Say(Quoted(input) + ": --start " + Seconds(range.start) + " lies at or beyond the end (" +
        Quoted(input) + " lasts " + Seconds(info.durationHns) + ")");
    return kExitUsage;
  }
  // An AVI is first transcoded into a WMV of the same base name in the
  // private work folder; it goes again after its conversion.
  zel::ConversionPipeline pipeline(input, workFolder);
  zel::PreparedInput& prepared = pipeline.prepared();
  if (prepared.needsTranscoding()) {
    if (const int refused = CheckAviFirst(input, range, settings, notifier); refused != kExitOk) {
      return refused;
    }
    zel::PreparedInput::Watch watch;
    watch.abortFlag = &gInterrupted;
    watch.built = [&](const zel::AviTranscoder& transcoder) {
      for (const zel::Fault& fault : transcoder.faults())
        notifier.showMessage(zel::MessageFor(fault), false);
      if (transcoder.hasVideo() && !transcoder.hasAudio())
        Say(Quoted(input) + " has no sound: its pictures are converted alone");
      if (transcoder.hasAudio() && !transcoder.hasVideo())
        Say(Quoted(input) + " has no pictures: its sound is converted alone");
    };
    const zel::Preparation end = prepared.Transcode(watch);
    if (end == zel::Preparation::Aborted) {
      notifier.showMessage(zel::text::kAborted, false);
      return kExitFailed;
    }
    if (end == zel::Preparation::Failed || !prepared.Keep()) {
      Say(Quoted(input) + ": the AVI file could not be prepared");
      return kExitFailed;
    }
  }
  const std::string& path = prepared.path();

  zel::ConversionParameters params;
  zel::ConversionState state;
  notifier.beginInput(zel::PathFileName(input));
  state.converting = true;
  zel::ConversionSummary summary;
  // Another input of the same name would replace the files of an earlier one.
  const std::set<std::string> taken = owners.Files();
  zel::ConversionOutcome outcome;
  {
    const ListedAbortFlag listed(state.abortRequested);
    outcome = pipeline.Convert({settings, params, state, range}, notifier, &taken, &summary);
  }
  state.converting = false;
  notifier.endInput();
  if (!summary.takenOutput.empty()) {
    Say(Quoted(input) + ": its outputs would replace those of " +
        Quoted(owners.OwnerOf(summary.takenOutput)) + " from this run; skipped");
  } else {
    owners.Add(summary.outputs, input);
  }
  const std::string nothing = outcome == zel::ConversionOutcome::Failed && !summary.hadStreams
                                  ? NothingToConvert(path, params)
                                  : std::string();
  switch (outcome) {
    case zel::ConversionOutcome::Completed:
      return kExitOk;
    case zel::ConversionOutcome::Refused:
      return kExitUsage;
    case zel::ConversionOutcome::Failed:
      if (!nothing.empty()) Say(Quoted(input) + ": " + nothing);
      return kExitFailed;
    case zel::ConversionOutcome::Aborted:
      return kExitFailed;
  }
  return kExitFailed;
}

int Run(const CliOptions& options) {
  zel::ConversionSettings settings;
  std::error_code ec;
  const std::string startDirectory = fs::current_path(ec).string();
  if (!LoadRunSettings(options, startDirectory, settings)) return kExitUsage;
  std::string error;
  if (!ApplyOptions(options, settings, error)) {
    Say(error);
    return kExitUsage;
  }
  if (settings.logfile != 0 && options.inputs.size() > 1) {
    // Each conversion starts a new thumbnail.html and numbers its thumbnails
    // from 0, so a second input would overwrite the first one's report.
    Say("the report (--report, or logfile=1 in the settings) takes one input per run");
    return kExitUsage;
  }
  if ((settings.file3gp != 0 || settings.file3g2 != 0) &&
      zel::AudioFormatValue(settings.mpeg_audio) == 0 &&
      zel::VideoFormatValue(settings.mpeg_video) == 0) {
    Say("nothing to convert: audio and video are both \"none\" (settings, --audio, --video)");
    return kExitUsage;
  }
  if ((settings.file3gp != 0 || settings.file3g2 != 0) && !CheckH263FrameSize(settings, error)) {
    Say(error);
    return kExitUsage;
  }
  if (settings.logfile != 0 && !settings.edit.empty() && !zel::IsSafeNamePattern(settings.edit)) {
    Say("the name pattern " + Quoted(settings.edit) +
        " cannot name thumbnails (one integer "
        "conversion such as %02d at most); they are named with " +
        std::string(zel::kDefaultNamePattern));
  }
  if (settings.result.empty()) settings.result = startDirectory;
  if (!fs::is_directory(settings.result, ec)) {
    Say("output folder " + Quoted(settings.result) + " does not exist");
    return kExitUsage;
  }
  // The report's image links are absolute, so the page works wherever it is
  // opened from; a relative -o would make them relative to our current folder.
  if (const fs::path absolute = fs::absolute(settings.result, ec); !ec) {
    settings.result = absolute.lexically_normal().string();
    if (settings.result.size() > 1 && settings.result.back() == '/') settings.result.pop_back();
  }

  // The signals are blocked before the work folder exists: a kill in
  // between would leave a folder without its marker, which no run removes.
  SignalWatch signals;
  zel::WorkFolder workFolder;
  if (!workFolder.Create("zel-convert", &error)) {
    Say(error);
    return kExitFailed;
  }
  signals.Start(workFolder.path());

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  int jobs = options.jobs;
  if (jobs == 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  // Inputs converted at once each name themselves in their messages, draw
  // no bar, and have a work folder of their own (a job's temporary files
  // have fixed names).
  const bool together = jobs > 1 && options.inputs.size() > 1;
  std::mutex statusMutex;
  int status = kExitOk;
  OutputOwners owners;
  zel::cli::ConvertInputs(
      options.inputs, jobs, settings.splittime > 0, gInterrupted, [&](std::size_t index) {
        const std::string& input = options.inputs[index];
        std::string folder = workFolder.path();
        if (together) folder = zel::JoinPath(folder, std::to_string(index));
        CliNotifier notifier(options.quiet, terminal && !together,
                             together ? Quoted(input) + ": " : std::string());
        int result = kExitFailed;
        // Whatever fails ends this input's conversion, not the program (whose
        // work folder would stay).
        try {
          if (together) fs::create_directory(folder);
          result = ConvertOne(input, options, settings, folder, notifier, owners);
        } catch (const std::bad_alloc&) {
          Say(Quoted(input) + ": out of memory");
        } catch (const std::exception& e) {
          Say(Quoted(input) + ": " + e.what());
        }
        std::error_code ignored;
        if (together) fs::remove_all(folder, ignored);
        std::lock_guard lock(statusMutex);
        status = std::max(status, result);
      });
  if (gInterrupted && status == kExitOk) status = kExitFailed;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CliOptions options;
  std::string error;
  if (!zel::cli::ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "zel-convert: %s\nTry 'zel-convert --help' for more information.\n",
                 error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(zel::cli::UsageText(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("zel-convert %s\n", ZEL_VERSION);
    return kExitOk;
  }
  // A closed output stream (zel-convert ... | head) ends in failed writes,
  // not in a silent death; so does a file size limit (ulimit -f), whose
  // failed write shows its message.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  zel::SetLogProgram("zel-convert", options.verbose);
  zel::InstallLibavLog();
  return Run(options);
}
