// Real encodes: a tone made by ffmpeg goes through the audio path and the
// container writer, and ffmpeg/ffprobe read the result back.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>

#include "common/TestSupport.h"
#include "container/ThreeGpWriter.h"
#include "convert/AudioPath.h"
#include "convert/ConversionParameters.h"
#include "convert/WorkFiles.h"

namespace zel {
namespace {

using test::RecordingNotifier;
using test::TempDir;

constexpr double kToneSeconds = 3.3;

std::map<std::string, std::string> StreamFields(const std::string& path) {
  const std::string text =
      test::Probe(path, {"-select_streams", "a:0", "-show_entries",
                         "stream=codec_name,sample_rate,channels,nb_frames,duration"});
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

struct Case {
  const char* name;
  AudioKind kind;
  int rate, channels;
  const char* codec;
};

class AudioTrackFile : public testing::TestWithParam<Case> {};

TEST_P(AudioTrackFile, DecodesCleanlyWithTheSegmentsDuration) {
  const Case& c = GetParam();
  TempDir dir;
  ConversionState state;
  state.segmentIndex = 0;
  // 44100 Hz stereo PCM as the decoding layer writes it, with a LIST chunk
  // before the data.
  test::MakeMedia({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3.3", "-ac",
                   "2", "-c:a", "pcm_s16le", TemporaryWavPath(dir.path().string(), 0)});

  AudioTrackBuffer audio;
  AudioParameterBlock block;
  AudioSegmentInfo info;
  SetUpAudioSegment(block, c.kind, c.rate, c.channels, 44100, 2, info);
  RecordingNotifier notifier;
  AudioEncoder encoder(audio, state);
  ASSERT_TRUE(encoder.OpenAudioEncoder(block, info, c.kind, notifier));
  encoder.EncodeTemporaryWav(dir.path().string(), notifier);
  EXPECT_TRUE(notifier.messages().empty());
  const std::uint32_t frames = audio.samples.sampleCount();
  ASSERT_GT(frames, 0u);

  VideoTrackBuffer video;  // audio-only files
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    const std::string base = dir.file(std::string(c.name) + ".wmv");
    ASSERT_GT(ThreeGpWriter(audio, video, base, kind), 0u);
    const std::string path = ThreeGpOutputPath(base, kind);
    SCOPED_TRACE(path);
    EXPECT_EQ(test::DecodeErrors(path), "");
    auto fields = StreamFields(path);
    EXPECT_EQ(fields["codec_name"], c.codec);
    EXPECT_EQ(fields["sample_rate"], std::to_string(block.sampleRate));
    EXPECT_EQ(fields["channels"], std::to_string(block.channels));
    EXPECT_EQ(fields["nb_frames"], std::to_string(frames));
    const double frameSeconds = static_cast<double>(block.frameLength) / block.sampleRate;
    const double duration = std::stod(fields["duration"]);
    EXPECT_NEAR(duration, frames * frameSeconds, 1e-3);
    EXPECT_NEAR(duration, kToneSeconds, frameSeconds);
  }
  encoder.CloseAudioEncoder();
}

INSTANTIATE_TEST_SUITE_P(Kinds, AudioTrackFile,
                         testing::Values(Case{"aac8000mono", AudioKind::Aac, 8000, 1, "aac"},
                                         Case{"aac22050stereo", AudioKind::Aac, 22050, 2, "aac"},
                                         Case{"amr", AudioKind::AmrNb, 0, 0, "amr_nb"}),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zel
