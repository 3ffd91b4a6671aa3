// What a conversion segment delivers: its pictures to the sink, its sound to
// the WAV file.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "General/MediaTypes.h"
#include "common/MediaFixtures.h"
#include "source/MediaSource.h"
#include "source/VideoFrameSink.h"

namespace zel {
namespace {

using namespace test;

// Records what the video thread delivers; read only after Stop has joined it.
// Or throws, as a sink that runs out of memory would.
class RecordingSink final : public VideoFrameSink {
 public:
  void BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) override {
    if (throws) throw std::bad_alloc();
    // Held from holdFrom on, as an encoder that falls behind, until released.
    if (sampleTime >= holdFrom) {
      held = true;
      while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    times.push_back(sampleTime);
    lengths.push_back(length);
    if (firstFrame.empty()) firstFrame.assign(buffer, buffer + length);
  }
  std::vector<double> times;
  std::vector<std::size_t> lengths;
  std::vector<std::uint8_t> firstFrame;
  bool throws = false;
  double holdFrom = 1e9;
  std::atomic<bool> held{false}, released{false};
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
  std::string wav;

  Segment(const TempDir& dir, const std::string& path) : wav(dir.file("sample_00.wav")) {
    EXPECT_EQ(source.BuildConversionGraph(path, true, true), OpenResult::Opened);
    source.SetVideoSink(&sink);
    source.SetWavFileName(wav);
  }
  // next (its stop and WAV file): the segment after it, which decodes ahead
  // once this one has been delivered.
  void Run(std::int64_t startHns, std::int64_t stopHns, std::int64_t nextStopHns = 0,
           const std::string& nextWav = {}) {
    sink.times.clear();
    EXPECT_TRUE(source.SetSegment(startHns, stopHns));
    source.SetWavFileName(wav);
    EXPECT_TRUE(source.Run());
    if (nextStopHns > 0) source.SetNextSegment(stopHns, nextStopHns, nextWav);
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
      {Media("qcif4.wmv"), 10200000, 30000000, 49, 0.026},
      {Media("qcif4.wmv"), 0, -1, 100, 0.046},  // -1: the whole file
      // Frames every 2 s; the segment [3 s, 7 s) holds those at 4 and 6.
      {Media("slides.avi", Join({Video("176x144", "1/2", "8"), {"-c:v", "mpeg4"}})), 30000000,
       70000000, 2, 1.0},
      // An MPEG program stream has no key-frame index: a seek may land after
      // the last key frame before the start, and the frames up to the next
      // one must not be lost.
      {Media("clip.mpg", Join({Video("176x144", "25", "5"),
                               Tone(44100, "5"),
                               {"-c:v", "mpeg1video", "-g", "12", "-c:a", "mp2", "-f", "mpeg"}})),
       17000000, 41000000, 60, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Segment s(dir, c.path);
    const std::int64_t stop = c.stop < 0 ? s.source.info().durationHns : c.stop;
    s.Run(c.start, stop);
    const bool held = c.start > 0;  // every start here lies between two pictures
    ASSERT_EQ(s.sink.times.size(), c.count + held);
    EXPECT_TRUE(!held || s.sink.times.front() == 0.0);
    const std::vector<double> own(s.sink.times.begin() + held, s.sink.times.end());
    EXPECT_NEAR(own.front(), c.first, c.first > 0 ? 0.002 : 0.04 + 1e-6);
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

// An abort ends the segment at once, as aborted; an exception on a streaming
// thread ends it as broken, with what it said, instead of the program.
TEST(SegmentDelivery, AnAbortOrAnExceptionEndsTheSegment) {
  TempDir dir;
  const std::string clip = Media("qcif4.wmv");
  for (const bool throws : {false, true}) {
    Segment s(dir, clip);
    const std::atomic<bool> abort{!throws};
    s.source.SetAbortFlag(&abort);
    s.sink.throws = throws;
    ASSERT_TRUE(s.source.Run());
    EXPECT_EQ(s.source.WaitForSegment(std::chrono::seconds(5)),
              throws ? MediaSource::WaitResult::Broken : MediaSource::WaitResult::Aborted);
    s.source.Stop();  // before failureText, as the driver asks
    EXPECT_EQ(s.source.failureText(), throws ? "std::bad_alloc" : "");
    EXPECT_LT(s.sink.times.size(), 5u);
  }
}

// The decoder goes on into the segment named next while the running one's
// last pictures still wait for the sink, until that segment's queue is full
// (two seconds of 320x240 pictures outgrow it); an abort meanwhile ends both
// at once, and the next segment's WAV file is never made.
TEST(SegmentDelivery, AnAbortEndsTheSegmentTheDecoderWentOnWith) {
  TempDir dir;
  Segment s(dir, Media("video.wmv"));
  std::atomic<bool> abort{false};
  s.source.SetAbortFlag(&abort);
  s.sink.holdFrom = 0.9;
  ASSERT_TRUE(s.source.SetSegment(0, 10000000));
  ASSERT_TRUE(s.source.Run());
  s.source.SetNextSegment(10000000, 30000000, dir.file("next.wav"));
  for (int i = 0; i < 5000 && !s.sink.held; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(s.sink.held);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the decoder goes on
  abort = true;
  EXPECT_EQ(s.source.WaitForSegment(std::chrono::seconds(5)), MediaSource::WaitResult::Aborted);
  s.sink.released = true;
  s.source.Stop();
  EXPECT_FALSE(std::filesystem::exists(dir.file("next.wav")));
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
  const std::string path = Media("qcif3.wmv");
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
  // Bounds that fall between frames and between the codec's audio blocks;
  // each segment decodes while the one before is read, the last announces
  // one that never runs.
  const std::int64_t bounds[] = {5000000, 10000000, 10000001, 17770000, 27000000, 30000000};
  const auto wav = [&dir](std::size_t i) { return dir.file("part" + std::to_string(i) + ".wav"); };
  for (std::size_t i = 0; i + 2 < std::size(bounds); ++i) {
    split.wav = wav(i);
    split.Run(bounds[i], bounds[i + 1], bounds[i + 2], wav(i + 1));
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
  // Another segment than the one decoded ahead drops it and its WAV file.
  const std::vector<double> lastTimes = split.sink.times;
  split.Run(bounds[3], bounds[4]);
  EXPECT_EQ(split.sink.times, lastTimes);
  EXPECT_FALSE(std::filesystem::exists(wav(4)));
}

}  // namespace
}  // namespace zel
