#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "common/MediaFixtures.h"
#include "source/MediaSource.h"
#include "source/VideoFrameSink.h"

namespace zel {
namespace {

using std::chrono::milliseconds;
using test::Join;
using test::MakeMedia;
using test::RecordingNotifier;
using test::TempDir;
using test::Tone;
using test::Video;
using Clock = std::chrono::steady_clock;

// Records what the video thread delivers; read only after Stop has joined it.
class RecordingSink final : public VideoFrameSink {
 public:
  void BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) override {
    times.push_back(sampleTime);
    lengths.push_back(length);
    if (firstFrame.empty()) firstFrame.assign(buffer, buffer + length);
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
  }
  std::vector<double> times;
  std::vector<std::size_t> lengths;
  std::vector<std::uint8_t> firstFrame;
  milliseconds delay{0};
};

// The PCM of a WAV file, found the way the audio path finds it: after the
// first "data" tag and its 32-bit length.
std::vector<std::int16_t> WavSamples(const std::string& path) {
  const std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
  EXPECT_GE(bytes.size(), 44u);
  EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
  const auto at = std::search(bytes.begin(), bytes.end(), "data", "data" + 4);
  if (at == bytes.end() || bytes.end() - at < 8) {
    ADD_FAILURE() << "no data chunk";
    return {};
  }
  const std::size_t offset = static_cast<std::size_t>(at - bytes.begin()) + 8;
  std::uint32_t length = 0;
  std::memcpy(&length, &*(at + 4), 4);
  std::uint32_t riff = 0;
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
  RecordingNotifier notifier;
  std::string wav;

  Segment(const TempDir& dir, const std::string& path) : wav(dir.file("sample_00.wav")) {
    EXPECT_TRUE(source.BuildConversionGraph(path, true, true, notifier));
    source.SetVideoSink(&sink);
    source.SetWavFileName(wav);
  }
  MediaSource::WaitResult Run(std::int64_t startHns, std::int64_t stopHns) {
    EXPECT_TRUE(source.SetSegment(startHns, stopHns));
    EXPECT_TRUE(source.Run());
    const MediaSource::WaitResult result = source.WaitForSegment(std::chrono::seconds(5));
    source.Stop();
    return result;
  }
};

TEST(SegmentDelivery, VideoFramesOfASegmentStartingBetweenKeyFrames) {
  TempDir dir;
  Segment s(dir, test::MakeWmv(dir, "clip.wmv", "4"));
  ASSERT_TRUE(s.source.info().hasVideo);
  // Key frames at 0 s and 2 s; the start lies between them. The frames sit
  // 46 ms into each 40 ms step (the muxer moved the video by the audio
  // codec's delay), so the first one of the segment comes 26 ms after its start.
  EXPECT_EQ(s.Run(10200000, 30000000), MediaSource::WaitResult::Delivered);
  ASSERT_FALSE(s.sink.times.empty());
  EXPECT_NEAR(s.sink.times.front(), 0.026, 0.002);
  EXPECT_LT(s.sink.times.back(), 1.98);
  EXPECT_TRUE(std::is_sorted(s.sink.times.begin(), s.sink.times.end()));
  EXPECT_NEAR(static_cast<double>(s.sink.times.size()), 1.98 * 25, 1.0);
  for (std::size_t length : s.sink.lengths) EXPECT_EQ(length, 176u * 144 * 3 / 2);
  EXPECT_EQ(s.source.deliveredFrames(), s.sink.times.size());
}

TEST(SegmentDelivery, WholeFileDeliversEveryFrame) {
  TempDir dir;
  Segment s(dir, test::MakeWmv(dir, "clip.wmv", "2"));
  EXPECT_EQ(s.Run(0, s.source.info().durationHns), MediaSource::WaitResult::Delivered);
  EXPECT_EQ(s.sink.times.size(), 50u);
  ASSERT_FALSE(s.sink.times.empty());
  EXPECT_NEAR(s.sink.times.front(), 0.046, 0.002);
}

TEST(SegmentDelivery, FramesArriveAsYv12WithVBeforeU) {
  TempDir dir;
  const std::string path = dir.file("red.avi");
  // Pure red: Y 81, U 90, V 240 in BT.601 limited range. The odd size loses a
  // column and a row.
  MakeMedia({"-f", "lavfi", "-i", "color=c=red:size=65x49:rate=10:duration=1", "-c:v", "ffv1",
             "-pix_fmt", "yuv444p", path});
  Segment s(dir, path);
  ASSERT_EQ(s.source.info().width, 64);
  ASSERT_EQ(s.source.info().height, 48);
  EXPECT_EQ(s.Run(0, 10000000), MediaSource::WaitResult::Delivered);
  ASSERT_EQ(s.sink.firstFrame.size(), 64u * 48 * 3 / 2);
  const std::uint8_t* y = s.sink.firstFrame.data();
  const std::uint8_t* v = y + 64 * 48;
  const std::uint8_t* u = v + 32 * 24;
  EXPECT_NEAR(y[0], 81, 3);
  EXPECT_NEAR(y[64 * 48 - 1], 81, 3);
  EXPECT_NEAR(v[0], 240, 3);
  EXPECT_NEAR(u[0], 90, 3);
  EXPECT_NEAR(u[32 * 24 - 1], 90, 3);
  EXPECT_EQ(s.sink.times.size(), 10u);
}

TEST(SegmentDelivery, SlowFramesAndVariableRates) {
  TempDir dir;
  const std::string path = dir.file("slides.avi");
  MakeMedia(Join({Video("160x120", "1/2", "8"), {"-c:v", "mpeg4", path}}));
  Segment s(dir, path);
  // Frames at 0, 2, 4, 6 s; the segment [3 s, 7 s) holds those at 4 and 6.
  EXPECT_EQ(s.Run(30000000, 70000000), MediaSource::WaitResult::Delivered);
  ASSERT_EQ(s.sink.times.size(), 2u);
  EXPECT_NEAR(s.sink.times[0], 1.0, 1e-6);
  EXPECT_NEAR(s.sink.times[1], 3.0, 1e-6);
}

TEST(SegmentDelivery, WavHoldsExactlyTheSamplesOfTheSegment) {
  TempDir dir;
  const std::string path = dir.file("stereo.wav");
  MakeMedia(Join({Tone(44100, "3"), {"-ac", "2", path}}));
  const std::string raw = dir.file("direct.raw");
  MakeMedia({"-i", path, "-f", "s16le", "-c:a", "pcm_s16le", raw});
  const std::vector<std::uint8_t> directBytes = test::ReadFileBytes(raw);
  std::vector<std::int16_t> direct(directBytes.size() / 2);
  std::memcpy(direct.data(), directBytes.data(), direct.size() * 2);

  Segment s(dir, path);
  EXPECT_EQ(s.Run(5000000, 20000000), MediaSource::WaitResult::Delivered);
  const std::vector<std::int16_t> samples = WavSamples(s.wav);
  ASSERT_EQ(samples.size(), 66150u * 2);  // 1.5 s of stereo at 44100 Hz
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), direct.begin() + 22050 * 2));
  EXPECT_EQ(s.source.wavBytes(), 44u + samples.size() * 2);

  // Times that fall between samples are cut at whole samples: 0.1234567 s to
  // 0.2 s is 8820 - 5444 samples.
  EXPECT_EQ(s.Run(1234567, 2000000), MediaSource::WaitResult::Delivered);
  EXPECT_EQ(WavSamples(s.wav).size(), (8820u - 5444u) * 2);
}

TEST(SegmentDelivery, WavIsConvertedToSixteenBitStereo) {
  TempDir dir;
  const struct {
    const char* name;
    std::vector<std::string> options;
    int rate;
  } cases[] = {
      {"surround.wav", {"-af", "aformat=channel_layouts=5.1"}, 48000},
      {"deep.wav", {"-ac", "2", "-c:a", "pcm_s24le"}, 22050},
      {"mono.wav", {"-ac", "1"}, 8000},
  };
  for (const auto& c : cases) {
    const std::string path = dir.file(c.name);
    MakeMedia(Join({Tone(c.rate, "2"), c.options, {path}}));
    Segment s(dir, path);
    EXPECT_EQ(s.Run(2500000, 15000000), MediaSource::WaitResult::Delivered) << c.name;
    const int channels = s.source.info().channels;
    const std::vector<std::int16_t> samples = WavSamples(s.wav);
    EXPECT_EQ(samples.size(), static_cast<std::size_t>(c.rate) * 125 / 100 * channels) << c.name;
    EXPECT_EQ(test::Probe(s.wav, "stream=sample_fmt,sample_rate,channels"),
              "s16," + std::to_string(c.rate) + "," + std::to_string(channels));
    // The tone is there, not silence.
    const auto peak = *std::max_element(samples.begin(), samples.end());
    EXPECT_GT(peak, 1000) << c.name;  // 5.1 is mixed down at reduced level
  }
}

TEST(SegmentDelivery, WmvAudioOfASegmentMatchesTheWholeFile) {
  TempDir dir;
  const std::string path = test::MakeWmv(dir, "clip.wmv", "3");
  Segment whole(dir, path);
  EXPECT_EQ(whole.Run(0, 30000000), MediaSource::WaitResult::Delivered);
  const std::vector<std::int16_t> all = WavSamples(whole.wav);
  ASSERT_EQ(all.size(), 132300u * 2);

  Segment s(dir, path);
  EXPECT_EQ(s.Run(10000000, 20000000), MediaSource::WaitResult::Delivered);
  const std::vector<std::int16_t> samples = WavSamples(s.wav);
  ASSERT_EQ(samples.size(), 44100u * 2);
  // Decoded from a seek, the samples line up with the straight decode; only
  // the first block may differ where the decoder had no predecessor.
  double difference = 0, energy = 0;
  for (std::size_t i = 8192; i < samples.size(); ++i) {
    const double d = samples[i] - all[88200 + i];
    difference += d * d;
    energy += static_cast<double>(samples[i]) * samples[i];
  }
  EXPECT_GT(energy, 0);
  EXPECT_LT(difference, energy * 0.01);
}

TEST(SegmentDelivery, AbortStopsALongSegmentPromptly) {
  TempDir dir;
  Segment s(dir, test::MakeWmv(dir, "clip.wmv", "4"));
  std::atomic<bool> abortRequested{false};
  s.source.SetAbortFlag(&abortRequested);
  s.sink.delay = milliseconds(30);  // a slow encoder: 100 frames take 3 s
  ASSERT_TRUE(s.source.SetSegment(0, s.source.info().durationHns));
  ASSERT_TRUE(s.source.Run());
  std::thread aborter([&] {
    std::this_thread::sleep_for(milliseconds(300));
    abortRequested = true;
  });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(s.source.WaitForSegment(std::chrono::seconds(5)), MediaSource::WaitResult::Aborted);
  aborter.join();
  s.source.Stop();
  const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  EXPECT_LT(elapsed.count(), 700);
  EXPECT_LT(s.sink.times.size(), 40u);
  EXPECT_GT(s.sink.times.size(), 0u);
}

TEST(SegmentDelivery, DeliveryEndsTheWaitAtOnce) {
  TempDir dir;
  const std::string path = dir.file("short.wav");
  MakeMedia(Join({Tone(8000, "1"), {"-ac", "1", path}}));
  Segment s(dir, path);
  ASSERT_TRUE(s.source.SetSegment(0, 10000000));
  ASSERT_TRUE(s.source.Run());
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(s.source.WaitForSegment(std::chrono::seconds(10)), MediaSource::WaitResult::Delivered);
  EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count(), 500);
  s.source.Stop();
  EXPECT_EQ(WavSamples(s.wav).size(), 8000u);
}

TEST(SegmentDelivery, AStandingDecoderIsReportedAsStalled) {
  TempDir dir;
  const std::string path = dir.file("video.avi");
  MakeMedia(Join({Video("160x120", "25", "2"), {"-c:v", "mpeg4", path}}));
  Segment s(dir, path);
  s.sink.delay = milliseconds(800);  // the first frame holds the thread
  ASSERT_TRUE(s.source.SetSegment(0, 20000000));
  ASSERT_TRUE(s.source.Run());
  std::atomic<bool> abortRequested{false};
  EXPECT_EQ(s.source.WaitForSegment(milliseconds(300)), MediaSource::WaitResult::Stalled);
  s.source.SetAbortFlag(&abortRequested);
  abortRequested = true;
  s.source.Stop();
  EXPECT_LE(s.sink.times.size(), 2u);
}

TEST(SegmentDelivery, AWavFileThatCannotBeCreatedFailsTheRun) {
  TempDir dir;
  const std::string path = dir.file("short.wav");
  MakeMedia(Join({Tone(8000, "1"), {"-ac", "1", path}}));
  MediaSource source;
  RecordingNotifier notifier;
  ASSERT_TRUE(source.BuildConversionGraph(path, true, true, notifier));
  source.SetWavFileName(dir.file("no/such/folder/sample_00.wav"));
  ASSERT_TRUE(source.SetSegment(0, 10000000));
  EXPECT_FALSE(source.Run());
  source.Stop();
  source.CloseConversion();
  EXPECT_FALSE(source.SetSegment(0, 10000000));
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// A split job runs its segments one after the other on one source; each goes
// on reading where the previous one stopped. Together they must hold exactly
// what one segment over the whole range holds: every frame once, at the same
// time, and every sample once, byte for byte.
TEST(SegmentDelivery, FollowingSegmentsAddUpToTheWholeRange) {
  TempDir dir;
  const std::string path = test::MakeWmv(dir, "clip.wmv", "3", 12);
  Segment whole(dir, path);
  ASSERT_EQ(whole.Run(5000000, 27000000), MediaSource::WaitResult::Delivered);
  const std::vector<std::int16_t> allSamples = WavSamples(whole.wav);

  Segment split(dir, path);
  std::vector<double> times;
  std::vector<std::int16_t> samples;
  // Bounds that fall between frames and between the codec's audio blocks.
  const std::int64_t bounds[] = {5000000, 10000000, 10000001, 17770000, 27000000};
  for (std::size_t i = 0; i + 1 < std::size(bounds); ++i) {
    split.sink.times.clear();
    ASSERT_EQ(split.Run(bounds[i], bounds[i + 1]), MediaSource::WaitResult::Delivered) << i;
    for (double t : split.sink.times) times.push_back(t + (bounds[i] - bounds[0]) / 1e7);
    const std::vector<std::int16_t> part = WavSamples(split.wav);
    samples.insert(samples.end(), part.begin(), part.end());
  }
  ASSERT_EQ(times.size(), whole.sink.times.size());
  for (std::size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], whole.sink.times[i], 1e-6);
  ASSERT_EQ(samples.size(), allSamples.size());
  EXPECT_TRUE(samples == allSamples);
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// An MPEG program stream has no key-frame index: a seek may land after the
// last key frame before the start, and the frames up to the next one would be
// lost (and the video would run ahead of the sound).
TEST(SegmentDelivery, MpegProgramStreamSegmentKeepsEveryFrame) {
  TempDir dir;
  const std::string path = dir.file("clip.mpg");
  MakeMedia(Join({Video("176x144", "25", "5"),
                  Tone(44100, "5"),
                  {"-c:v", "mpeg1video", "-g", "12", "-c:a", "mp2", "-f", "mpeg", path}}));
  Segment s(dir, path);
  ASSERT_TRUE(s.source.info().hasVideo);
  ASSERT_EQ(s.Run(17000000, 41000000), MediaSource::WaitResult::Delivered);
  ASSERT_FALSE(s.sink.times.empty());
  EXPECT_EQ(s.sink.times.size(), 60u);
  EXPECT_LT(s.sink.times.front(), 0.04 + 1e-6);
}

}  // namespace
}  // namespace zel
