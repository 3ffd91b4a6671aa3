#include <gtest/gtest.h>

#include "common/MediaFixtures.h"
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

// What the source reports of files made by ffmpeg. Display sizes follow the
// 288-line rule ((width * 1000 / height) * 288 / 1000, each step truncated,
// for frames taller than 288 lines); delivered sizes are even; more than two
// channels are delivered as two; frames longer than a second count as 1 fps.
TEST(MediaInfo, StreamsSizesRatesAndLengths) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    double seconds;
    std::int64_t frameDurationHns;
    int frameRate, width, height, displayWidth, displayHeight;  // no video: all 0
    int sampleRate, channels;                                   // no audio: both 0
  };
  const auto mpeg1 = std::vector<std::string>{"-c:v", "mpeg1video", "-f", "mpeg"};
  // Odd sizes need a scale filter: testsrc2 makes even ones only.
  const auto ffv1 = [](const std::string& size) {
    return Join({Video("320x240", "10", "0.5"),
                 {"-vf", "scale=" + size, "-c:v", "ffv1", "-pix_fmt", "yuv444p"}});
  };
  const Case cases[] = {
      {"clip.mpg", Join({Video("352x288", "25", "2"), Tone(44100, "2"), {"-c:a", "mp2"}, mpeg1}), 2,
       400000, 25, 352, 288, 351, 288, 44100, 1},
      {"mono8k.wav", Join({Tone(8000, "1"), {"-ac", "1"}}), 1, 0, 0, 0, 0, 0, 0, 8000, 1},
      {"stereo.wav", Join({Tone(44100, "1"), {"-ac", "2"}}), 1, 0, 0, 0, 0, 0, 0, 44100, 2},
      {"surround.wav", Join({Tone(48000, "1"), {"-af", "aformat=channel_layouts=5.1"}}), 1, 0, 0, 0,
       0, 0, 0, 48000, 2},
      {"deep.wav", Join({Tone(22050, "1"), {"-ac", "2", "-c:a", "pcm_s24le"}}), 1, 0, 0, 0, 0, 0, 0,
       22050, 2},
      {"song.mpa", Join({Tone(44100, "1"), {"-ac", "2", "-c:a", "mp2", "-f", "mp2"}}), 1, 0, 0, 0,
       0, 0, 0, 44100, 2},
      {"640x480.avi", ffv1("640:480"), 0.5, 1000000, 10, 640, 480, 383, 288, 0, 0},
      {"320x240.avi", ffv1("320:240"), 0.5, 1000000, 10, 320, 240, 320, 240, 0, 0},
      {"175x143.avi", ffv1("175:143"), 0.5, 1000000, 10, 174, 142, 174, 142, 0, 0},
      {"321x241.avi", ffv1("321:241"), 0.5, 1000000, 10, 320, 240, 320, 240, 0, 0},
      // 642000 / 480 = 1337, * 288 / 1000 = 385
      {"642x481.avi", ffv1("642:481"), 0.5, 1000000, 10, 642, 480, 385, 288, 0, 0},
      {"slides.avi", Join({Video("160x120", "1/2", "6"), {"-c:v", "mpeg4"}}), 6, 20000000, 1, 160,
       120, 160, 120, 0, 0},
      {"clip.wmv",
       Join({Video("176x144", "25", "2"),
             Tone(44100, "2"),
             {"-ac", "2", "-c:v", "wmv2", "-c:a", "wmav2"}}),
       2, 400000, 25, 176, 144, 176, 144, 44100, 2},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeMedia(Join({c.args, {dir.file(c.name)}}));
    const MediaInfo info = Open(dir.file(c.name));
    EXPECT_EQ(info.hasVideo, c.width != 0);
    EXPECT_EQ(info.hasAudio, c.sampleRate != 0);
    EXPECT_EQ(
        std::make_tuple(info.frameDurationHns, info.frameRate, info.width, info.height,
                        info.displayWidth, info.displayHeight, info.sampleRate, info.channels),
        std::make_tuple(c.frameDurationHns, c.frameRate, c.width, c.height, c.displayWidth,
                        c.displayHeight, c.sampleRate, c.channels));
    if (c.seconds >= 1) {
      EXPECT_NEAR(info.durationHns, c.seconds * 1e7, 0.075 * c.seconds * 1e7);
    }
  }
  // Only the streams asked for.
  const MediaInfo noAudio = Open(dir.file("clip.wmv"), false, true);
  const MediaInfo noVideo = Open(dir.file("clip.wmv"), true, false);
  EXPECT_TRUE(!noAudio.hasAudio && noAudio.hasVideo);
  EXPECT_TRUE(noVideo.hasAudio && !noVideo.hasVideo);
}

// A missing file is refused with a message, and everything declines; files
// that libavformat cannot read (or only in part) open and run a segment to
// its end.
TEST(MediaInfo, BadInputs) {
  TempDir dir;
  MediaSource missing;
  RecordingNotifier notifier;
  EXPECT_FALSE(missing.BuildConversionGraph(dir.file("missing.wmv"), true, true, notifier));
  EXPECT_TRUE(notifier.sawMessage("RenderFile Error."));
  EXPECT_FALSE(missing.info().hasAudio || missing.info().hasVideo);
  EXPECT_FALSE(missing.SetSegment(0, 10000000));
  EXPECT_FALSE(missing.Run());
  EXPECT_EQ(missing.WaitForSegment(std::chrono::milliseconds(100)),
            MediaSource::WaitResult::Failed);

  const std::vector<std::uint8_t> bytes = test::ReadFileBytes(test::MakeWmv(dir, "good.wmv", "2"));
  test::WriteFileBytes(dir.file("truncated.wmv"), {bytes.begin(), bytes.begin() + 3000});
  std::vector<std::uint8_t> noise(50000);
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
  test::WriteFileBytes(dir.file("noise.wmv"), noise);
  test::WriteFileBytes(dir.file("empty.wav"), {});
  for (const char* name : {"truncated.wmv", "noise.wmv", "empty.wav"}) {
    MediaSource source;
    ASSERT_TRUE(source.BuildConversionGraph(dir.file(name), true, true, notifier)) << name;
    if (std::string(name) != "truncated.wmv") {
      EXPECT_FALSE(source.info().hasAudio || source.info().hasVideo) << name;
    }
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
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(test::MakeWmv(dir, "good.wmv", "4"));
  bytes.resize(bytes.size() / 2);
  test::WriteFileBytes(dir.file("half.wmv"), bytes);
  const auto format = test::ProbeSections(dir.file("half.wmv"), {"-show_format"}, "format");
  ASSERT_EQ(format.size(), 1u);
  ASSERT_EQ(format[0].at("duration"), "N/A");
  const MediaInfo info = Open(dir.file("half.wmv"));
  EXPECT_TRUE(info.hasVideo);
  EXPECT_GT(info.durationHns, 10000000);
  EXPECT_LT(info.durationHns, 30000000);
}

}  // namespace
}  // namespace zel
