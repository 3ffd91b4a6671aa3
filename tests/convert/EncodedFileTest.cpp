// Real encodes through the video and audio paths, written as 3GP and 3G2
// files and read back by ffprobe and ffmpeg: every packet where the stores
// held it, with its time, size and key flag.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/MediaFixtures.h"
#include "common/VideoEncoding.h"
#include "container/ThreeGpWriter.h"
#include "convert/AudioPath.h"
#include "convert/WorkFiles.h"

namespace zel {
namespace {

using test::ProbeFields;

struct Case {
  const char* name;
  FileKind kind;
  VideoKind video;
  int width, height;
  AudioKind audio;
  int rate, channels;  // 0: the source's (44100 Hz stereo)
  const char *videoCodec, *audioCodec;
  bool longConfig = false;  // MPEG-4 headers padded with user data to 200 bytes
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class EncodedFileTest : public ::testing::TestWithParam<Case> {};

// Two seconds: 60 frames of 320x240 at 30 fps become 30 pictures at 15 fps,
// a 44100 Hz stereo tone made by ffmpeg the segment's sound.
TEST_P(EncodedFileTest, FfprobeReadsEveryPacketAndFfmpegDecodes) {
  const Case& c = GetParam();
  test::TempDir dir;
  test::EncodingSegment s(c.video, 15, c.width, c.height, {333333, 320, 240}, 20000000);
  ASSERT_TRUE(s.ok);
  for (int n = 0; n < 60; ++n) s.Deliver(n, 30.0);
  s.grabber.CloseVideoEncoder();
  VideoTrackBuffer& video = s.store;
  AudioParameterBlock& block = s.audio;
  ASSERT_EQ(video.samples.sampleCount(), 30u);
  EXPECT_EQ(s.grabber.flushedPackets(), 0u);  // no B-frames: every picture came out at once
  EXPECT_EQ(video.syncSamples, (std::vector<std::uint32_t>{1, 13, 25}));
  EXPECT_EQ(video.stream.bitRate, 200000);
  EXPECT_EQ(video.stream.encoderName, c.videoCodec);
  if (c.longConfig) {
    auto& config = video.stream.decoderConfig;
    ASSERT_LT(config.size(), 190u);
    config.insert(config.end(), {0x00, 0x00, 0x01, 0xB2});
    config.resize(200, 'Z');
  }

  test::MakeMedia({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2", "-ac",
                   "2", "-c:a", "pcm_s16le", TemporaryWavPath(dir.path().string(), 0)});
  AudioTrackBuffer audio;
  AudioSegmentInfo audioInfo;
  SetUpAudioSegment(block, c.audio, c.rate, c.channels, 44100, 2, audioInfo);
  AudioEncoder encoder(audio, s.state);
  ASSERT_TRUE(encoder.OpenAudioEncoder(block, audioInfo, c.audio, s.notifier));
  encoder.EncodeTemporaryWav(dir.path().string(), s.notifier);
  encoder.CloseAudioEncoder();
  ASSERT_GT(audio.samples.sampleCount(), 0u);
  EXPECT_TRUE(s.notifier.messages().empty());

  const std::string base = dir.file("clip.wmv"), path = ThreeGpOutputPath(base, c.kind);
  WriterOptions options;
  options.containerMode =
      c.kind == FileKind::ThreeGp ? ContainerMode::ThreeGpOnly : ContainerMode::ThreeG2Only;
  ASSERT_GT(ThreeGpWriter(audio, video, base, c.kind, options), 0u);
  EXPECT_EQ(test::DecodeErrors(path), "");

  std::vector<ProbeFields> streams = test::ProbeStreams(path, {"-count_frames"});
  ASSERT_EQ(streams.size(), 2u);
  ProbeFields& v = streams[0];
  ProbeFields& a = streams[1];
  EXPECT_EQ(v["codec_name"] + " " + v["width"] + "x" + v["height"] + " " + v["time_base"],
            std::string(c.videoCodec) + " " + std::to_string(c.width) + "x" +
                std::to_string(c.height) + " 1/90000");
  EXPECT_EQ(v["nb_frames"] + " " + v["nb_read_frames"] + " " + v["duration"], "30 30 2.000000");
  if (c.video == VideoKind::Mpeg4) {
    EXPECT_EQ(v["extradata_size"], std::to_string(video.stream.decoderConfig.size()));
  }
  EXPECT_EQ(a["codec_name"] + " " + a["sample_rate"] + " " + a["channels"],
            std::string(c.audioCodec) + " " + std::to_string(block.sampleRate) + " " +
                std::to_string(block.channels));
  EXPECT_EQ(a["nb_frames"], std::to_string(audio.samples.sampleCount()));
  const double frameSeconds = double(block.frameLength) / block.sampleRate;
  EXPECT_NEAR(std::stod(a["duration"]), audio.samples.sampleCount() * frameSeconds, 1e-3);
  EXPECT_NEAR(std::stod(a["duration"]), 2.0, frameSeconds);

  std::vector<ProbeFields> packets[2];
  for (ProbeFields& p : test::ProbeSections(path, {"-show_packets"}, "packet"))
    packets[p["stream_index"] == "0" ? 0 : 1].push_back(p);
  ASSERT_EQ(packets[0].size(), video.samples.sampleCount());
  ASSERT_EQ(packets[1].size(), audio.samples.sampleCount());
  std::size_t key = 0;
  for (std::size_t i = 0; i < packets[0].size(); ++i) {
    const bool isKey = key < video.syncSamples.size() && video.syncSamples[key] == i + 1;
    key += isKey;
    EXPECT_EQ(packets[0][i]["pts"] + " " + packets[0][i]["duration"] + " " + packets[0][i]["size"] +
                  " " + packets[0][i]["flags"].substr(0, 1),
              std::to_string(i * 6000) + " 6000 " + std::to_string(video.samples.sampleSizes()[i]) +
                  (isKey ? " K" : " _"))
        << "video " << i;
  }
  for (std::size_t i = 0; i < packets[1].size(); ++i) {
    const int n = block.frameLength;
    EXPECT_EQ(packets[1][i]["pts"] + " " + packets[1][i]["duration"] + " " + packets[1][i]["size"],
              std::to_string(i * n) + " " + std::to_string(n) + " " +
                  std::to_string(audio.samples.sampleSizes()[i]))
        << "audio " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EncodedFileTest,
    ::testing::Values(Case{"Mpeg4Aac3gp", FileKind::ThreeGp, VideoKind::Mpeg4, 176, 144,
                           AudioKind::Aac, 8000, 1, "mpeg4", "aac"},
                      Case{"Mpeg4AacLongConfig3g2", FileKind::ThreeG2, VideoKind::Mpeg4, 176, 144,
                           AudioKind::Aac, 22050, 2, "mpeg4", "aac", true},
                      Case{"H263Amr3gp", FileKind::ThreeGp, VideoKind::H263, 128, 96,
                           AudioKind::AmrNb, 0, 0, "h263", "amr_nb"},
                      Case{"H263Amr3g2", FileKind::ThreeG2, VideoKind::H263, 176, 144,
                           AudioKind::AmrNb, 0, 0, "h263", "amr_nb"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zel
