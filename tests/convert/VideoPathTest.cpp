#include <gtest/gtest.h>

#include "convert/VideoPath.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <random>
#include <vector>

#include "common/TestSupport.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"

namespace zel {
namespace {

using test::RecordingNotifier;

ConversionParameters Params(VideoKind kind, int frameRate, int width, int height) {
  ConversionParameters p;
  p.videoKind = kind;
  p.frameRate = frameRate;
  p.width = width;
  p.height = height;
  return p;
}

// A YV12 frame whose content moves with n.
std::vector<std::uint8_t> Frame(int w, int h, int n) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(w) * h * 3 / 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f[y * w + x] = static_cast<std::uint8_t>((x + y + 3 * n) & 0xff);
  for (std::size_t i = static_cast<std::size_t>(w) * h; i < f.size(); ++i)
    f[i] = static_cast<std::uint8_t>(100 + (n & 31));
  return f;
}

// One encoder and grabber over a segment, frames delivered by the test.
class Segment {
 public:
  Segment(VideoKind kind, int frameRate, int width, int height, std::int64_t frameDurationHns,
          int sourceWidth, int sourceHeight, std::int64_t lengthHns = 100000000) {
    ResetVideoEncoderContext(context, Params(kind, frameRate, width, height), audio);
    VideoSourceFormat source{frameDurationHns, sourceWidth, sourceHeight};
    ok = SetUpVideoSegment(context, source, lengthHns, info, notifier) &&
         grabber.OpenVideoEncoder(context, info, notifier);
  }
  // Delivers frame n at n / fps seconds; returns how many pictures it encoded.
  std::uint32_t Deliver(int n, double fps) {
    std::uint32_t before = grabber.frameCount();
    std::vector<std::uint8_t> f = Frame(info.sourceWidth, info.sourceHeight, n);
    grabber.BufferCB(n / fps, f.data(), f.size());
    return grabber.frameCount() - before;
  }

  VideoEncoderContext context;
  AudioParameterBlock audio;
  ConversionState state;
  VideoTrackBuffer store;
  VideoGrabber grabber{store, state};
  RecordingNotifier notifier;
  VideoSegmentInfo info;
  bool ok = false;
};

struct SetUpCase {
  const char* name;
  VideoKind kind;
  int frameRate, width, height;  // settings
  std::int64_t sourceDurationHns;
  int sourceWidth, sourceHeight;
  int sourceFrameRate, targetFrameRate, targetWidth, targetHeight, frameCount;  // 0: refused
};

// Rates and sizes of 0 take the source's; H.263 takes five sizes only.
TEST(SetUpVideoSegment, ResolvesRatesSizesAndChecksH263) {
  using enum VideoKind;
  const SetUpCase cases[] = {
      {"duration 0 is 30 fps", Mpeg4, 15, 176, 144, 0, 320, 240, 30, 15, 176, 144, 150},
      {"29.97 truncates", Mpeg4, 0, 0, 0, 333667, 320, 240, 29, 29, 320, 240, 290},
      {"settings 0 take the source's", Mpeg4, 0, 0, 0, 400000, 160, 120, 25, 25, 160, 120, 250},
      {"slower than 1 fps", Mpeg4, 0, 176, 144, 20000000, 320, 240, 0, 1, 176, 144, 10},
      {"h263 320x240 refused", H263, 15, 320, 240, 333333, 320, 240, 0, 0, 0, 0, 0},
      {"h263 from a 320x240 source", H263, 0, 0, 0, 333333, 320, 240, 0, 0, 0, 0, 0},
      {"h263 qcif", H263, 15, 176, 144, 333333, 320, 240, 30, 15, 176, 144, 150},
      {"h263 sqcif", H263, 10, 128, 96, 333333, 320, 240, 30, 10, 128, 96, 100},
  };
  for (const SetUpCase& c : cases) {
    SCOPED_TRACE(c.name);
    Segment s(c.kind, c.frameRate, c.width, c.height, c.sourceDurationHns, c.sourceWidth,
              c.sourceHeight);
    const bool ok = s.ok;
    const VideoSegmentInfo& info = s.info;
    ASSERT_EQ(ok, c.frameCount != 0);
    if (!ok) {
      EXPECT_EQ(s.notifier.messages(),
                std::vector<std::string>{"h263:128x96,176x144,352x288,704x576,1408x1152\n"});
      continue;
    }
    EXPECT_TRUE(s.notifier.messages().empty());
    EXPECT_EQ(std::make_tuple(info.sourceFrameRate, info.targetFrameRate, info.targetWidth,
                              info.targetHeight, info.frameCount, info.bitRate),
              std::make_tuple(c.sourceFrameRate, c.targetFrameRate, c.targetWidth, c.targetHeight,
                              c.frameCount, 200000));
    EXPECT_EQ(s.context.frameRate(), c.targetFrameRate);
    EXPECT_EQ(info.xRatio, 10000 * c.targetWidth / c.sourceWidth);
    EXPECT_EQ(info.yRatio, 10000 * c.targetHeight / c.sourceHeight);
    EXPECT_EQ(s.context.frameSize(), c.targetWidth * c.targetHeight * 3 / 2);
  }
}

// The output clock drops frames of a faster source and repeats those of a
// slower one: per delivered frame, the pictures it gave.
TEST(VideoGrabber, OutputClockDropsAndRepeats) {
  struct Case {
    std::int64_t frameDurationHns;
    double fps;
    std::string pictures;
  };
  for (const Case& c :
       {Case{333333, 30.0, "101010101010101010101010101010"}, Case{1000000, 10.0, "11212121212"}}) {
    Segment s(VideoKind::Mpeg4, 15, 128, 96, c.frameDurationHns, 128, 96);
    ASSERT_TRUE(s.ok);
    std::string pictures;
    for (int n = 0; n < static_cast<int>(c.pictures.size()); ++n)
      pictures += std::to_string(s.Deliver(n, c.fps));
    EXPECT_EQ(pictures, c.pictures);
    s.grabber.CloseVideoEncoder();
    EXPECT_EQ(s.grabber.flushedPackets(), 0u);  // no B-frames: every picture came out at once
    EXPECT_EQ(s.store.samples.sampleCount(), s.grabber.frameCount());
    // Closing reset the context with the job's parameters for the next segment.
    EXPECT_FALSE(avcodec_is_open(s.context.get()));
    EXPECT_EQ(s.context.frameRate(), 15);
  }
}

// The first delivered frame is kept raw; elapsed time counts from its clock.
TEST(VideoGrabber, FirstFrameIsKeptRawWithItsTime) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 333333, 160, 120);
  ASSERT_TRUE(s.ok);
  std::vector<std::uint8_t> first = Frame(160, 120, 7), second = Frame(160, 120, 8);
  s.grabber.BufferCB(2.5, first.data(), first.size());
  EXPECT_EQ(s.grabber.frameCount(), 1u);
  ASSERT_EQ(s.grabber.firstFrame().size(), 160u * 120 * 3);
  s.grabber.BufferCB(2.5 + 1 / 30.0, second.data(), second.size());
  EXPECT_EQ(s.grabber.frameCount(), 1u);
  s.grabber.BufferCB(2.5 + 2 / 30.0 + 1e-7, second.data(), second.size());
  EXPECT_EQ(s.grabber.frameCount(), 2u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), s.grabber.firstFrame().begin()));
}

TEST(VideoGrabber, ShortBuffersAndAbortEncodeNothingAndTheCaptionShowsTheTime) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 333333, 160, 120);
  ASSERT_TRUE(s.ok);
  RecordingNotifier window;
  s.state.statusWindow = &window;
  s.state.segmentIndex = 3;
  std::vector<std::uint8_t> f = Frame(160, 120, 0);
  s.grabber.BufferCB(65.5, f.data(), f.size() - 1);
  EXPECT_EQ(s.grabber.frameCount(), 0u);
  s.state.abortRequested = true;
  s.grabber.BufferCB(65.5, f.data(), f.size());
  EXPECT_EQ(s.grabber.frameCount(), 0u);
  s.state.abortRequested = false;
  s.grabber.BufferCB(65.5, f.data(), f.size());
  EXPECT_EQ(s.grabber.frameCount(), 1u);
  EXPECT_EQ(window.captions().back(), "file:000003 video 変換中 sampletime:01:05");
}

// A segment of length 0 reserves 200000 bytes; noise at CIF needs far more.
TEST(VideoGrabber, DataOutgrowsItsEstimateWithoutLoss) {
  Segment s(VideoKind::Mpeg4, 15, 352, 288, 666666, 352, 288, 0);
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.info.frameCount, 0);
  std::mt19937 rng(7);
  std::vector<std::uint8_t> f(352 * 288 * 3 / 2);
  for (int n = 0; n < 30; ++n) {
    for (auto& b : f) b = static_cast<std::uint8_t>(rng());
    s.grabber.BufferCB(n / 15.0, f.data(), f.size());
  }
  s.grabber.CloseVideoEncoder();
  ASSERT_EQ(s.store.samples.sampleCount(), 30u);
  EXPECT_GT(s.store.samples.totalBytes(), 2u * 200000);
  std::uint64_t sum = 0;
  for (std::uint32_t size : s.store.samples.sampleSizes()) sum += size;
  EXPECT_EQ(sum, s.store.samples.totalBytes());
}

TEST(VideoGrabber, RefusalToOpenIsReported) {
  VideoEncoderContext context;
  AudioParameterBlock audio;
  ResetVideoEncoderContext(context, Params(VideoKind::Mpeg4, 15, 176, 144), audio);
  RecordingNotifier notifier;
  VideoSegmentInfo info;
  ASSERT_TRUE(SetUpVideoSegment(context, {333333, 176, 144}, 10000000, info, notifier));
  context.get()->pix_fmt = AV_PIX_FMT_RGB24;  // the encoder takes only yuv420p
  ConversionState state;
  VideoTrackBuffer store;
  VideoGrabber grabber(store, state);
  EXPECT_FALSE(grabber.OpenVideoEncoder(context, info, notifier));
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_NE(notifier.messages()[0].find("mpeg4"), std::string::npos) << notifier.messages()[0];
}

}  // namespace
}  // namespace zel
