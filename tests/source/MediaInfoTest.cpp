// What the source makes of files: their streams (MediaInfo), which it
// takes (InputCheck), and AVIs through the WMV pre-conversion.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
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

// Extensions in any case; only "avi" and "AVI" go through the WMV
// pre-conversion, which writes into the work folder under the input's name
// (a backslash is part of a Linux file name).
TEST(InputCheck, ExtensionsDecideTakingAndTranscoding) {
  struct Case {
    const char* path;
    bool accepted, transcoded;
  };
  const Case cases[] = {
      {"/m/movie.WMV", true, false},  {"/m/a.avi", true, true},
      {"/m/A.AVI", true, true},       {"/m/a.Avi", true, false},
      {"/m/a.mpa", true, false},      {"/m/a.wav", true, false},
      {"/m/a.WmA", true, false},      {"/m/song.mp3", false, false},
      {"/m/clip.mov", false, false},  {"/m/noextension", false, false},
      {"/m/a.wmv.txt", false, false}, {"/m.wmv/file", false, false},
      {"/m/a.", false, false},        {"/m/avi", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSupportedInput(c.path), c.accepted) << c.path;
    EXPECT_EQ(NeedsAviTranscoding(c.path), c.transcoded) << c.path;
  }
  for (auto [input, wmv] : {std::pair{"/media/clip.avi", "/w/clip.wmv"},
                            {"/media/back\\slash.avi", "/w/back\\slash.wmv"},
                            {"/media/my.trip.AVI", "/w/my.trip.wmv"},
                            {"noext", "/w/noext.wmv"}})
    EXPECT_EQ(TemporaryWmvPath(input, "/w"), wmv) << input;
}

TEST(InputCheck, MpegIsTakenOnlyWithLayerOneOrTwoAudio) {
  test::TempDir dir;
  const std::pair<const char*, std::vector<std::string>> files[] = {
      {"CLIP.MPG", Join({Tone(44100, "1"), {"-c:a", "mp2"}})},
      {"clip3.mpeg", Join({Tone(44100, "1"), {"-c:a", "libmp3lame"}})},
      {"silent.mpg", {}},
  };
  for (const auto& [name, audio] : files)
    MakeMedia(Join({Video("176x144", "25", "1"),
                    audio,
                    {"-c:v", "mpeg1video", "-f", "mpeg", dir.file(name)}}));
  EXPECT_EQ(MpegAudioProbe(dir.file("CLIP.MPG")), MpegAudioLayer::Layer2);
  EXPECT_EQ(MpegAudioProbe(dir.file("clip3.mpeg")), MpegAudioLayer::Mp3);
  EXPECT_EQ(MpegAudioProbe(dir.file("silent.mpg")), MpegAudioLayer::Undetermined);
  EXPECT_EQ(MpegAudioProbe(dir.file("missing.mpg")), MpegAudioLayer::Undetermined);
  EXPECT_TRUE(IsSupportedInput(dir.file("CLIP.MPG")));
  for (const char* refused : {"clip3.mpeg", "silent.mpg", "missing.mpg"})
    EXPECT_FALSE(IsSupportedInput(dir.file(refused))) << refused;

  // With anyinput every file with decodable sound or pictures is taken; a
  // known extension without them stays refused.
  MakeMedia(Join({Video("176x144", "25", "1"),
                  Tone(44100, "1"),
                  {"-c:v", "libx264", "-c:a", "aac", dir.file("phone.MP4")}}));
  MakeMedia(Join({Tone(44100, "1"), {"-c:a", "flac", dir.file("song.flac")}}));
  test::WriteFileBytes(dir.file("noise.mp4"), std::vector<std::uint8_t>(3000, 0x5a));
  const struct {
    const char* name;
    bool described, any;
  } cases[] = {{"phone.MP4", false, true},  {"song.flac", false, true},
               {"clip3.mpeg", false, true}, {"silent.mpg", false, true},
               {"noise.mp4", false, false}, {"missing.mpg", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsSupportedInput(dir.file(c.name)), c.described) << c.name;
    EXPECT_EQ(IsSupportedInput(dir.file(c.name), true), c.any) << c.name;
  }
}

// The AVI becomes wmv2 and wmav2, which open as a conversion source with the
// input's properties. AVIs without sound or pictures are in ZelConvertTest.
TEST(AviTranscoder, StreamsBecomeWmv2AndWmav2) {
  const std::string avi =
      test::Media("MOVIE.AVI", Join({Video("320x240", "25", "2"),
                                     Tone(44100, "2"),
                                     {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-ac", "2"}}));
  TempDir dir;
  const std::string wmv = dir.file("MOVIE.AVI.wmv");
  RecordingNotifier notifier;
  EXPECT_TRUE(AviTranscoder(avi, wmv, notifier).Run());
  EXPECT_TRUE(notifier.messages().empty());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  EXPECT_EQ(test::Probe(wmv, "stream=codec_name"), "wmav2 wmv2");
  MediaSource source;
  ASSERT_TRUE(source.BuildConversionGraph(wmv, true, true, notifier));
  const MediaInfo& info = source.info();
  EXPECT_EQ(std::make_tuple(info.hasAudio, info.hasVideo, info.width, info.height, info.sampleRate,
                            info.channels),
            std::make_tuple(true, true, 320, 240, 44100, 2));
  EXPECT_NEAR(info.durationHns, 20000000, 2000000);
}

// Captured AVI files may switch their MP3 sound from stereo to mono and back;
// every part is converted with its own layout.
TEST(AviTranscoder, SoundWhoseLayoutChangesMidway) {
  TempDir dir;
  MakeMedia(Join({Tone(44100, "1"), {"-ac", "2", "-c:a", "libmp3lame", dir.file("a.mp3")}}));
  MakeMedia(Join({Tone(44100, "1"), {"-ac", "1", "-c:a", "libmp3lame", dir.file("b.mp3")}}));
  std::vector<std::uint8_t> mixed;
  for (const char* part : {"a.mp3", "b.mp3", "a.mp3"}) {
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(dir.file(part));
    mixed.insert(mixed.end(), bytes.begin(), bytes.end());
  }
  test::WriteFileBytes(dir.file("mixed.mp3"), mixed);
  const std::string avi = dir.file("mixed.avi");
  MakeMedia(Join({Video("160x120", "25", "3"),
                  {"-i", dir.file("mixed.mp3"), "-c:v", "mpeg4", "-c:a", "copy", avi}}));
  const std::string wmv = dir.file("mixed.wmv");
  RecordingNotifier notifier;
  EXPECT_TRUE(AviTranscoder(avi, wmv, notifier).Run());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  MediaSource source;
  ASSERT_TRUE(source.BuildConversionGraph(wmv, true, true, notifier));
  EXPECT_NEAR(source.info().durationHns, 30000000, 3000000);
}

// An abort, an unreadable input and an unwritable destination each fail the
// run, the last two with their message and without a result.
TEST(AviTranscoder, FailuresStopTheRun) {
  TempDir dir;
  const std::string avi = dir.file("clip.avi");
  MakeMedia(Join({Video("176x144", "15", "1"),
                  Tone(22050, "1"),
                  {"-c:v", "mpeg4", "-c:a", "pcm_s16le", avi}}));
  RecordingNotifier notifier;
  AviTranscoder aborted(avi, dir.file("clip.wmv"), notifier);
  std::atomic<bool> abort{true};
  aborted.SetAbortFlag(&abort);
  EXPECT_FALSE(aborted.Run());

  RecordingNotifier unwritable;
  EXPECT_FALSE(AviTranscoder(avi, dir.file("no/such/folder/clip.wmv"), unwritable).Run());
  EXPECT_TRUE(unwritable.sawMessage("ASFファイルライタの生成に失敗しました。"));

  test::WriteFileBytes(dir.file("broken.avi"), std::vector<std::uint8_t>(4000, 0x5a));
  RecordingNotifier broken;
  EXPECT_FALSE(AviTranscoder(dir.file("broken.avi"), dir.file("broken.wmv"), broken).Run());
  EXPECT_TRUE(broken.sawMessage("サポートされていないコーデックが含まれています。"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("broken.wmv")));

  RecordingNotifier missing;
  EXPECT_FALSE(AviTranscoder(dir.file("missing.avi"), dir.file("missing.wmv"), missing).Run());
  EXPECT_EQ(missing.messages().size(), 1u);
}

}  // namespace
}  // namespace zel
