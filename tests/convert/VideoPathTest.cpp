#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/MediaFixtures.h"
#include "common/VideoEncoding.h"
#include "container/ThreeGpWriter.h"

namespace zel {
namespace {

using test::EncodingSegment;

// Rates and sizes of 0 take the source's; H.263 takes five sizes only.
TEST(SetUpVideoSegment, ResolvesRatesSizesAndChecksH263) {
  using enum VideoKind;
  const struct {
    const char* name;
    VideoKind kind;
    int frameRate, width, height;  // settings
    std::int64_t sourceDurationHns;
    int sourceWidth, sourceHeight;
    int sourceFrameRate, targetFrameRate, targetWidth, targetHeight, frameCount;  // 0: refused
  } cases[] = {
      {"duration 0 is 30 fps", Mpeg4, 15, 176, 144, 0, 320, 240, 30, 15, 176, 144, 150},
      {"29.97 truncates", Mpeg4, 0, 0, 0, 333667, 320, 240, 29, 29, 320, 240, 290},
      {"settings 0 take the source's", Mpeg4, 0, 0, 0, 400000, 160, 120, 25, 25, 160, 120, 250},
      {"slower than 1 fps", Mpeg4, 0, 176, 144, 20000000, 320, 240, 0, 1, 176, 144, 10},
      {"h263 320x240 refused", H263, 15, 320, 240, 333333, 320, 240, 0, 0, 0, 0, 0},
      {"h263 from a 320x240 source", H263, 0, 0, 0, 333333, 320, 240, 0, 0, 0, 0, 0},
      {"h263 qcif", H263, 15, 176, 144, 333333, 320, 240, 30, 15, 176, 144, 150},
      {"h263 sqcif", H263, 10, 128, 96, 333333, 320, 240, 30, 10, 128, 96, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EncodingSegment s(c.kind, c.frameRate, c.width, c.height,
                      {c.sourceDurationHns, c.sourceWidth, c.sourceHeight});
    ASSERT_EQ(s.ok, c.frameCount != 0);
    if (!s.ok) {
      EXPECT_EQ(s.notifier.messages(),
                std::vector<std::string>{"h263:128x96,176x144,352x288,704x576,1408x1152\n"});
      continue;
    }
    const VideoSegmentInfo& info = s.info;
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
  for (auto [frameDurationHns, fps, pictures] :
       {std::tuple{333333, 30.0, "101010101010101010101010101010"},
        {1000000, 10.0, "11212121212"}}) {
    EncodingSegment s(VideoKind::Mpeg4, 15, 128, 96, {frameDurationHns, 128, 96});
    ASSERT_TRUE(s.ok);
    std::string given;
    for (int n = 0; n < static_cast<int>(std::strlen(pictures)); ++n)
      given += std::to_string(s.Deliver(n, fps));
    EXPECT_EQ(given, pictures);
    s.grabber.CloseVideoEncoder();
    EXPECT_EQ(s.grabber.flushedPackets(), 0u);  // no B-frames: every picture came out at once
    EXPECT_EQ(s.store.samples.sampleCount(), s.grabber.frameCount());
    // Closing reset the context with the job's parameters for the next segment.
    EXPECT_FALSE(avcodec_is_open(s.context.get()));
    EXPECT_EQ(s.context.frameRate(), 15);
  }
}

// The first delivered frame is kept raw; elapsed time counts from its clock.
// Short buffers and frames after an abort encode nothing; the caption shows
// the segment and the time.
TEST(VideoGrabber, FirstFrameShortBuffersAbortAndCaption) {
  EncodingSegment s(VideoKind::Mpeg4, 15, 128, 96, {333333, 160, 120});
  ASSERT_TRUE(s.ok);
  test::RecordingNotifier window;
  s.state.statusWindow = &window;
  s.state.segmentIndex = 3;
  const std::vector<std::uint8_t> first = test::MovingFrame(160, 120, 7),
                                  second = test::MovingFrame(160, 120, 8);
  s.grabber.BufferCB(65.5, first.data(), first.size() - 1);
  s.state.abortRequested = true;
  s.grabber.BufferCB(65.5, first.data(), first.size());
  EXPECT_EQ(s.grabber.frameCount(), 0u);
  s.state.abortRequested = false;
  s.grabber.BufferCB(65.5, first.data(), first.size());
  EXPECT_EQ(s.grabber.frameCount(), 1u);
  EXPECT_EQ(window.captions().back(), "file:000003 video 変換中 sampletime:01:05");
  ASSERT_EQ(s.grabber.firstFrame().size(), 160u * 120 * 3);
  s.grabber.BufferCB(65.5 + 1 / 30.0, second.data(), second.size());
  EXPECT_EQ(s.grabber.frameCount(), 1u);
  s.grabber.BufferCB(65.5 + 2 / 30.0 + 1e-7, second.data(), second.size());
  EXPECT_EQ(s.grabber.frameCount(), 2u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), s.grabber.firstFrame().begin()));
}

// A segment of length 0 reserves 200000 bytes; noise at CIF needs far more.
TEST(VideoGrabber, DataOutgrowsItsEstimateWithoutLoss) {
  EncodingSegment s(VideoKind::Mpeg4, 15, 352, 288, {666666, 352, 288}, 0);
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
  EncodingSegment s(VideoKind::Mpeg4, 15, 176, 144, {333333, 176, 144}, 10000000, {},
                    [](AVCodecContext* c) { c->pix_fmt = AV_PIX_FMT_RGB24; });  // yuv420p only
  EXPECT_FALSE(s.ok);
  ASSERT_EQ(s.notifier.messages().size(), 1u);
  EXPECT_NE(s.notifier.messages()[0].find("mpeg4"), std::string::npos) << s.notifier.messages()[0];
}

// An encoder that holds pictures back (B-frames) gives them up when drained:
// they must be in the store before the files are written.
TEST(VideoGrabber, HeldPicturesReachTheFileWhenDrainedBeforeWriting) {
  EncodingSegment s(VideoKind::Mpeg4, 10, 176, 144, {1000000, 176, 144}, 20000000, {},
                    [](AVCodecContext* c) { c->max_b_frames = 2; });
  ASSERT_TRUE(s.ok);
  for (int n = 0; n < 20; ++n) s.Deliver(n, 10.0);
  EXPECT_LT(s.store.samples.sampleCount(), 20u);
  s.grabber.FlushVideoEncoder();
  EXPECT_GT(s.grabber.flushedPackets(), 0u);
  test::TempDir dir;
  ASSERT_NE(ThreeGpWriter(AudioTrackBuffer(), s.store, dir.file("held.wmv"), FileKind::ThreeGp),
            0u);
  s.grabber.CloseVideoEncoder();
  EXPECT_EQ(test::Probe(dir.file("held.3gp"), "stream=nb_read_packets", {"-count_packets"}), "20");
}

}  // namespace
}  // namespace zel
