// The preview: single pictures at a position, and playback of a range on a
// clock driven by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "General/MediaTypes.h"
#include "common/MediaFixtures.h"
#include "source/PreviewSource.h"

namespace zel {
namespace {

using namespace test;

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

// 640x480, red above blue, with sound.
std::string RedOverBlue() {
  return test::Media("split.wmv",
                     Join({{"-f", "lavfi", "-i",
                            "color=c=red:s=640x240:r=25:d=1[a];color=c=blue:s=640x240:r=25:d=1[b];"
                            "[a][b]vstack[out0]"},
                           test::Tone(44100, "1"),
                           {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2", "-ac", "2"}}));
}

// The quarter of a picture (0 top left, 1 top right, 2 bottom right, 3
// bottom left) whose centre is red rather than blue; -1: none.
template <typename RedOverBlue>
int RedQuarter(int width, int height, RedOverBlue redOverBlue) {
  const int xs[] = {width / 4, width * 3 / 4, width * 3 / 4, width / 4};
  const int ys[] = {height / 4, height / 4, height * 3 / 4, height * 3 / 4};
  for (int q = 0; q < 4; ++q) {
    if (redOverBlue(xs[q], ys[q])) return q;
  }
  return -1;
}

struct Shown {
  std::int64_t timeHns;
  std::int64_t clockHns;  // when it was shown
  int picture;            // the ramp's number on it
  int width, height, bytesPerLine;
  std::uint32_t alpha;
  int redQuarter;
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
    const int red = RedQuarter(f.width, f.height, [&f](int x, int y) {
      std::uint32_t word = 0;
      std::memcpy(&word, f.pixels + static_cast<std::ptrdiff_t>(y) * f.bytesPerLine + x * 4, 4);
      return ((word >> 16) & 0xff) > (word & 0xff);
    });
    shown.push_back(
        {f.timeHns, clockHns, picture, f.width, f.height, f.bytesPerLine, centre >> 24, red});
  }
  std::int64_t clockHns = 0;
  std::vector<Shown> shown;
};

struct Player {
  PreviewSource source;
  PictureSink sink;
  std::uint64_t pcmBytes = 0;
  std::int64_t squares = 0;  // energy of the sound taken, to tell it from silence

  int Open(const std::string& path) {
    return source.OpenPreview(path, &sink) == OpenResult::Opened ? 1 : -1;
  }
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

// A phone's recording whose stream asks for a turn (blue with a red top left
// quarter; ffmpeg's "rotate" tag of N turns it N degrees counter-clockwise)
// stands upright at its displayed size: in the preview, in playback and in
// a still. Pictures of any layout turn: planes of bytes, 4:2:2 (turned on
// its side through 4:4:4), RGB24, palettes.
TEST(Preview, RecordingsStandAsPlayersShowThem) {
  const std::vector<std::string> mpeg4 = {"-c:v", "mpeg4", "-q:v", "2"};
  const std::vector<std::string> jpeg422 = {"-c:v", "mjpeg", "-pix_fmt", "yuvj422p"};
  const auto png = [](const char* layout) {
    return std::vector<std::string>{"-c:v", "png", "-pix_fmt", layout};
  };
  const struct {
    int rotate;
    std::string name;
    std::vector<std::string> codec;
    int clockwise, width, height, displayWidth, redQuarter;
  } cases[] = {
      {0, "quarter.mp4", mpeg4, 0, 640, 360, 511, 0},
      {90, "quarter.mp4", mpeg4, 270, 360, 640, 161, 3},
      {180, "quarter.mp4", mpeg4, 180, 640, 360, 511, 2},
      {270, "quarter.mp4", mpeg4, 90, 360, 640, 161, 1},
      {90, "j422.mp4", jpeg422, 270, 360, 640, 161, 3},
      {180, "j422.mp4", jpeg422, 180, 640, 360, 511, 2},
      {270, "rgb.mov", png("rgb24"), 90, 360, 640, 161, 1},
      {90, "pal.mov", png("pal8"), 270, 360, 640, 161, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.rotate));
    const std::string path =
        test::Rotated(c.name, "color=c=blue:s=640x360:r=25:d=1,drawbox=w=320:h=180:c=red:t=fill",
                      c.rotate, c.codec);
    Player p;
    ASSERT_EQ(p.Open(path), 1);
    const MediaInfo& info = p.source.previewInfo();
    EXPECT_EQ(std::make_tuple(info.rotation, info.width, info.height, info.displayWidth,
                              info.displayHeight),
              std::make_tuple(c.clockwise, c.width, c.height, c.displayWidth, 288));
    ASSERT_EQ(p.source.ShowFrameAt(kFrameHns), 1);
    ASSERT_EQ(p.source.PlayRange(0, 4 * kFrameHns), 1);
    p.Drive(0, kHnsPerSecond);
    for (const Shown& shown : p.sink.shown) {
      EXPECT_EQ(std::make_tuple(shown.width, shown.height, shown.redQuarter),
                std::make_tuple(c.displayWidth, 288, c.redQuarter));
    }
    std::vector<std::uint8_t> bgr;
    int width = 0, height = 0;
    ASSERT_TRUE(p.source.GrabFrameAt(kFrameHns, bgr, width, height));
    const int red = RedQuarter(width, height, [&](int x, int y) {
      const std::uint8_t* pixel = bgr.data() + (std::size_t(height - 1 - y) * width + x) * 3;
      return pixel[2] > pixel[0];
    });
    EXPECT_EQ(std::make_tuple(width, height, red),
              std::make_tuple(c.width, c.height, c.redQuarter));
  }
}

// Forwards and backwards, on and beside picture boundaries and key frames,
// the last picture and after it. A dragged bar gets a key picture at once,
// one picture decoded: the key frame at or before the position, or one known
// after it that lies nearer (learned when the file was read past the position).
TEST(Preview, ShowsThePictureWhoseSpanHoldsThePosition) {
  // clang-format off
  const std::pair<std::int64_t, int> steps[] = {
      {0, 0}, {kFrameHns - 1, 0}, {kFrameHns, 1}, {10 * kFrameHns - 1, 9}, {10 * kFrameHns, 10},
      {30 * kFrameHns + kFrameHns / 2, 30}, {22 * kFrameHns + 1, 22}, {49 * kFrameHns + 1, 49},
      {80 * kFrameHns, 49}, {25 * kFrameHns - 1, 24}, {3 * kFrameHns, 3}};
  // clang-format on
  const std::pair<std::string, std::vector<std::pair<int, int>>> clips[] = {
      {Ramp("ramp10.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "10"}, "2"),
       {{37, 30}, {38, 40}, {31, 30}, {12, 10}}},
      {Ramp("ramp.mpg", {"-c:v", "mpeg1video", "-q:v", "2", "-g", "25", "-bf", "2", "-f", "mpeg"},
            "2"),
       {{37, 27}, {45, 27}}},  // the I picture of the second GOP
  };
  for (const auto& [clip, dragged] : clips) {
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
    Player q;  // a fresh file: what the drags may know comes from their own reading
    ASSERT_EQ(q.Open(clip), 1);
    for (const auto& [position, picture] : dragged) {
      SCOPED_TRACE(clip + " dragged to " + std::to_string(position));
      const std::uint64_t decoded = q.source.previewCounters().decodedFrames;
      ASSERT_EQ(q.source.ShowFrameAt(position * kFrameHns + 1000, SeekKind::NearestKeyFrame), 1);
      EXPECT_EQ(q.last().picture, picture);
      EXPECT_EQ(q.source.previewCounters().decodedFrames - decoded, 1u);
    }
    ASSERT_EQ(q.source.ShowFrameAt(33 * kFrameHns), 1);  // and the exact one after it
    EXPECT_EQ(q.last().picture, 33);
  }
}

// Files that do not open are refused with a message; one without pictures
// opens, shows none and has no layout (stills are StillCaptureCommand's). The
// layout (LayoutVideoRect) sets the size of the pictures and shows the same
// one again; a closed preview declines everything; another file opens after it.
TEST(Preview, RefusingLayoutClosingAndOpeningAnother) {
  TempDir dir;
  test::WriteFileBytes(dir.file("noise.wmv"), std::vector<std::uint8_t>(50000, 0x5a));
  for (const auto& [path, why] : {std::pair{dir.file("missing.wmv"), OpenResult::NoSuchFile},
                                  {dir.file("noise.wmv"), OpenResult::NothingPlays},
                                  {Media("tone15.wav", Tone(22050, "1.5")), OpenResult::Opened}}) {
    Player p;
    const bool opened = why == OpenResult::Opened;
    EXPECT_EQ(p.source.OpenPreview(path, &p.sink), why) << path;
    EXPECT_EQ(p.source.previewOpened(), opened);
    const MediaInfo& info = p.source.previewInfo();
    EXPECT_EQ(std::make_tuple(info.hasAudio, info.hasVideo, info.sampleRate),
              std::make_tuple(opened, false, opened ? 22050 : 0));
    EXPECT_EQ(p.source.ShowFrameAt(0), 0);
    EXPECT_FALSE(p.source.LayoutVideoWindow(770, 312, 0).has_value());
    EXPECT_EQ(p.source.ClosePreview(), opened ? 1 : 0);
  }
  Player p;
  ASSERT_EQ(p.Open(RedOverBlue()), 1);
  const MediaInfo& info = p.source.previewInfo();
  EXPECT_EQ(std::make_tuple(info.hasAudio, info.hasVideo, info.displayWidth, info.sampleRate),
            std::make_tuple(true, true, 383, 44100));
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
  // The decoder fills its queue meanwhile, even on a busy machine.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The clock jumps a second ahead, as when the window's thread was held up.
  const std::int64_t clock = 25 * kFrameHns;
  for (int i = 0; i < 500 && p.last().timeHns < clock; ++i) {
    p.sink.clockHns = clock;
    p.source.PresentPlayback(clock);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(p.last().timeHns, clock);
  EXPECT_EQ(p.last().picture, 25);
  // The queued pictures are passed over but the newest, the later late ones
  // are never converted: the first picture, the newest queued one, at most
  // one that was on its way, and picture 25; each once, in order.
  EXPECT_LE(p.sink.shown.size(), 4u);
  for (std::size_t i = 1; i < p.sink.shown.size(); ++i)
    EXPECT_GT(p.sink.shown[i].timeHns, p.sink.shown[i - 1].timeHns);
  const PlaybackCounters counters = p.source.playbackCounters();
  EXPECT_EQ(counters.shown + counters.dropped, 26u);  // pictures 0 to 25
}

TEST(Playback, StopHaltsAtOnceAndThePreviewGoesOn) {
  Player p;
  ASSERT_EQ(p.Open(Ramp("sound.wmv", {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2"}, "3", true)),
            1);
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

}  // namespace
}  // namespace zel
