#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "General/MediaTypes.h"
#include "common/MediaFixtures.h"
#include "source/MediaSource.h"
#include "source/VideoFrameSink.h"

namespace zel {
namespace {

using test::Join;
using test::MakeMedia;
using test::RecordingNotifier;
using test::TempDir;

constexpr std::int64_t kFrameHns = 400000;  // 25 fps
constexpr std::int64_t kStepHns = 100000;   // the fake clock's step, 10 ms

// 3 s at 25 fps, 160x120; picture n is a flat grey of level 16 + 4 (n mod 50),
// so the picture on show tells its number. Sound as the codecs ask.
std::string MakeRamp(const TempDir& dir, const std::string& name,
                     const std::vector<std::string>& codecs) {
  const std::string path = dir.file(name);
  MakeMedia(Join({{"-f", "lavfi", "-i",
                   "nullsrc=s=160x120:r=25:d=3,format=gray,geq=lum='16+4*mod(N\\,50)',"
                   "format=yuv420p"},
                  test::Tone(44100, "3"),
                  codecs,
                  {"-sc_threshold", "1000000000", path}}));
  return path;
}

int RampPicture(std::uint32_t pixel) {
  return static_cast<int>(std::lround(((pixel & 0xff) - 16) / 4.0));
}

struct ShownPicture {
  std::int64_t timeHns;
  std::int64_t clockHns;  // when it was shown
  int picture;            // the ramp's number on it
};

class RecordingSink final : public PreviewSink {
 public:
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    std::uint32_t centre = 0;
    std::memcpy(&centre,
                frame.pixels + static_cast<std::ptrdiff_t>(frame.height / 2) * frame.bytesPerLine +
                    (frame.width / 2) * 4,
                4);
    shown.push_back({frame.timeHns, clockHns, RampPicture(centre)});
  }
  std::int64_t clockHns = 0;
  std::vector<ShownPicture> shown;
};

struct Player {
  MediaSource source;
  RecordingSink sink;
  RecordingNotifier notifier;
  std::uint64_t pcmBytes = 0;
  std::int64_t squares = 0;  // energy of the sound taken, to tell it from silence

  explicit Player(const std::string& path) {
    EXPECT_EQ(source.OpenPreview(path, &sink, notifier), 1) << path;
  }
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
    const ShownPicture& first = sink.shown.front();
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

TEST(Playback, ARangePlaysToItsEndWithEveryPictureOnTime) {
  TempDir dir;
  const std::string tone = dir.file("tone.wav");
  MakeMedia(Join({test::Tone(22050, "3"), {tone}}));
  const struct {
    std::string path;
    bool video;
  } cases[] = {
      {MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "20", "-c:a", "wmav2"}), true},
      {MakeRamp(dir, "ramp.mpg",
                {"-c:v", "mpeg1video", "-q:v", "2", "-g", "12", "-bf", "2", "-c:a", "mp2", "-f",
                 "mpeg"}),
       true},
      {tone, false},
  };
  constexpr std::int64_t kStart = 5'000'000, kStop = 25'000'000;
  for (const auto& c : cases) {
    Player p(c.path);
    ASSERT_EQ(p.source.PlayRange(kStart, kStop), 1) << c.path;
    const PlaybackStatus status = p.Drive(kStart, kStop + kHnsPerSecond);
    EXPECT_TRUE(status.ended) << c.path;
    EXPECT_FALSE(status.playing) << c.path;
    EXPECT_FALSE(p.source.PresentPlayback(kStop + kHnsPerSecond).ended) << "ends once";
    const std::vector<ShownPicture>& shown = p.sink.shown;
    ASSERT_EQ(shown.empty(), !c.video) << c.path;
    if (c.video) {
      // From the picture on show at the start to the last one before the
      // end (the sound may make the pictures start a little late in the file).
      EXPECT_LE(shown.front().timeHns, kStart) << c.path;
      EXPECT_GT(shown.front().timeHns + kFrameHns, kStart) << c.path;
      EXPECT_LT(shown.back().timeHns, kStop) << c.path;
      EXPECT_GE(shown.back().timeHns + kFrameHns, kStop) << c.path;
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
      // Each picture in its turn, shown in the first step its time reached.
      EXPECT_EQ(shown[i].timeHns, shown.front().timeHns + static_cast<std::int64_t>(i) * kFrameHns)
          << c.path;
      EXPECT_EQ(shown[i].picture, static_cast<int>((shown.front().picture + i) % 50)) << c.path;
      EXPECT_LT(shown[i].clockHns - std::max(shown[i].timeHns, kStart), kStepHns) << c.path;
      EXPECT_GE(shown[i].clockHns, shown[i].timeHns) << c.path;
    }
    const PlaybackCounters counters = p.source.playbackCounters();
    EXPECT_EQ(counters.shown, p.sink.shown.size()) << c.path;
    EXPECT_EQ(counters.dropped, 0u) << c.path;
    // Exactly the range's sound, and sound, not silence.
    EXPECT_EQ(p.pcmBytes, p.BytesPerSecond() * 2) << c.path;
    EXPECT_EQ(counters.pcmBytes, p.pcmBytes) << c.path;
    EXPECT_TRUE(p.source.playbackSoundDrained()) << c.path;
    EXPECT_GT(p.squares / static_cast<std::int64_t>(p.pcmBytes / 2), 1000) << c.path;
    EXPECT_EQ(p.source.GetCurrentPosition(), kStop) << c.path;
    EXPECT_EQ(p.source.StopPlayback(), 1);
    EXPECT_EQ(p.source.GetCurrentPosition(), kStop) << "the cursor stays where playback left it";
  }
}

TEST(Playback, PicturesWhoseTimeHasPassedAreDroppedNotQueued) {
  TempDir dir;
  Player p(MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2", "-an"}));
  ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
  while (p.sink.shown.empty()) p.Drive(0, 0);  // the first picture
  // The clock jumps a second ahead, as when the window's thread was held up.
  const std::int64_t clock = 25 * kFrameHns;
  for (int i = 0; i < 5000 && p.sink.shown.back().timeHns < clock; ++i) {
    p.sink.clockHns = clock;
    p.source.PresentPlayback(clock);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(p.sink.shown.back().timeHns, clock);
  EXPECT_EQ(p.sink.shown.back().picture, 25);
  // Only what was decoded before the jump came on, each once, in order.
  EXPECT_LE(p.sink.shown.size(), 4u);
  for (std::size_t i = 1; i < p.sink.shown.size(); ++i) {
    EXPECT_GT(p.sink.shown[i].timeHns, p.sink.shown[i - 1].timeHns);
  }
  const PlaybackCounters counters = p.source.playbackCounters();
  EXPECT_EQ(counters.shown + counters.dropped, 26u);  // pictures 0 to 25
}

TEST(Playback, StopHaltsAtOnceAndThePreviewGoesOn) {
  TempDir dir;
  Player p(MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2"}));
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
  EXPECT_EQ(p.sink.shown.back().picture, p.RampAt(15 * kFrameHns));
  EXPECT_EQ(p.source.previewCounters().seeks, before.seeks);
  // ShowFrameAt stops a playing range first.
  ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
  ASSERT_EQ(p.source.ShowFrameAt(40 * kFrameHns), 1);
  EXPECT_EQ(p.sink.shown.back().picture, p.RampAt(40 * kFrameHns));
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

TEST(Playback, AConversionDeliversTheSameWhilePlaybackRuns) {
  TempDir dir;
  const std::string clip =
      MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2"});
  std::vector<std::uint64_t> hashes;
  std::vector<std::vector<std::uint8_t>> wavs;
  for (const bool playing : {false, true}) {
    Player p(clip);
    if (playing) {
      ASSERT_EQ(p.source.PlayRange(0, 30'000'000), 1);
    }
    MediaSource conversion;
    HashingSink sink;
    RecordingNotifier notifier;
    const std::string wav = dir.file(playing ? "playing.wav" : "alone.wav");
    ASSERT_TRUE(conversion.BuildConversionGraph(clip, true, true, notifier));
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
