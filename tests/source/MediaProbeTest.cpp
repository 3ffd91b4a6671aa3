// What the source makes of files: their streams (MediaInfo), which it takes
// (InputCheck), AVIs through the WMV pre-conversion (AviTranscoder).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

using namespace test;

MediaInfo Open(const std::string& path, bool wantAudio = true, bool wantVideo = true) {
  MediaSource source;
  EXPECT_EQ(source.BuildConversionGraph(path, wantAudio, wantVideo), OpenResult::Opened) << path;
  return source.info();
}

// What the source reports of files made by ffmpeg. Display sizes follow the
// 288-line rule ((width * 1000 / height) * 288 / 1000, each step truncated,
// for frames taller than 288 lines); delivered sizes are even; frames longer
// than a second count as 1 fps. The rates and channels of WAV files are
// checked with the WAV the segment writes (SegmentDelivery).
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
      {"song.mpa", Join({Tone(44100, "1"), {"-ac", "2", "-c:a", "mp2", "-f", "mp2"}}), 1, 0, 0, 0,
       0, 0, 0, 44100, 2},
      {"640x480.avi", ffv1("640:480"), 0.5, 1000000, 10, 640, 480, 383, 288, 0, 0},
      {"175x143.avi", ffv1("175:143"), 0.5, 1000000, 10, 174, 142, 174, 142, 0, 0},
      // 642000 / 480 = 1337, * 288 / 1000 = 385
      {"642x481.avi", ffv1("642:481"), 0.5, 1000000, 10, 642, 480, 385, 288, 0, 0},
      {"slides.avi", Join({Video("160x120", "1/2", "6"), {"-c:v", "mpeg4"}}), 6, 20000000, 1, 160,
       120, 160, 120, 0, 0},
      // Whole frames of the exact rate: 29 for NTSC, 60 (not 59 of a rounded frame time).
      {"ntsc.avi", Join({Video("160x120", "30000/1001", "2"), {"-c:v", "mpeg4"}}), 2, 333667, 29,
       160, 120, 160, 120, 0, 0},
      {"60fps.avi", Join({Video("160x120", "60", "1"), {"-c:v", "mpeg4"}}), 1, 166667, 60, 160, 120,
       160, 120, 0, 0},
      {"qcif2.wmv", {}, 2, 400000, 25, 176, 144, 176, 144, 44100, 2},  // see Media
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MediaInfo info = Open(Media(c.name, c.args));
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
  const MediaInfo ntsc = Open(Media("ntsc.avi"));
  EXPECT_EQ(std::make_pair(ntsc.frameRateNum, ntsc.frameRateDen), std::make_pair(30000, 1001));
  // Only the streams asked for.
  const MediaInfo noAudio = Open(Media("qcif2.wmv"), false, true);
  const MediaInfo noVideo = Open(Media("qcif2.wmv"), true, false);
  EXPECT_TRUE(!noAudio.hasAudio && noAudio.hasVideo);
  EXPECT_TRUE(noVideo.hasAudio && !noVideo.hasVideo);
}

// A missing file is refused with a message, and everything declines; files
// that libavformat cannot read (or only in part) open and run a segment to
// its end.
TEST(MediaInfo, BadInputs) {
  TempDir dir;
  MediaSource missing;
  EXPECT_EQ(missing.BuildConversionGraph(dir.file("missing.wmv"), true, true),
            OpenResult::NoSuchFile);
  EXPECT_FALSE(missing.info().hasAudio || missing.info().hasVideo);
  EXPECT_FALSE(missing.SetSegment(0, 10000000));
  EXPECT_FALSE(missing.Run());
  EXPECT_EQ(missing.WaitForSegment(std::chrono::milliseconds(100)),
            MediaSource::WaitResult::Failed);

  const std::vector<std::uint8_t> bytes = test::ReadFileBytes(Media("qcif2.wmv"));
  test::WriteFileBytes(dir.file("truncated.wmv"), {bytes.begin(), bytes.begin() + 3000});
  test::WriteFileBytes(dir.file("noise.wmv"), std::vector<std::uint8_t>(50000, 0x5a));
  test::WriteFileBytes(dir.file("empty.wav"), {});
  for (const char* name : {"truncated.wmv", "noise.wmv", "empty.wav"}) {
    MediaSource source;
    ASSERT_EQ(source.BuildConversionGraph(dir.file(name), true, true), OpenResult::Opened) << name;
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

// A header's length is checked against the packets: a cut-off download
// declares none, an unfinished recording 0, a damaged header hours for
// seconds. What the file holds is measured instead, so that its marked range
// is neither empty nor hours of silence; a true claim stands.
TEST(MediaInfo, TheLengthIsWhatTheFileHolds) {
  TempDir dir;
  const std::vector<std::uint8_t> good = test::ReadFileBytes(Media("qcif4.wmv"));
  const std::int64_t declared = Open(Media("qcif4.wmv")).durationHns;
  EXPECT_NEAR(declared, 40000000, 1000000);
  std::vector<std::uint8_t> half(good.begin(), good.begin() + good.size() / 2);
  test::WriteFileBytes(dir.file("half.wmv"), half);
  ASSERT_EQ(test::Probe(dir.file("half.wmv"), "format=duration"), "N/A");
  const MediaInfo info = Open(dir.file("half.wmv"));
  EXPECT_TRUE(info.hasVideo);
  EXPECT_GT(info.durationHns, 10000000);
  EXPECT_LT(info.durationHns, 30000000);
  // The play duration of the ASF file properties object (in 100-ns units,
  // preroll included) claims 0 s and 2 hours.
  const std::uint8_t properties[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  const auto at =
      std::search(good.begin(), good.end(), std::begin(properties), std::end(properties)) -
      good.begin();
  ASSERT_LT(static_cast<std::size_t>(at) + 88, good.size());
  for (const std::uint64_t claim : {std::uint64_t{0}, std::uint64_t{72000000000}}) {
    SCOPED_TRACE(claim);
    std::vector<std::uint8_t> lying = good;
    std::uint64_t preroll = 0;
    for (int i = 7; i >= 0; --i) preroll = preroll << 8 | good[at + 80 + i];
    const std::uint64_t playDuration = claim + preroll * 10000;
    for (int i = 0; i < 8; ++i)
      lying[at + 64 + i] = static_cast<std::uint8_t>(playDuration >> (8 * i));
    test::WriteFileBytes(dir.file("lying.wmv"), lying);
    EXPECT_NEAR(Open(dir.file("lying.wmv")).durationHns, declared, 1000000);
  }
  // A few bytes of the presentation times in a 5-s WMA's last two packets
  // set to 69 minutes: those stray times are not the file's length.
  MakeMedia(Join({Tone(44100, "5"), {"-ac", "2", "-c:a", "wmav2", dir.file("song.wma")}}));
  std::vector<std::uint8_t> song = test::ReadFileBytes(dir.file("song.wma"));
  const std::uint8_t data[] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  const auto object = std::search(song.begin(), song.end(), std::begin(data), std::end(data));
  ASSERT_NE(object, song.end());
  constexpr std::size_t kPacket = 3200;  // ffmpeg's ASF packets
  const std::size_t packets = (song.end() - object - 50) / kPacket;
  for (std::size_t k = packets - 2; k < packets; ++k) {
    // ffmpeg's packet layout (flags 0x09, 0x5D): the first payload's
    // presentation time lies at bytes 24 to 27; its third byte goes up
    std::uint8_t* packet = &*object + 50 + k * kPacket;
    ASSERT_EQ(packet[3], 0x09);
    ASSERT_EQ(packet[4], 0x5D);
    packet[26] = 0x3F;
  }
  test::WriteFileBytes(dir.file("damaged.wma"), song);
  EXPECT_NEAR(Open(dir.file("damaged.wma")).durationHns, 50000000, 1000000);
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

  // With anyinput every file with decodable sound or pictures is taken; a
  // known extension without them stays refused.
  MakeMedia(Join({Tone(44100, "1"), {"-c:a", "flac", dir.file("song.flac")}}));
  test::WriteFileBytes(dir.file("noise.mp4"), std::vector<std::uint8_t>(3000, 0x5a));
  const struct {
    const char* name;
    bool described, any;
  } cases[] = {{"CLIP.MPG", true, true},    {"song.flac", false, true},
               {"clip3.mpeg", false, true}, {"silent.mpg", false, true},
               {"noise.mp4", false, false}, {"missing.mpg", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsSupportedInput(dir.file(c.name)), c.described) << c.name;
    EXPECT_EQ(IsSupportedInput(dir.file(c.name), true), c.any) << c.name;
  }
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
  EXPECT_TRUE(AviTranscoder(avi, wmv).Run());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  MediaSource source;
  ASSERT_EQ(source.BuildConversionGraph(wmv, true, true), OpenResult::Opened);
  EXPECT_NEAR(source.info().durationHns, 30000000, 3000000);
}

// An abort, an unreadable input and an unwritable destination each fail the
// run, the last two with their fault and without a result.
TEST(AviTranscoder, FailuresStopTheRun) {
  TempDir dir;
  const std::string avi = Media("clip.avi");
  AviTranscoder aborted(avi, dir.file("clip.wmv"));
  std::atomic<bool> abort{true};
  aborted.SetAbortFlag(&abort);
  EXPECT_FALSE(aborted.Run());

  test::WriteFileBytes(dir.file("broken.avi"), std::vector<std::uint8_t>(4000, 0x5a));
  for (const auto& [input, output, fault] :
       {std::tuple{avi, dir.file("no/such/folder/clip.wmv"), FaultKind::kAviWriterFailed},
        {dir.file("broken.avi"), dir.file("broken.wmv"), FaultKind::kAviUnsupportedCodec}}) {
    AviTranscoder transcoder(input, output);
    EXPECT_FALSE(transcoder.Run());
    ASSERT_EQ(transcoder.faults().size(), 1u) << input;
    EXPECT_EQ(transcoder.faults()[0].kind, fault);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
}

}  // namespace
}  // namespace zel
