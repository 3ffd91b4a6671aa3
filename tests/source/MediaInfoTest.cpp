// What the source makes of files: their streams (MediaInfo), which it
// takes (InputCheck), AVIs through the WMV pre-conversion, and what a
// conversion segment delivers: its pictures to the sink, its sound to the WAV;
// and the preview: single pictures at a position, and playback of a range on
// a clock driven by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

#include "General/MediaTypes.h"
#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"
#include "source/VideoFrameSink.h"

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

// A header's length is checked against the packets: a cut-off download
// declares none, an unfinished recording 0, a damaged header hours for
// seconds. What the file holds is measured instead, so that its marked range
// is neither empty nor hours of silence; a true claim stands.
TEST(MediaInfo, TheLengthIsWhatTheFileHolds) {
  TempDir dir;
  const std::vector<std::uint8_t> good = test::ReadFileBytes(test::MakeWmv(dir, "good.wmv", "4"));
  const std::int64_t declared = Open(dir.file("good.wmv")).durationHns;
  EXPECT_NEAR(declared, 40000000, 1000000);
  std::vector<std::uint8_t> half(good.begin(), good.begin() + good.size() / 2);
  test::WriteFileBytes(dir.file("half.wmv"), half);
  const auto format = test::ProbeSections(dir.file("half.wmv"), {"-show_format"}, "format");
  ASSERT_EQ(format.size(), 1u);
  ASSERT_EQ(format[0].at("duration"), "N/A");
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
  AviTranscoder transcoder(avi, wmv);
  EXPECT_TRUE(transcoder.faults().empty());
  EXPECT_TRUE(transcoder.Run());
  RecordingNotifier notifier;
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
  EXPECT_TRUE(AviTranscoder(avi, wmv).Run());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  RecordingNotifier notifier;
  MediaSource source;
  ASSERT_TRUE(source.BuildConversionGraph(wmv, true, true, notifier));
  EXPECT_NEAR(source.info().durationHns, 30000000, 3000000);
}

// An abort, an unreadable input and an unwritable destination each fail the
// run, the last two with their fault and without a result.
TEST(AviTranscoder, FailuresStopTheRun) {
  TempDir dir;
  const std::string avi = dir.file("clip.avi");
  MakeMedia(Join({Video("176x144", "15", "1"),
                  Tone(22050, "1"),
                  {"-c:v", "mpeg4", "-c:a", "pcm_s16le", avi}}));
  AviTranscoder aborted(avi, dir.file("clip.wmv"));
  std::atomic<bool> abort{true};
  aborted.SetAbortFlag(&abort);
  EXPECT_FALSE(aborted.Run());

  const auto kinds = [](const AviTranscoder& t) {
    std::vector<FaultKind> found;
    for (const Fault& fault : t.faults()) found.push_back(fault.kind);
    return found;
  };
  AviTranscoder unwritable(avi, dir.file("no/such/folder/clip.wmv"));
  EXPECT_FALSE(unwritable.Run());
  EXPECT_EQ(kinds(unwritable), std::vector{FaultKind::kAviWriterFailed});

  test::WriteFileBytes(dir.file("broken.avi"), std::vector<std::uint8_t>(4000, 0x5a));
  AviTranscoder broken(dir.file("broken.avi"), dir.file("broken.wmv"));
  EXPECT_FALSE(broken.Run());
  EXPECT_EQ(kinds(broken), std::vector{FaultKind::kAviUnsupportedCodec});
  EXPECT_FALSE(std::filesystem::exists(dir.file("broken.wmv")));

  AviTranscoder missing(dir.file("missing.avi"), dir.file("missing.wmv"));
  EXPECT_FALSE(missing.Run());
  EXPECT_EQ(kinds(missing), std::vector{FaultKind::kAviUnsupportedCodec});
}

// Records what the video thread delivers; read only after Stop has joined it.
// Or throws, as a sink that runs out of memory would.
class RecordingSink final : public VideoFrameSink {
 public:
  void BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) override {
    if (throws) throw std::bad_alloc();
    times.push_back(sampleTime);
    lengths.push_back(length);
    if (firstFrame.empty()) firstFrame.assign(buffer, buffer + length);
  }
  std::vector<double> times;
  std::vector<std::size_t> lengths;
  std::vector<std::uint8_t> firstFrame;
  bool throws = false;
};

// The PCM of a WAV file, found the way the audio path finds it: after the
// first "data" tag and its 32-bit length, which with the RIFF length must
// match the file.
std::vector<std::int16_t> WavSamples(const std::string& path) {
  const std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
  const auto at = std::search(bytes.begin(), bytes.end(), "data", "data" + 4);
  if (bytes.size() < 44 || bytes.end() - at < 8) {
    ADD_FAILURE() << "no data chunk";
    return {};
  }
  const std::size_t offset = static_cast<std::size_t>(at - bytes.begin()) + 8;
  std::uint32_t length = 0, riff = 0;
  std::memcpy(&length, &*(at + 4), 4);
  std::memcpy(&riff, bytes.data() + 4, 4);
  EXPECT_EQ(length, bytes.size() - offset);
  EXPECT_EQ(riff, bytes.size() - 8);
  std::vector<std::int16_t> samples((bytes.size() - offset) / 2);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data() + offset, samples.size() * 2);
  return samples;
}

struct Segment {
  MediaSource source;
  RecordingSink sink;
  test::RecordingNotifier notifier;
  std::string wav;

  Segment(const TempDir& dir, const std::string& path) : wav(dir.file("sample_00.wav")) {
    EXPECT_TRUE(source.BuildConversionGraph(path, true, true, notifier));
    source.SetVideoSink(&sink);
    source.SetWavFileName(wav);
  }
  void Run(std::int64_t startHns, std::int64_t stopHns) {
    sink.times.clear();
    EXPECT_TRUE(source.SetSegment(startHns, stopHns));
    EXPECT_TRUE(source.Run());
    EXPECT_EQ(source.WaitForSegment(std::chrono::seconds(5)), MediaSource::WaitResult::Delivered);
    source.Stop();
  }
};

// Each picture of the segment once, in order, at its time from the segment's
// start, as a whole 176x144 YV12 frame; a segment that starts between two
// pictures first gets the earlier one at 0, as it is on screen at the start.
TEST(SegmentDelivery, PicturesOfASegment) {
  TempDir dir;
  const struct {
    std::string path;
    std::int64_t start, stop;
    std::size_t count;  // the segment's own pictures
    double first;
  } cases[] = {
      // Key frames at 0 s and 2 s; the start lies between them. The frames sit
      // 46 ms into each 40 ms step (the muxer moved the video by the audio
      // codec's delay), so the first one of the segment comes 26 ms after it.
      {test::MakeWmv(dir, "clip.wmv", "4"), 10200000, 30000000, 49, 0.026},
      {dir.file("clip.wmv"), 0, -1, 100, 0.046},  // -1: the whole file
      // Frames every 2 s; the segment [3 s, 7 s) holds those at 4 and 6.
      {dir.file("slides.avi"), 30000000, 70000000, 2, 1.0},
      // An MPEG program stream has no key-frame index: a seek may land after
      // the last key frame before the start, and the frames up to the next
      // one must not be lost.
      {dir.file("clip.mpg"), 17000000, 41000000, 60, 0.0},
  };
  MakeMedia(Join({Video("176x144", "1/2", "8"), {"-c:v", "mpeg4", dir.file("slides.avi")}}));
  MakeMedia(Join(
      {Video("176x144", "25", "5"),
       Tone(44100, "5"),
       {"-c:v", "mpeg1video", "-g", "12", "-c:a", "mp2", "-f", "mpeg", dir.file("clip.mpg")}}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Segment s(dir, c.path);
    const std::int64_t stop = c.stop < 0 ? s.source.info().durationHns : c.stop;
    s.Run(c.start, stop);
    const bool held = c.start > 0;  // every start here lies between two pictures
    ASSERT_EQ(s.sink.times.size(), c.count + held);
    EXPECT_TRUE(!held || s.sink.times.front() == 0.0);
    const std::vector<double> own(s.sink.times.begin() + held, s.sink.times.end());
    EXPECT_NEAR(own.front(), c.first, 0.04 + 1e-6);
    if (c.first > 0) {
      EXPECT_NEAR(own.front(), c.first, 0.002);
    }
    const double step = (own.back() - own.front()) / (c.count - 1);
    for (std::size_t i = 0; i < c.count; ++i)
      EXPECT_NEAR(own[i], own.front() + i * step, 1e-3) << i;
    EXPECT_LT(own.back(), (stop - c.start) / 1e7);
    for (std::size_t length : s.sink.lengths) EXPECT_EQ(length, 176u * 144 * 3 / 2);
    EXPECT_EQ(s.source.deliveredFrames(), c.count + held);
  }
}

// Pure red: Y 81, U 90, V 240 in BT.601 limited range; the planes are Y, V,
// U. The odd size loses a column and a row.
TEST(SegmentDelivery, FramesArriveAsYv12WithVBeforeU) {
  TempDir dir;
  const std::string path = dir.file("red.avi");
  MakeMedia({"-f", "lavfi", "-i", "color=c=red:size=65x49:rate=10:duration=1", "-c:v", "ffv1",
             "-pix_fmt", "yuv444p", path});
  Segment s(dir, path);
  ASSERT_EQ(std::make_pair(s.source.info().width, s.source.info().height), std::make_pair(64, 48));
  s.Run(0, 10000000);
  EXPECT_EQ(s.sink.times.size(), 10u);
  ASSERT_EQ(s.sink.firstFrame.size(), 64u * 48 * 3 / 2);
  const std::uint8_t* y = s.sink.firstFrame.data();
  const std::uint8_t *v = y + 64 * 48, *u = v + 32 * 24;
  // clang-format off
  for (auto [value, want] : {std::pair{y[0], 81}, {y[64 * 48 - 1], 81}, {v[0], 240},
                             {v[32 * 24 - 1], 240}, {u[0], 90}, {u[32 * 24 - 1], 90}})
    // clang-format on
    EXPECT_NEAR(value, want, 3);
}

// The WAV of a segment is 16-bit PCM at the source's rate, in one or two
// channels (5.1 mixed down), holding the samples of the segment cut at whole
// samples: for 16-bit input exactly those ffmpeg decodes.
TEST(SegmentDelivery, WavHoldsTheSamplesOfTheSegment) {
  TempDir dir;
  const struct {
    const char* name;
    std::vector<std::string> options;
    int rate, channels;
    std::int64_t start, stop;
    std::size_t frames;
    bool exact;
  } cases[] = {
      {"stereo.wav", {"-ac", "2"}, 44100, 2, 5000000, 20000000, 66150, true},
      // 0.1234567 s to 0.2 s is 8820 - 5444 samples
      {"stereo.wav", {"-ac", "2"}, 44100, 2, 1234567, 2000000, 8820 - 5444, true},
      {"mono.wav", {"-ac", "1"}, 8000, 1, 0, 30000000, 24000, true},
      // clang-format off
      {"surround.wav", {"-af", "aformat=channel_layouts=5.1"}, 48000, 2, 2500000, 15000000, 60000,
       false},
      // clang-format on
      {"deep.wav", {"-ac", "2", "-c:a", "pcm_s24le"}, 22050, 2, 2500000, 15000000, 27562, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    MakeMedia(Join({Tone(c.rate, "3"), c.options, {path}}));
    Segment s(dir, path);
    s.Run(c.start, c.stop);
    const std::vector<std::int16_t> samples = WavSamples(s.wav);
    ASSERT_EQ(samples.size(), c.frames * c.channels);
    EXPECT_EQ(s.source.wavBytes(), 44u + samples.size() * 2);
    EXPECT_EQ(test::Probe(s.wav, "stream=sample_fmt,sample_rate,channels"),
              "s16," + std::to_string(c.rate) + "," + std::to_string(c.channels));
    EXPECT_GT(*std::max_element(samples.begin(), samples.end()), 1000);  // not silence
    if (!c.exact) continue;
    const std::string raw = test::RunCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le",
                                              "-c:a", "pcm_s16le", "-"})
                                .out;
    const std::size_t first = (c.start * c.rate + 5000000) / 10000000 * c.channels;
    ASSERT_GE(raw.size() / 2, first + samples.size());
    EXPECT_EQ(std::memcmp(samples.data(), raw.data() + 2 * first, samples.size() * 2), 0);
  }
}

// An abort ends the segment at once, as aborted.
TEST(SegmentDelivery, AnAbortEndsTheSegment) {
  TempDir dir;
  Segment s(dir, test::MakeWmv(dir, "clip.wmv", "4"));
  const std::atomic<bool> abort{true};
  s.source.SetAbortFlag(&abort);
  ASSERT_TRUE(s.source.Run());
  EXPECT_EQ(s.source.WaitForSegment(std::chrono::seconds(5)), MediaSource::WaitResult::Aborted);
  s.source.Stop();
  EXPECT_LT(s.sink.times.size(), 5u);
}

// An exception on a streaming thread ends the segment as broken, with what it
// said, instead of the program.
TEST(SegmentDelivery, AnExceptionEndsTheSegmentNotTheProgram) {
  TempDir dir;
  Segment s(dir, test::MakeWmv(dir, "clip.wmv", "1"));
  s.sink.throws = true;
  ASSERT_TRUE(s.source.Run());
  EXPECT_EQ(s.source.WaitForSegment(std::chrono::seconds(5)), MediaSource::WaitResult::Broken);
  EXPECT_EQ(s.source.failureText(), "std::bad_alloc");
  s.source.Stop();
}

// A split job runs its segments one after the other on one source; each goes
// on reading where the previous one stopped. Together they must hold exactly
// what one segment over the whole range holds: every frame once, at the same
// time (each segment opening with the picture before it, at 0), and every
// sample once, byte for byte. And the sound decoded from a
// seek lines up with the straight decode (only the first block may differ,
// where the decoder had no predecessor).
TEST(SegmentDelivery, FollowingSegmentsAddUpToTheWholeRange) {
  TempDir dir;
  const std::string path = test::MakeWmv(dir, "clip.wmv", "3", 12);
  Segment straight(dir, path);
  straight.Run(0, 30000000);
  const std::vector<std::int16_t> all = WavSamples(straight.wav);
  ASSERT_EQ(all.size(), 132300u * 2);

  Segment whole(dir, path);
  whole.Run(5000000, 27000000);
  const std::vector<std::int16_t> wholeSamples = WavSamples(whole.wav);
  double difference = 0, energy = 0;
  for (std::size_t i = 8192; i < wholeSamples.size(); ++i) {
    const double d = wholeSamples[i] - all[22050 * 2 + i];
    difference += d * d;
    energy += static_cast<double>(wholeSamples[i]) * wholeSamples[i];
  }
  EXPECT_GT(energy, 0);
  EXPECT_LT(difference, energy * 0.01);

  Segment split(dir, path);
  std::vector<double> times;
  std::vector<std::int16_t> samples;
  // Bounds that fall between frames and between the codec's audio blocks.
  const std::int64_t bounds[] = {5000000, 10000000, 10000001, 17770000, 27000000};
  for (std::size_t i = 0; i + 1 < std::size(bounds); ++i) {
    split.Run(bounds[i], bounds[i + 1]);
    ASSERT_EQ(split.sink.times.front(), 0.0);  // the bounds fall between frames
    for (double t : split.sink.times)
      if (t > 0) times.push_back(t + (bounds[i] - bounds[0]) / 1e7);
    const std::vector<std::int16_t> part = WavSamples(split.wav);
    samples.insert(samples.end(), part.begin(), part.end());
  }
  ASSERT_EQ(times.size() + 1, whole.sink.times.size());
  for (std::size_t i = 0; i < times.size(); ++i)
    EXPECT_NEAR(times[i], whole.sink.times[i + 1], 1e-6);
  EXPECT_TRUE(samples == wholeSamples);
}

constexpr std::int64_t kFrameHns = 400000;  // 25 fps
constexpr std::int64_t kStepHns = 100000;   // the test clock's step, 10 ms

// 160x120 at 25 fps; picture n is a flat grey of level 16 + 4 (n mod 50), so
// the picture on show tells its number. With sound when `sound`. Made once
// per name.
std::string Ramp(const std::string& name, std::vector<std::string> codecs,
                 const std::string& seconds = "3", bool sound = false) {
  return test::Media(name, Join({{"-f", "lavfi", "-i",
                                  "nullsrc=s=160x120:r=25:d=" + seconds +
                                      ",format=gray,geq=lum='16+4*mod(N\\,50)',format=yuv420p"},
                                 sound ? test::Tone(44100, seconds) : std::vector<std::string>{},
                                 codecs,
                                 {"-sc_threshold", "1000000000"}}));
}
std::string Ramp() { return Ramp("ramp.wmv", {"-c:v", "wmv2", "-q:v", "2"}); }
std::string RampWithSound() {
  return Ramp("sound.wmv", {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2"}, "3", true);
}

// 640x480, red above blue, with sound.
std::string RedOverBlue() {
  return test::Media("split.wmv",
                     Join({{"-f", "lavfi", "-i",
                            "color=c=red:s=640x240:r=25:d=1[a];color=c=blue:s=640x240:r=25:d=1[b];"
                            "[a][b]vstack[out0]"},
                           test::Tone(44100, "1"),
                           {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2", "-ac", "2"}}));
}

struct Shown {
  std::int64_t timeHns;
  std::int64_t clockHns;  // when it was shown
  int picture;            // the ramp's number on it
  int width, height, bytesPerLine;
  std::uint32_t alpha;
};

class PictureSink final : public PreviewSink {
 public:
  void ShowPreviewFrame(const PreviewFrame& f) override {
    std::uint32_t centre = 0;
    std::memcpy(
        &centre,
        f.pixels + static_cast<std::ptrdiff_t>(f.height / 2) * f.bytesPerLine + (f.width / 2) * 4,
        4);
    const int picture = static_cast<int>(std::lround(((centre & 0xff) - 16) / 4.0));
    shown.push_back(
        {f.timeHns, clockHns, picture, f.width, f.height, f.bytesPerLine, centre >> 24});
  }
  std::int64_t clockHns = 0;
  std::vector<Shown> shown;
};

struct Player {
  MediaSource source;
  PictureSink sink;
  RecordingNotifier notifier;
  std::uint64_t pcmBytes = 0;
  std::int64_t squares = 0;  // energy of the sound taken, to tell it from silence

  int Open(const std::string& path) { return source.OpenPreview(path, &sink, notifier); }
  const Shown& last() const { return sink.shown.back(); }
  std::uint64_t BytesPerSecond() const {
    return static_cast<std::uint64_t>(source.previewInfo().sampleRate) *
           source.previewInfo().channels * 2;
  }
  // Takes the sound the clock has reached, as an audio device would.
  void TakeSound(std::int64_t playedHns) {
    const std::uint64_t wanted = BytesPerSecond() * playedHns / kHnsPerSecond;
    std::uint8_t buffer[4096];
    while (pcmBytes < wanted) {
      const std::size_t got =
          source.ReadPlaybackPcm(buffer, std::min<std::uint64_t>(sizeof buffer, wanted - pcmBytes));
      if (got == 0) break;
      pcmBytes += got;
      for (std::size_t i = 0; i + 1 < got; i += 2) {
        std::int16_t sample;
        std::memcpy(&sample, buffer + i, 2);
        squares += sample * sample / 256;
      }
    }
  }
  // The ramp's number on the picture whose span holds the position, from
  // the first picture shown (the sound may delay the pictures in the file).
  int RampAt(std::int64_t positionHns) const {
    const Shown& first = sink.shown.front();
    return static_cast<int>((first.picture + (positionHns - first.timeHns) / kFrameHns) % 50);
  }
  // Plays from startHns on a clock that moves one step whenever decoding is
  // ahead of it, until the range ends or the clock reaches untilHns. A step
  // is shorter than a picture, so no picture may come late.
  PlaybackStatus Drive(std::int64_t startHns, std::int64_t untilHns) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::int64_t clock = startHns;
    PlaybackStatus status;
    while (std::chrono::steady_clock::now() < deadline) {
      sink.clockHns = clock;
      status = source.PresentPlayback(clock);
      TakeSound(clock - startHns);
      if (status.ended || clock >= untilHns) return status;
      if (status.ready) {
        clock += kStepHns;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    ADD_FAILURE() << "playback did not end";
    return status;
  }
};

// What the file holds (as MediaInfoTest reads it): pictures are shown, laid
// out and grabbed only when there are some.
TEST(Preview, OpeningTellsWhatTheFileHolds) {
  const std::string tone = test::Media("tone15.wav", test::Tone(22050, "1.5"));
  for (const std::string& path : {RedOverBlue(), tone}) {
    SCOPED_TRACE(path);
    Player p;
    ASSERT_EQ(p.Open(path), 1);
    const MediaInfo& info = p.source.previewInfo();
    const bool video = path != tone;
    EXPECT_EQ(std::make_tuple(info.hasAudio, info.hasVideo, info.displayWidth, info.sampleRate),
              std::make_tuple(true, video, video ? 383 : 0, video ? 44100 : 22050));
    EXPECT_EQ(p.source.ShowFrameAt(0), video ? 1 : 0);
    ASSERT_EQ(p.sink.shown.size(), video ? 1u : 0u);
    if (video) {
      EXPECT_EQ(p.last().width, 383);
    }
    EXPECT_EQ(p.source.LayoutVideoWindow(770, 312, 0).has_value(), video);
    // A still comes at the decoded size (its rows are checked in
    // StillCaptureTest) and is shown.
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    EXPECT_EQ(p.source.GrabFrameAt(7 * kFrameHns, rgb, width, height), video);
    if (video) {
      EXPECT_EQ(std::make_tuple(width, height, rgb.size()),
                std::make_tuple(640, 480, std::size_t(640) * 480 * 3));
      EXPECT_TRUE(p.last().timeHns <= 7 * kFrameHns && p.last().timeHns > 6 * kFrameHns);
      EXPECT_EQ(p.source.GetCurrentPosition(), 7 * kFrameHns);
    }
    EXPECT_TRUE(p.notifier.messages().empty());
  }
}

// Forwards and backwards, on and beside picture boundaries and key frames,
// the last picture and after it.
TEST(Preview, ShowsThePictureWhoseSpanHoldsThePosition) {
  const std::vector<std::string> clips = {
      Ramp("ramp10.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "10"}, "2"),
      Ramp("ramp.mpg", {"-c:v", "mpeg1video", "-q:v", "2", "-g", "25", "-bf", "2", "-f", "mpeg"},
           "2"),
  };
  // clang-format off
  const std::pair<std::int64_t, int> steps[] = {
      {0, 0}, {kFrameHns - 1, 0}, {kFrameHns, 1}, {10 * kFrameHns - 1, 9}, {10 * kFrameHns, 10},
      {30 * kFrameHns + kFrameHns / 2, 30}, {22 * kFrameHns + 1, 22}, {49 * kFrameHns + 1, 49},
      {80 * kFrameHns, 49}, {25 * kFrameHns - 1, 24}, {3 * kFrameHns, 3}};
  // clang-format on
  for (const std::string& clip : clips) {
    Player p;
    ASSERT_EQ(p.Open(clip), 1) << clip;
    for (const auto& [position, picture] : steps) {
      SCOPED_TRACE(clip + " at " + std::to_string(position));
      ASSERT_EQ(p.source.ShowFrameAt(position), 1);
      EXPECT_EQ(p.last().picture, picture);
      EXPECT_EQ(p.last().timeHns, picture * kFrameHns);
      EXPECT_EQ(p.last().alpha, 0xffu);
      EXPECT_EQ(p.source.GetCurrentPosition(),
                std::min<std::int64_t>(position, p.source.previewInfo().durationHns));
    }
    EXPECT_EQ(std::make_pair(p.last().width, p.last().height), std::make_pair(160, 120));
    EXPECT_GE(p.last().bytesPerLine, 160 * 4);
  }
}

// A dragged bar gets a key picture at once, one picture decoded: the key
// frame at or before the position, or one known after it that lies nearer
// (learned when the file was read past the position).
TEST(Preview, DraggedBarGetsTheNearestKeyFrameAtOnce) {
  const std::pair<std::string, std::vector<std::pair<int, int>>> clips[] = {
      {Ramp("ramp10.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "10"}, "2"),
       {{37, 30}, {38, 40}, {31, 30}, {12, 10}}},
      {Ramp("ramp.mpg", {"-c:v", "mpeg1video", "-q:v", "2", "-g", "25", "-bf", "2", "-f", "mpeg"},
            "2"),
       {{37, 27}, {45, 27}}},  // the I picture of the second GOP
  };
  for (const auto& [clip, steps] : clips) {
    Player p;
    ASSERT_EQ(p.Open(clip), 1) << clip;
    for (const auto& [position, picture] : steps) {
      SCOPED_TRACE(clip + " at " + std::to_string(position));
      const std::uint64_t decoded = p.source.previewCounters().decodedFrames;
      ASSERT_EQ(p.source.ShowFrameAt(position * kFrameHns + 1000, SeekKind::NearestKeyFrame), 1);
      EXPECT_EQ(p.last().picture, picture);
      EXPECT_EQ(p.source.previewCounters().decodedFrames - decoded, 1u);
    }
    ASSERT_EQ(p.source.ShowFrameAt(33 * kFrameHns), 1);  // and the exact one after it
    EXPECT_EQ(p.last().picture, 33);
  }
}

TEST(Preview, SteppingGoesOnWithTheOpenDecoder) {
  Player p;
  ASSERT_EQ(p.Open(Ramp("ramp200.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "200"}, "8")), 1);
  ASSERT_EQ(p.source.ShowFrameAt(20 * kFrameHns), 1);
  const PreviewCounters before = p.source.previewCounters();
  for (int picture : {21, 22, 23, 27, 26, 24}) {
    ASSERT_EQ(p.source.ShowFrameAt(picture * kFrameHns + 1000), 1);
    EXPECT_EQ(p.last().picture, picture);
  }
  const PreviewCounters after = p.source.previewCounters();
  EXPECT_EQ(after.seeks, before.seeks);
  EXPECT_EQ(after.decodedFrames - before.decodedFrames, 7u);  // 21 to 28
  EXPECT_EQ(after.cachedAnswers - before.cachedAnswers, 2u);  // 26 and 24, decoded before
  // A look far away leaves this decoder where it stands for coming back.
  for (int picture : {150, 29}) {
    ASSERT_EQ(p.source.ShowFrameAt(picture * kFrameHns), 1);
    EXPECT_EQ(p.last().picture, picture % 50);
  }
  EXPECT_EQ(p.source.previewCounters().seeks, before.seeks + 1);
}

// The layout (LayoutVideoRect) sets the size of the pictures and shows the
// same one again.
TEST(Preview, LayoutSetsTheSizeOfThePictures) {
  Player p;
  ASSERT_EQ(p.Open(RedOverBlue()), 1);
  EXPECT_EQ(p.source.LayoutVideoWindow(770, 312, 0), (VideoRect{194, 12, 576, 300}));
  // centred in any area, also one smaller than the picture
  EXPECT_EQ(LayoutVideoRect({10, 20, 110, 80}, 200, 100, 0), (VideoRect{-40, 0, 160, 100}));
  EXPECT_TRUE(p.sink.shown.empty());
  ASSERT_EQ(p.source.ShowFrameAt(5 * kFrameHns), 1);
  EXPECT_EQ(std::make_pair(p.last().width, p.last().height), std::make_pair(382, 288));
  const std::int64_t shownHns = p.last().timeHns;
  EXPECT_EQ(p.source.LayoutVideoWindow(770, 312, 1), (VideoRect{1, 1, 769, 311}));
  ASSERT_EQ(p.sink.shown.size(), 2u);
  EXPECT_EQ(std::make_tuple(p.last().width, p.last().height, p.last().timeHns),
            std::make_tuple(768, 310, shownHns));
  p.source.LayoutVideoWindow(770, 312, 1);
  EXPECT_EQ(p.sink.shown.size(), 2u);
}

// Files that do not open are refused with a message; a closed preview
// declines everything; another file opens after it.
TEST(Preview, RefusingClosingAndOpeningAnother) {
  TempDir dir;
  test::WriteFileBytes(dir.file("noise.wmv"), std::vector<std::uint8_t>(50000, 0x5a));
  for (const std::string& path : {dir.file("missing.wmv"), dir.file("noise.wmv")}) {
    Player p;
    EXPECT_EQ(p.Open(path), -1) << path;
    EXPECT_EQ(p.notifier.messages(), std::vector<std::string>{"RenderFile Error."}) << path;
    EXPECT_FALSE(p.source.previewOpened());
    EXPECT_EQ(p.source.ShowFrameAt(0), 0);
    EXPECT_FALSE(p.source.LayoutVideoWindow(770, 312, 0).has_value());
    EXPECT_EQ(p.source.ClosePreview(), 0);
  }
  Player p;
  ASSERT_EQ(p.Open(RedOverBlue()), 1);
  ASSERT_EQ(p.source.ShowFrameAt(10 * kFrameHns), 1);
  EXPECT_EQ(p.source.ClosePreview(), 1);
  EXPECT_EQ(p.source.ClosePreview(), 0);
  EXPECT_EQ(p.source.ShowFrameAt(0), 0);
  EXPECT_EQ(p.source.GetCurrentPosition(), 0);
  EXPECT_FALSE(p.source.previewInfo().hasVideo);
  ASSERT_EQ(p.Open(Ramp()), 1);
  ASSERT_EQ(p.source.ShowFrameAt(12 * kFrameHns), 1);
  EXPECT_EQ(std::make_pair(p.last().picture, p.last().width), std::make_pair(12, 160));
}

TEST(Playback, ARangePlaysToItsEndWithEveryPictureOnTime) {
  const std::string tone = test::Media("tone3.wav", test::Tone(22050, "3"));
  const std::string cases[] = {
      Ramp("ramp20.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "20", "-c:a", "wmav2"}, "3", true),
      Ramp("sound.mpg",
           {"-c:v", "mpeg1video", "-q:v", "2", "-g", "12", "-bf", "2", "-c:a", "mp2", "-f", "mpeg"},
           "3", true),
      tone,
  };
  constexpr std::int64_t kStart = 5'000'000, kStop = 25'000'000;
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    Player p;
    ASSERT_EQ(p.Open(path), 1);
    ASSERT_EQ(p.source.PlayRange(kStart, kStop), 1);
    const PlaybackStatus status = p.Drive(kStart, kStop + kHnsPerSecond);
    EXPECT_TRUE(status.ended && !status.playing);
    EXPECT_FALSE(p.source.PresentPlayback(kStop + kHnsPerSecond).ended) << "ends once";
    const std::vector<Shown>& shown = p.sink.shown;
    ASSERT_EQ(shown.empty(), path == tone);
    if (!shown.empty()) {
      // From the picture on show at the start to the last one before the
      // end (the sound may make the pictures start a little late in the file).
      EXPECT_LE(shown.front().timeHns, kStart);
      EXPECT_GT(shown.front().timeHns + kFrameHns, kStart);
      EXPECT_LT(shown.back().timeHns, kStop);
      EXPECT_GE(shown.back().timeHns + kFrameHns, kStop);
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
      // Each picture in its turn, shown in the first step its time reached.
      EXPECT_EQ(shown[i].timeHns, shown.front().timeHns + static_cast<std::int64_t>(i) * kFrameHns);
      EXPECT_EQ(shown[i].picture, static_cast<int>((shown.front().picture + i) % 50));
      EXPECT_LT(shown[i].clockHns - std::max(shown[i].timeHns, kStart), kStepHns);
      EXPECT_GE(shown[i].clockHns, shown[i].timeHns);
    }
    const PlaybackCounters counters = p.source.playbackCounters();
    EXPECT_EQ(counters.shown, shown.size());
    EXPECT_EQ(counters.dropped, 0u);
    // Exactly the range's sound, and sound, not silence.
    EXPECT_EQ(p.pcmBytes, p.BytesPerSecond() * 2);
    EXPECT_EQ(counters.pcmBytes, p.pcmBytes);
    EXPECT_TRUE(p.source.playbackSoundDrained());
    EXPECT_GT(p.squares / static_cast<std::int64_t>(p.pcmBytes / 2), 1000);
    EXPECT_EQ(p.source.GetCurrentPosition(), kStop);
    EXPECT_EQ(p.source.StopPlayback(), 1);
    EXPECT_EQ(p.source.GetCurrentPosition(), kStop) << "the cursor stays where playback left it";
  }
}

TEST(Playback, PicturesWhoseTimeHasPassedAreDroppedNotQueued) {
  Player p;
  ASSERT_EQ(p.Open(Ramp()), 1);
  ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
  while (p.sink.shown.empty()) p.Drive(0, 0);  // the first picture
  // The clock jumps a second ahead, as when the window's thread was held up.
  const std::int64_t clock = 25 * kFrameHns;
  for (int i = 0; i < 5000 && p.last().timeHns < clock; ++i) {
    p.sink.clockHns = clock;
    p.source.PresentPlayback(clock);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(p.last().timeHns, clock);
  EXPECT_EQ(p.last().picture, 25);
  // Only what was decoded before the jump came on, each once, in order.
  EXPECT_LE(p.sink.shown.size(), 4u);
  for (std::size_t i = 1; i < p.sink.shown.size(); ++i)
    EXPECT_GT(p.sink.shown[i].timeHns, p.sink.shown[i - 1].timeHns);
  const PlaybackCounters counters = p.source.playbackCounters();
  EXPECT_EQ(counters.shown + counters.dropped, 26u);  // pictures 0 to 25
}

TEST(Playback, StopHaltsAtOnceAndThePreviewGoesOn) {
  Player p;
  ASSERT_EQ(p.Open(RampWithSound()), 1);
  ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
  p.Drive(0, 15'000'000);
  const std::size_t shown = p.sink.shown.size();
  EXPECT_EQ(p.source.StopPlayback(), 1);
  EXPECT_EQ(p.source.GetCurrentPosition(), 15'000'000);
  // Nothing more: no sound, no picture, no end.
  std::uint8_t buffer[256];
  EXPECT_EQ(p.source.ReadPlaybackPcm(buffer, sizeof buffer), 0u);
  const PlaybackStatus after = p.source.PresentPlayback(30'000'000);
  EXPECT_FALSE(after.playing || after.ended);
  EXPECT_EQ(p.sink.shown.size(), shown);
  // The preview shows single pictures again, from the decoder playback used.
  const PreviewCounters before = p.source.previewCounters();
  ASSERT_EQ(p.source.ShowFrameAt(15 * kFrameHns), 1);
  EXPECT_EQ(p.last().picture, p.RampAt(15 * kFrameHns));
  EXPECT_EQ(p.source.previewCounters().seeks, before.seeks);
  // ShowFrameAt stops a playing range first.
  ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
  ASSERT_EQ(p.source.ShowFrameAt(40 * kFrameHns), 1);
  EXPECT_EQ(p.last().picture, p.RampAt(40 * kFrameHns));
  EXPECT_FALSE(p.source.PresentPlayback(30'000'000).playing);
  EXPECT_EQ(p.source.ReadPlaybackPcm(buffer, sizeof buffer), 0u);
}

// Hashes what a conversion segment delivers.
class HashingSink final : public VideoFrameSink {
 public:
  void BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) override {
    hash = hash * 31 + static_cast<std::uint64_t>(sampleTime * 1000);
    for (std::size_t i = 0; i < length; i += 7) hash = hash * 131 + buffer[i];
  }
  std::uint64_t hash = 0;
};

// A conversion of the file delivers the same pictures and sound while the
// preview plays it.
TEST(Playback, AConversionDeliversTheSameWhilePlaybackRuns) {
  TempDir dir;
  const std::string clip = RampWithSound();
  std::vector<std::uint64_t> hashes;
  std::vector<std::vector<std::uint8_t>> wavs;
  for (const bool playing : {false, true}) {
    Player p;
    ASSERT_EQ(p.Open(clip), 1);
    if (playing) {
      ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
    }
    MediaSource conversion;
    HashingSink sink;
    const std::string wav = dir.file(playing ? "playing.wav" : "alone.wav");
    ASSERT_TRUE(conversion.BuildConversionGraph(clip, true, true, p.notifier));
    conversion.SetWavFileName(wav);
    conversion.SetVideoSink(&sink);
    ASSERT_TRUE(conversion.Run());
    const auto started = std::chrono::steady_clock::now();
    const auto present = [&] {
      const auto played = std::chrono::steady_clock::now() - started;
      const std::int64_t clock =
          std::chrono::duration_cast<std::chrono::microseconds>(played).count() * 10;
      p.source.PresentPlayback(clock);
      p.TakeSound(clock);
    };
    EXPECT_EQ(conversion.WaitForSegment(std::chrono::seconds(10), present),
              MediaSource::WaitResult::Delivered);
    EXPECT_TRUE(conversion.Stop());
    conversion.CloseConversion();
    hashes.push_back(sink.hash);
    wavs.push_back(test::ReadFileBytes(wav));
  }
  EXPECT_EQ(hashes[0], hashes[1]);
  EXPECT_EQ(wavs[0], wavs[1]);
}

}  // namespace
}  // namespace zel
