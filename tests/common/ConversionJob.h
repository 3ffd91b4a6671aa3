#pragma once

// One conversion job through the driver, as the window runs it.

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "common/MediaFixtures.h"
#include "convert/ConversionDriver.h"
#include "convert/VideoEncoderContext.h"
#include "settings/ConversionSettings.h"
#include "source/MediaSource.h"

namespace zel::test {

inline constexpr const char* kSaved = "ファイルをフォルダ[";

// Records, and raises the abort flag when the driver starts segment abortAt
// (-1: at the first progress caption of the video path); atProgress sees
// every progress.
class JobNotifier : public RecordingNotifier {
 public:
  std::atomic<bool>* flag = nullptr;
  int abortAt = -2;
  std::function<void(const ConversionProgress&)> atProgress;
  void reportProgress(const ConversionProgress& p) override {
    if (p.segmentIndex == abortAt) flag->store(true);
    if (atProgress) atProgress(p);
  }
  void setCaption(std::string_view text) override {
    RecordingNotifier::setCaption(text);
    if (abortAt == -1) flag->store(true);
  }
};

// One job with its own output and work folders: 176x144 at 15 fps, 3GP only.
struct Job {
  Job() {
    ApplyDefaultSettings(settings);
    settings.result = out.path().string();
    settings.framesize = 1;
    settings.framerate = 15;
    settings.file3g2 = 0;
    notifier.flag = &state.abortRequested;
  }
  ConversionOutcome Convert(const std::string& input) {
    state.converting = true;
    const ConversionOutcome outcome = ConvertThreadBody(input, &notifier, workPath, job, &summary);
    state.converting = false;
    return outcome;
  }
  // The container files in the output folder.
  std::set<std::string> Outputs() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(out.path()))
      if (e.path().extension() == ".3gp" || e.path().extension() == ".3g2")
        names.insert(e.path().filename());
    return names;
  }

  TempDir out, work;
  std::string workPath = work.path().string();
  ConversionSettings settings;
  ConversionParameters params;
  ConversionState state;
  MarkedRange range;
  VideoEncoderContext videoContext;
  AudioParameterBlock audioBlock;
  MediaSource source;
  JobNotifier notifier;
  ConversionSummary summary;
  ConversionJob job{settings, params, state, range, videoContext, audioBlock, source, notifier};
};

// What ffmpeg logs of the file through a filter (option "-vf" or "-af").
inline std::string FilterLog(const std::string& path, const char* option,
                             const std::string& filter) {
  return RunCommand({"ffmpeg", "-nostats", "-i", path, option, filter, "-f", "null", "-"}).err;
}

// The file decodes without an error line, and each of its tracks lasts
// `seconds` within one of its own frames: pictures, and sound of a second or
// more (a shorter segment has an empty sound track); the two then end within
// one frame of each other.
inline void ExpectTracksLast(const std::string& path, double seconds) {
  SCOPED_TRACE(path);
  EXPECT_EQ(DecodeErrors(path), "");
  double last[2] = {0, 0}, frame[2] = {0, 0};  // video, audio
  std::istringstream streams(
      Probe(path, "stream=codec_type,duration,nb_read_packets", {"-count_packets"}));
  for (std::string s; streams >> s;) {  // "video,4.066667,61"
    const int audio = !s.starts_with("video,"), packets = std::atoi(s.c_str() + s.rfind(',') + 1);
    last[audio] = std::strtod(s.c_str() + s.find(',') + 1, nullptr);
    frame[audio] = packets > 0 ? last[audio] / packets : -1;
  }
  EXPECT_TRUE(frame[0] == 0 || std::abs(last[0] - seconds) <= frame[0] + 1e-3) << last[0];
  if (frame[1] == 0 || seconds < 1) return;
  ASSERT_GT(frame[1], 0) << "a segment of a second or more keeps its sound";
  EXPECT_NEAR(last[1], seconds, frame[1] + 1e-3);
  EXPECT_TRUE(frame[0] == 0 || std::abs(last[0] - last[1]) <= std::max(frame[0], frame[1]) + 1e-3);
}

}  // namespace zel::test
