#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/MediaFixtures.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

using test::Join;
using test::MakeMedia;
using test::RecordingNotifier;
using test::TempDir;

constexpr std::int64_t kFrameHns = 400000;  // 25 fps

// Keeps what the preview delivered last.
class RecordingSink final : public PreviewSink {
 public:
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    ++shown;
    last = frame;
    const auto* centre = frame.pixels +
                         static_cast<std::ptrdiff_t>(frame.height / 2) * frame.bytesPerLine +
                         (frame.width / 2) * 4;
    std::memcpy(&centrePixel, centre, 4);
  }
  int shown = 0;
  PreviewFrame last;
  std::uint32_t centrePixel = 0;
};

// 25 fps; picture n is a flat grey of level 16 + 4 (n mod 50) in full range,
// so the picture on show tells its number.
std::string MakeRamp(const TempDir& dir, const std::string& name,
                     const std::vector<std::string>& codec, const std::string& seconds = "2") {
  const std::string path = dir.file(name);
  MakeMedia(Join({{"-f", "lavfi", "-i",
                   "nullsrc=s=160x120:r=25:d=" + seconds +
                       ",format=gray,geq=lum='16+4*mod(N\\,50)',format=yuv420p"},
                  codec,
                  {"-sc_threshold", "1000000000", path}}));
  return path;
}

// 640x480, red above blue, with sound.
std::string MakeRedOverBlue(const TempDir& dir) {
  const std::string path = dir.file("split.wmv");
  MakeMedia(Join({{"-f", "lavfi", "-i",
                   "color=c=red:s=640x240:r=25:d=1[a];color=c=blue:s=640x240:r=25:d=1[b];"
                   "[a][b]vstack[out0]"},
                  test::Tone(44100, "1"),
                  {"-c:v", "wmv2", "-q:v", "2", "-c:a", "wmav2", "-ac", "2", path}}));
  return path;
}

// The number of the ramp picture whose grey the pixel shows (0xffRRGGBB).
int RampPicture(std::uint32_t pixel) {
  return static_cast<int>(std::lround(((pixel & 0xff) - 16) / 4.0));
}

struct Preview {
  MediaSource source;
  RecordingSink sink;
  RecordingNotifier notifier;
  int Open(const std::string& path) { return source.OpenPreview(path, &sink, notifier); }
};

TEST(Preview, OpeningTellsWhatTheFileHolds) {
  TempDir dir;
  const std::string small = dir.file("small.wmv");
  MakeMedia(Join({test::Video("320x240", "25", "1"), {"-c:v", "wmv2", small}}));
  const std::string tone = dir.file("tone.wav");
  MakeMedia(Join({test::Tone(22050, "1.5"), {tone}}));
  const struct {
    std::string path;
    bool audio, video;
    int displayWidth, displayHeight;
    std::int64_t durationHns;
    int sampleRate, channels;
  } cases[] = {
      {MakeRedOverBlue(dir), true, true, 383, 288, 10000000, 44100, 2},
      {small, false, true, 320, 240, 10000000, 0, 0},
      {tone, true, false, 0, 0, 15000000, 22050, 1},
  };
  for (const auto& c : cases) {
    Preview p;
    ASSERT_EQ(p.Open(c.path), 1) << c.path;
    const MediaInfo& info = p.source.previewInfo();
    EXPECT_EQ(info.hasAudio, c.audio) << c.path;
    EXPECT_EQ(info.hasVideo, c.video) << c.path;
    EXPECT_EQ(info.displayWidth, c.displayWidth) << c.path;
    EXPECT_EQ(info.displayHeight, c.displayHeight) << c.path;
    EXPECT_NEAR(info.durationHns, c.durationHns, 1000000) << c.path;
    EXPECT_EQ(info.sampleRate, c.sampleRate) << c.path;
    EXPECT_EQ(info.channels, c.channels) << c.path;
    EXPECT_EQ(info.frameRate, c.video ? 25 : 0) << c.path;
    EXPECT_EQ(p.source.ShowFrameAt(0), c.video ? 1 : 0) << c.path;
    EXPECT_EQ(p.sink.shown, c.video ? 1 : 0) << c.path;
    EXPECT_EQ(p.sink.last.width, c.displayWidth) << c.path;
    EXPECT_EQ(p.source.LayoutVideoWindow(770, 312, 0).has_value(), c.video) << c.path;
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    EXPECT_EQ(p.source.GrabFrameAt(0, rgb, width, height), c.video) << c.path;
    EXPECT_TRUE(p.notifier.messages().empty()) << c.path;
  }
}

TEST(Preview, ShowsThePictureWhoseSpanHoldsThePosition) {
  TempDir dir;
  const std::vector<std::string> clips = {
      MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "10"}),
      MakeRamp(dir, "ramp.mpg",
               {"-c:v", "mpeg1video", "-q:v", "2", "-g", "25", "-bf", "2", "-f", "mpeg"}),
  };
  // Position (100-ns units), picture expected. Forwards and backwards, on
  // and beside picture boundaries and key frames, the last picture and after.
  const std::pair<std::int64_t, int> steps[] = {
      {0, 0},
      {kFrameHns - 1, 0},
      {kFrameHns, 1},
      {10 * kFrameHns - 1, 9},
      {10 * kFrameHns, 10},
      {30 * kFrameHns + kFrameHns / 2, 30},
      {22 * kFrameHns + 1, 22},
      {49 * kFrameHns + 1, 49},
      {80 * kFrameHns, 49},
      {25 * kFrameHns - 1, 24},
      {3 * kFrameHns, 3},
  };
  for (const std::string& clip : clips) {
    Preview p;
    ASSERT_EQ(p.Open(clip), 1) << clip;
    for (const auto& [position, picture] : steps) {
      ASSERT_EQ(p.source.ShowFrameAt(position), 1) << clip << " at " << position;
      EXPECT_EQ(RampPicture(p.sink.centrePixel), picture) << clip << " at " << position;
      EXPECT_EQ(p.sink.last.timeHns, picture * kFrameHns) << clip << " at " << position;
      EXPECT_EQ(p.sink.centrePixel >> 24, 0xffu) << clip;
      EXPECT_EQ(p.source.GetCurrentPosition(),
                std::min<std::int64_t>(position, p.source.previewInfo().durationHns));
    }
    EXPECT_EQ(p.sink.last.width, 160);
    EXPECT_EQ(p.sink.last.height, 120);
    EXPECT_GE(p.sink.last.bytesPerLine, 160 * 4);
  }
}

TEST(Preview, SteppingGoesOnWithTheOpenDecoder) {
  TempDir dir;
  Preview p;
  ASSERT_EQ(p.Open(MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2", "-g", "200"}, "8")), 1);
  ASSERT_EQ(p.source.ShowFrameAt(20 * kFrameHns), 1);
  const PreviewCounters before = p.source.previewCounters();
  for (int picture : {21, 22, 23, 27, 26, 24}) {
    ASSERT_EQ(p.source.ShowFrameAt(picture * kFrameHns + 1000), 1);
    EXPECT_EQ(RampPicture(p.sink.centrePixel), picture);
  }
  const PreviewCounters after = p.source.previewCounters();
  EXPECT_EQ(after.seeks, before.seeks);
  EXPECT_EQ(after.decodedFrames - before.decodedFrames, 7u);  // 21 to 28
  EXPECT_EQ(after.cachedAnswers - before.cachedAnswers, 2u);  // 26 and 24, decoded before
  // A look far away leaves this decoder where it stands for coming back.
  for (int picture : {150, 29}) {
    ASSERT_EQ(p.source.ShowFrameAt(picture * kFrameHns), 1);
    EXPECT_EQ(RampPicture(p.sink.centrePixel), picture % 50);
  }
  EXPECT_EQ(p.source.previewCounters().seeks, before.seeks + 1);
}

TEST(Preview, VideoRectangles) {
  const struct {
    VideoRect area;
    int width, height, adjustframe;
    VideoRect expected;
  } cases[] = {
      {{0, 0, 770, 312}, 383, 288, 0, {194, 12, 576, 300}},
      {{0, 0, 770, 312}, 320, 240, 0, {225, 36, 545, 276}},
      {{0, 0, 770, 312}, 383, 288, 1, {1, 1, 769, 311}},
      {{10, 20, 110, 80}, 200, 100, 0, {-40, 0, 160, 100}},  // larger than the area
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LayoutVideoRect(c.area, c.width, c.height, c.adjustframe), c.expected);
  }
}

TEST(Preview, LayoutSetsTheSizeOfThePictures) {
  TempDir dir;
  Preview p;
  ASSERT_EQ(p.Open(MakeRedOverBlue(dir)), 1);
  EXPECT_EQ(p.source.LayoutVideoWindow(770, 312, 0), (VideoRect{194, 12, 576, 300}));
  EXPECT_EQ(p.sink.shown, 0);  // nothing shown yet
  ASSERT_EQ(p.source.ShowFrameAt(5 * kFrameHns), 1);
  EXPECT_EQ(p.sink.last.width, 382);
  EXPECT_EQ(p.sink.last.height, 288);
  const std::int64_t shownHns = p.sink.last.timeHns;
  EXPECT_EQ(p.source.LayoutVideoWindow(770, 312, 1), (VideoRect{1, 1, 769, 311}));
  EXPECT_EQ(p.sink.shown, 2);  // the same picture again at the new size
  EXPECT_EQ(p.sink.last.width, 768);
  EXPECT_EQ(p.sink.last.height, 310);
  EXPECT_EQ(p.sink.last.timeHns, shownHns);
  p.source.LayoutVideoWindow(770, 312, 1);
  EXPECT_EQ(p.sink.shown, 2);
}

TEST(Preview, StillsComeAtTheDecodedSizeBottomRowFirst) {
  TempDir dir;
  Preview p;
  ASSERT_EQ(p.Open(MakeRedOverBlue(dir)), 1);
  std::vector<std::uint8_t> rgb;
  int width = 0, height = 0;
  ASSERT_TRUE(p.source.GrabFrameAt(7 * kFrameHns, rgb, width, height));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  ASSERT_EQ(rgb.size(), 640u * 480 * 3);
  const std::uint8_t* bottom = &rgb[(10 * 640 + 10) * 3];   // blue: B, G, R
  const std::uint8_t* top = &rgb[((470 * 640) + 630) * 3];  // red
  EXPECT_GT(bottom[0], 200);
  EXPECT_LT(bottom[2], 50);
  EXPECT_LT(top[0], 50);
  EXPECT_GT(top[2], 200);
  // The preview shows the grabbed picture.
  EXPECT_EQ(p.sink.shown, 1);
  EXPECT_LE(p.sink.last.timeHns, 7 * kFrameHns);
  EXPECT_GT(p.sink.last.timeHns, 6 * kFrameHns);
  EXPECT_EQ(p.source.GetCurrentPosition(), 7 * kFrameHns);
}

TEST(Preview, FilesThatDoNotOpenAreRefusedWithAMessage) {
  TempDir dir;
  std::vector<std::uint8_t> noise(50000);
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
  test::WriteFileBytes(dir.file("noise.wmv"), noise);
  for (const std::string& path : {dir.file("missing.wmv"), dir.file("noise.wmv")}) {
    Preview p;
    EXPECT_EQ(p.Open(path), -1) << path;
    EXPECT_EQ(p.notifier.messages(), std::vector<std::string>{"RenderFile Error."}) << path;
    EXPECT_FALSE(p.source.previewOpened());
    EXPECT_EQ(p.source.ShowFrameAt(0), 0);
    EXPECT_FALSE(p.source.LayoutVideoWindow(770, 312, 0).has_value());
    EXPECT_EQ(p.source.ClosePreview(), 0);
  }
}

TEST(Preview, ClosingAndOpeningAnother) {
  TempDir dir;
  Preview p;
  ASSERT_EQ(p.Open(MakeRedOverBlue(dir)), 1);
  ASSERT_EQ(p.source.ShowFrameAt(10 * kFrameHns), 1);
  EXPECT_EQ(p.source.ClosePreview(), 1);
  EXPECT_EQ(p.source.ClosePreview(), 0);
  EXPECT_EQ(p.source.ShowFrameAt(0), 0);
  EXPECT_EQ(p.source.GetCurrentPosition(), 0);
  EXPECT_FALSE(p.source.previewInfo().hasVideo);

  ASSERT_EQ(p.Open(MakeRamp(dir, "ramp.wmv", {"-c:v", "wmv2", "-q:v", "2"})), 1);
  ASSERT_EQ(p.source.ShowFrameAt(12 * kFrameHns), 1);
  EXPECT_EQ(RampPicture(p.sink.centrePixel), 12);
  EXPECT_EQ(p.sink.last.width, 160);
}

}  // namespace
}  // namespace zel
