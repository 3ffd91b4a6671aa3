// zel-convert: the command-line front end for headless and batch use. It
// drives the same conversion as the window.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "General/GeneralFile.h"
#include "General/PathJoin.h"
#include "cli/CliNotifier.h"
#include "cli/CliOptions.h"
#include "convert/ConversionDriver.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"
#include "settings/ConversionSettings.h"
#include "settings/ValueLists.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"

#ifndef ZEL_VERSION
#define ZEL_VERSION "0.0.0"
#endif

namespace {

using zel::cli::CliNotifier;
using zel::cli::CliOptions;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUnsupportedInput =
    "サポートしていないファイル形式です。\nmpeg1の場合は、音声コーデックにmp3が使用されているファイ"
    "ルは変換できません。";

// The first Ctrl-C stops the run: the running job is aborted as the window's
// abort button does it (its unfinished files are removed) and no further
// input is started. A second one ends the program at once.
std::atomic<bool> gInterrupted{false};
std::atomic<std::atomic<bool>*> gAbortFlag{nullptr};  // the running job's

extern "C" void OnInterrupt(int) {
  if (!gInterrupted.exchange(true)) {
    if (std::atomic<bool>* flag = gAbortFlag.load()) flag->store(true);
    return;
  }
  std::signal(SIGINT, SIG_DFL);
  std::raise(SIGINT);
}

// Private folder for the temporary WAV and WMV files of this run, so that
// parallel runs in one folder never meet.
class RunFolder {
 public:
  RunFolder() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return;  // e.g. TMPDIR names no folder: reported by the caller
    std::string pattern = (temp / "zel-convert-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~RunFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
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
  if (o.splitSeconds) s.splittime = static_cast<std::int64_t>(*o.splitSeconds) * 10000000;
  if (o.containerMode) {
    s.file3gp = *o.containerMode != 2;
    s.file3g2 = *o.containerMode != 1;
  }
  if (o.report) s.logfile = 1;
  if (o.pattern) s.edit = *o.pattern;
  if (o.thumbWidth) s.capturesize = zel::IndexOfValue(zel::CaptureSizeList(), *o.thumbWidth);
  return true;
}

int ConvertOne(const std::string& input, const CliOptions& options,
               const zel::ConversionSettings& settings, const std::string& workFolder,
               CliNotifier& notifier) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(input, ec)) {
    std::fprintf(stderr, "zel-convert: %s: no such file\n", input.c_str());
    return kExitFailed;
  }
  if (!zel::IsSupportedInput(input)) {
    notifier.showMessage(kUnsupportedInput, false);
    return kExitUsage;
  }
  std::string path = input;
  if (zel::NeedsAviTranscoding(input)) {
    // The AVI is first transcoded into a WMV of the same base name.
    std::string name = zel::GneGetFileName(input);
    zel::GneCutExtension(name);
    path = zel::JoinPath(workFolder, name + ".wmv");
    zel::AviTranscoder transcoder(input, path, notifier);
    transcoder.SetAbortFlag(&gInterrupted);
    if (!transcoder.Run()) {
      if (gInterrupted) {
        notifier.showMessage("変換を中断しました。", false);
      } else {
        std::fprintf(stderr, "zel-convert: %s: the AVI file could not be prepared\n",
                     input.c_str());
      }
      return kExitFailed;
    }
  }

  zel::ConversionParameters params;
  zel::ConversionState state;
  zel::MarkedRange range;
  zel::VideoEncoderContext videoContext;
  zel::AudioParameterBlock audioBlock;
  zel::MediaSource source;
  zel::ConversionJob job{settings,     params,     state,  range,
                         videoContext, audioBlock, source, notifier};
  range.start = options.startHns.value_or(0);
  range.end = options.endHns.value_or(0);

  notifier.beginInput(zel::GneGetFileName(input));
  state.converting = true;
  gAbortFlag = &state.abortRequested;
  if (gInterrupted) state.abortRequested = true;  // Ctrl-C came before the flag was known
  zel::ConversionSummary summary;
  zel::ConversionOutcome outcome =
      zel::ConvertThreadBody(path, &notifier, workFolder, job, &summary);
  gAbortFlag = nullptr;
  state.converting = false;
  notifier.endInput();

  switch (outcome) {
    case zel::ConversionOutcome::Completed:
      if (!summary.hadStreams) {
        std::fprintf(stderr, "zel-convert: %s: no audio or video stream to convert\n",
                     input.c_str());
        return kExitFailed;
      }
      return kExitOk;
    case zel::ConversionOutcome::Refused:
      return kExitUsage;
    case zel::ConversionOutcome::Aborted:
    case zel::ConversionOutcome::Failed:
      return kExitFailed;
  }
  return kExitFailed;
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

  zel::ConversionSettings settings;
  std::error_code ec;
  std::string startDirectory = std::filesystem::current_path(ec).string();
  settings.result = startDirectory;
  if (options.settingsFile) {
    if (!std::filesystem::is_regular_file(*options.settingsFile, ec)) {
      std::fprintf(stderr, "zel-convert: settings file %s not found\n",
                   options.settingsFile->c_str());
      return kExitUsage;
    }
    zel::LoadSettingsFile(settings, *options.settingsFile);
  } else {
    zel::LoadSettings(settings, startDirectory);
  }
  if (!ApplyOptions(options, settings, error)) {
    std::fprintf(stderr, "zel-convert: %s\n", error.c_str());
    return kExitUsage;
  }
  if (settings.logfile != 0 && options.inputs.size() > 1) {
    // Each conversion starts a new thumbnail.html and numbers its thumbnails
    // from 0, so a second input would overwrite the first one's report.
    std::fprintf(stderr,
                 "zel-convert: the report (--report, or logfile=1 in the settings) takes one "
                 "input per run\n");
    return kExitUsage;
  }
  if (settings.result.empty()) settings.result = startDirectory;
  if (!std::filesystem::is_directory(settings.result, ec)) {
    std::fprintf(stderr, "zel-convert: output folder %s does not exist\n", settings.result.c_str());
    return kExitUsage;
  }

  RunFolder workFolder;
  if (workFolder.path().empty()) {
    std::fprintf(stderr, "zel-convert: cannot create a temporary folder\n");
    return kExitFailed;
  }

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  CliNotifier notifier(options.quiet, ::isatty(STDERR_FILENO) == 1);
  int status = kExitOk;
  for (const std::string& input : options.inputs) {
    if (gInterrupted) break;
    int result = ConvertOne(input, options, settings, workFolder.path(), notifier);
    if (result > status) status = result;
  }
  if (gInterrupted && status == kExitOk) status = kExitFailed;
  return status;
}
