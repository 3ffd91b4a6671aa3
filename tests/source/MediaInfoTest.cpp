#include <gtest/gtest.h>

#include <fstream>

#include "SourceMedia.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

using test::Join;
using test::MakeMedia;
using test::RecordingNotifier;
using test::TempDir;
using test::Tone;
using test::Video;

MediaInfo Open(const std::string& path, bool wantAudio = true, bool wantVideo = true) {
  MediaSource source;
  RecordingNotifier notifier;
  EXPECT_TRUE(source.BuildConversionGraph(path, wantAudio, wantVideo, notifier)) << path;
  EXPECT_TRUE(notifier.messages().empty());
  return source.info();
}

TEST(MediaInfo, WmvWithBothStreams) {
  TempDir dir;
  const MediaInfo info = Open(test::MakeWmv(dir, "clip.wmv", "2"));
  EXPECT_TRUE(info.hasAudio);
  EXPECT_TRUE(info.hasVideo);
  EXPECT_NEAR(info.durationHns, 20000000, 1500000);
  EXPECT_EQ(info.frameDurationHns, 400000);
  EXPECT_EQ(info.frameRate, 25);
  EXPECT_EQ(info.width, 176);
  EXPECT_EQ(info.height, 144);
  EXPECT_EQ(info.displayWidth, 176);
  EXPECT_EQ(info.displayHeight, 144);
  EXPECT_EQ(info.sampleRate, 44100);
  EXPECT_EQ(info.channels, 2);
}

TEST(MediaInfo, WantingNoStreamMakesItAbsent) {
  TempDir dir;
  const std::string path = test::MakeWmv(dir, "clip.wmv", "1");
  const MediaInfo noAudio = Open(path, false, true);
  EXPECT_FALSE(noAudio.hasAudio);
  EXPECT_TRUE(noAudio.hasVideo);
  const MediaInfo noVideo = Open(path, true, false);
  EXPECT_TRUE(noVideo.hasAudio);
  EXPECT_FALSE(noVideo.hasVideo);
}

TEST(MediaInfo, WavFilesAsDelivered) {
  TempDir dir;
  const struct {
    const char* name;
    int rate;
    std::vector<std::string> options;
    int channels;
  } cases[] = {
      {"mono8k.wav", 8000, {"-ac", "1"}, 1},
      {"stereo.wav", 44100, {"-ac", "2"}, 2},
      {"surround.wav", 48000, {"-af", "aformat=channel_layouts=5.1"}, 2},
      {"deep.wav", 22050, {"-ac", "2", "-c:a", "pcm_s24le"}, 2},
      {"song.mpa", 44100, {"-ac", "2", "-c:a", "mp2", "-f", "mp2"}, 2},
  };
  for (const auto& c : cases) {
    const std::string path = dir.file(c.name);
    MakeMedia(Join({Tone(c.rate, "1"), c.options, {path}}));
    const MediaInfo info = Open(path);
    EXPECT_TRUE(info.hasAudio) << c.name;
    EXPECT_FALSE(info.hasVideo) << c.name;
    EXPECT_EQ(info.sampleRate, c.rate) << c.name;
    EXPECT_EQ(info.channels, c.channels) << c.name;
    EXPECT_NEAR(info.durationHns, 10000000, 500000) << c.name;
    EXPECT_EQ(info.width, 0) << c.name;
  }
}

TEST(MediaInfo, Mpeg1WithLayerTwoAudio) {
  TempDir dir;
  const std::string path = dir.file("clip.mpg");
  MakeMedia(Join({Video("352x288", "25", "2"),
                  Tone(44100, "2"),
                  {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg", path}}));
  const MediaInfo info = Open(path);
  EXPECT_TRUE(info.hasAudio);
  EXPECT_TRUE(info.hasVideo);
  EXPECT_EQ(info.frameRate, 25);
  EXPECT_EQ(info.width, 352);
  EXPECT_EQ(info.height, 288);
  EXPECT_EQ(info.displayWidth, 351);  // (352000 / 288) * 288 / 1000, each step truncated
  EXPECT_EQ(info.displayHeight, 288);
  EXPECT_NEAR(info.durationHns, 20000000, 1500000);
}

TEST(MediaInfo, DisplaySizeFollowsThe288LineRule) {
  TempDir dir;
  const struct {
    const char* size;
    int width, height, displayWidth, displayHeight;
  } cases[] = {
      {"640x480", 640, 480, 383, 288}, {"320x240", 320, 240, 320, 240},
      {"175x143", 174, 142, 174, 142}, {"321x241", 320, 240, 320, 240},
      {"642x481", 642, 480, 385, 288},  // 642000/480 = 1337, *288/1000 = 385
  };
  for (const auto& c : cases) {
    const std::string path = dir.file(std::string(c.size) + ".avi");
    MakeMedia(Join({Video(c.size, "10", "0.5"), {"-c:v", "ffv1", "-pix_fmt", "yuv444p", path}}));
    const MediaInfo info = Open(path);
    EXPECT_TRUE(info.hasVideo) << c.size;
    EXPECT_FALSE(info.hasAudio) << c.size;
    EXPECT_EQ(info.width, c.width) << c.size;
    EXPECT_EQ(info.height, c.height) << c.size;
    EXPECT_EQ(info.displayWidth, c.displayWidth) << c.size;
    EXPECT_EQ(info.displayHeight, c.displayHeight) << c.size;
    EXPECT_EQ(info.frameRate, 10) << c.size;
  }
}

TEST(MediaInfo, FramesLongerThanASecondGiveOneFramePerSecond) {
  TempDir dir;
  const std::string path = dir.file("slides.avi");
  MakeMedia(Join({Video("160x120", "1/2", "6"), {"-c:v", "mpeg4", path}}));
  const MediaInfo info = Open(path);
  EXPECT_TRUE(info.hasVideo);
  EXPECT_EQ(info.frameDurationHns, 20000000);
  EXPECT_EQ(info.frameRate, 1);
}

TEST(MediaInfo, BadInputsOpenWithoutStreams) {
  TempDir dir;
  const std::string good = test::MakeWmv(dir, "good.wmv", "2");
  const std::vector<std::uint8_t> bytes = test::ReadFileBytes(good);
  test::WriteFileBytes(dir.file("truncated.wmv"),
                       std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 3000));
  std::vector<std::uint8_t> noise(50000);
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
  test::WriteFileBytes(dir.file("noise.wmv"), noise);
  test::WriteFileBytes(dir.file("empty.wav"), {});

  for (const char* name : {"truncated.wmv", "noise.wmv", "empty.wav"}) {
    MediaSource source;
    RecordingNotifier notifier;
    ASSERT_TRUE(source.BuildConversionGraph(dir.file(name), true, true, notifier)) << name;
    if (std::string(name) != "truncated.wmv") {
      EXPECT_FALSE(source.info().hasAudio) << name;
      EXPECT_FALSE(source.info().hasVideo) << name;
    }
    // Whatever was found, a segment runs to its end.
    source.SetWavFileName(dir.file("out.wav"));
    ASSERT_TRUE(source.SetSegment(0, 20000000));
    ASSERT_TRUE(source.Run());
    EXPECT_EQ(source.WaitForSegment(std::chrono::seconds(5)), MediaSource::WaitResult::Delivered)
        << name;
    source.Stop();
  }
}

// A cut-off download declares no length; what it holds is measured instead,
// so that its marked range is not empty.
TEST(MediaInfo, AFileWithoutDeclaredLengthIsMeasured) {
  TempDir dir;
  const std::string good = test::MakeWmv(dir, "good.wmv", "4");
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(good);
  bytes.resize(bytes.size() / 2);
  test::WriteFileBytes(dir.file("half.wmv"), bytes);
  ASSERT_EQ(test::Probe(dir.file("half.wmv"), {"-show_entries", "format=duration"}),
            "duration=N/A\n");
  const MediaInfo info = Open(dir.file("half.wmv"));
  EXPECT_TRUE(info.hasVideo);
  EXPECT_GT(info.durationHns, 10000000);
  EXPECT_LT(info.durationHns, 30000000);
}

TEST(MediaInfo, MissingFileIsRefusedWithAMessage) {
  TempDir dir;
  MediaSource source;
  RecordingNotifier notifier;
  EXPECT_FALSE(source.BuildConversionGraph(dir.file("missing.wmv"), true, true, notifier));
  EXPECT_TRUE(notifier.sawMessage("RenderFile Error."));
  EXPECT_FALSE(source.info().hasAudio);
  EXPECT_FALSE(source.info().hasVideo);
  // Nothing is open: every operation declines.
  EXPECT_FALSE(source.SetSegment(0, 10000000));
  EXPECT_FALSE(source.Run());
  EXPECT_EQ(source.WaitForSegment(std::chrono::milliseconds(100)), MediaSource::WaitResult::Failed);
  source.Stop();
  source.CloseConversion();
}

}  // namespace
}  // namespace zel
