#include <gtest/gtest.h>

#include "convert/VideoPath.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <vector>

#include "common/TestSupport.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"

namespace zel {
namespace {

using test::RecordingNotifier;

constexpr const char* kH263Message = "h263:128x96,176x144,352x288,704x576,1408x1152\n";

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

TEST(VideoEncoderContext, CarriesTheFixedParameters) {
  VideoEncoderContext context;
  AudioParameterBlock audio;
  audio.sampleRate = 44100;
  audio.decoderConfig = {1, 2};
  ResetVideoEncoderContext(context, Params(VideoKind::Mpeg4, 15, 176, 144), audio);
  EXPECT_EQ(audio.sampleRate, 0);
  EXPECT_TRUE(audio.decoderConfig.empty());
  AVCodecContext* c = context.get();
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->codec->name, "mpeg4");
  EXPECT_EQ(c->bit_rate, 200000);
  EXPECT_EQ(c->bit_rate_tolerance, 4000000);
  EXPECT_EQ(c->flags, AV_CODEC_FLAG_GLOBAL_HEADER);
  EXPECT_EQ(c->time_base.num, 1);
  EXPECT_EQ(c->time_base.den, 15);
  EXPECT_EQ(c->gop_size, 12);
  EXPECT_EQ(c->max_b_frames, 0);
  EXPECT_EQ(c->qmin, 2);
  EXPECT_EQ(c->qmax, 31);
  EXPECT_EQ(c->max_qdiff, 3);
  EXPECT_FLOAT_EQ(c->i_quant_factor, -0.8f);
  EXPECT_EQ(c->mb_lmin, 236);
  EXPECT_EQ(c->mb_lmax, 3658);
  EXPECT_EQ(c->me_subpel_quality, 8);
  EXPECT_EQ(c->thread_count, 1);
  EXPECT_EQ(c->profile, FF_PROFILE_UNKNOWN);
  std::int64_t value = 0;
  ASSERT_GE(av_opt_get_int(c->priv_data, "motion_est", 0, &value), 0);
  EXPECT_EQ(value, 1);  // epzs
  ASSERT_GE(av_opt_get_int(c->priv_data, "lmin", 0, &value), 0);
  EXPECT_EQ(value, 236);
  std::uint8_t* eq = nullptr;
  ASSERT_GE(av_opt_get(c->priv_data, "rc_eq", 0, &eq), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(eq), "tex^qComp");
  av_free(eq);

  ResetVideoEncoderContext(context, Params(VideoKind::H263, 0, 0, 0), audio);
  EXPECT_STREQ(context.get()->codec->name, "h263");
  EXPECT_EQ(context.kind(), VideoKind::H263);
  EXPECT_EQ(context.frameRate(), 0);
}

struct SetUpCase {
  const char* name;
  VideoKind kind;
  int frameRate, width, height;  // settings
  std::int64_t sourceDurationHns;
  int sourceWidth, sourceHeight;
  bool accepted;
  int sourceFrameRate, targetFrameRate, targetWidth, targetHeight, frameCount;
};

TEST(SetUpVideoSegment, ResolvesRatesSizesAndChecksH263) {
  const std::int64_t lengthHns = 100000000;  // 10 s
  const SetUpCase cases[] = {
      {"duration 0 is 30 fps", VideoKind::Mpeg4, 15, 176, 144, 0, 320, 240, true, 30, 15, 176, 144,
       150},
      {"29.97 truncates", VideoKind::Mpeg4, 0, 0, 0, 333667, 320, 240, true, 29, 29, 320, 240, 290},
      {"settings 0 take the source's", VideoKind::Mpeg4, 0, 0, 0, 400000, 160, 120, true, 25, 25,
       160, 120, 250},
      {"slower than 1 fps", VideoKind::Mpeg4, 0, 176, 144, 20000000, 320, 240, true, 0, 1, 176, 144,
       10},
      {"h263 320x240 refused", VideoKind::H263, 15, 320, 240, 333333, 320, 240, false, 0, 0, 0, 0,
       0},
      {"h263 from a 320x240 source", VideoKind::H263, 0, 0, 0, 333333, 320, 240, false, 0, 0, 0, 0,
       0},
      {"h263 qcif", VideoKind::H263, 15, 176, 144, 333333, 320, 240, true, 30, 15, 176, 144, 150},
      {"h263 sqcif", VideoKind::H263, 10, 128, 96, 333333, 320, 240, true, 30, 10, 128, 96, 100},
  };
  for (const SetUpCase& c : cases) {
    SCOPED_TRACE(c.name);
    VideoEncoderContext context;
    AudioParameterBlock audio;
    ResetVideoEncoderContext(context, Params(c.kind, c.frameRate, c.width, c.height), audio);
    RecordingNotifier notifier;
    VideoSegmentInfo info;
    VideoSourceFormat source{c.sourceDurationHns, c.sourceWidth, c.sourceHeight};
    bool ok = SetUpVideoSegment(context, source, lengthHns, info, notifier);
    ASSERT_EQ(ok, c.accepted);
    if (!ok) {
      EXPECT_EQ(notifier.messages(), std::vector<std::string>{kH263Message});
      continue;
    }
    EXPECT_TRUE(notifier.messages().empty());
    EXPECT_EQ(info.sourceFrameRate, c.sourceFrameRate);
    EXPECT_EQ(info.targetFrameRate, c.targetFrameRate);
    EXPECT_EQ(context.frameRate(), c.targetFrameRate);
    EXPECT_EQ(info.targetWidth, c.targetWidth);
    EXPECT_EQ(info.targetHeight, c.targetHeight);
    EXPECT_EQ(info.frameCount, c.frameCount);
    EXPECT_EQ(info.bitRate, 200000);
    EXPECT_EQ(info.xRatio, 10000 * c.targetWidth / c.sourceWidth);
    EXPECT_EQ(info.yRatio, 10000 * c.targetHeight / c.sourceHeight);
    EXPECT_EQ(context.frameSize(), c.targetWidth * c.targetHeight * 3 / 2);
  }
}

// One encoder and grabber over a segment, frames delivered by the test.
class Segment {
 public:
  Segment(VideoKind kind, int frameRate, int width, int height, std::int64_t frameDurationHns,
          int sourceWidth, int sourceHeight, std::int64_t lengthHns = 100000000) {
    ResetVideoEncoderContext(context_, Params(kind, frameRate, width, height), audio_);
    VideoSourceFormat source{frameDurationHns, sourceWidth, sourceHeight};
    ok_ = SetUpVideoSegment(context_, source, lengthHns, info_, notifier_) &&
          grabber_.OpenVideoEncoder(context_, info_, notifier_);
  }
  bool ok() const { return ok_; }
  VideoGrabber& grabber() { return grabber_; }
  VideoTrackBuffer& store() { return store_; }
  ConversionState& state() { return state_; }
  const VideoSegmentInfo& info() const { return info_; }
  VideoEncoderContext& context() { return context_; }
  RecordingNotifier& notifier() { return notifier_; }

  // Delivers frame n at n / fps seconds; returns how many pictures it encoded.
  std::uint32_t Deliver(int n, double fps) {
    std::uint32_t before = grabber_.frameCount();
    std::vector<std::uint8_t> f = Frame(info_.sourceWidth, info_.sourceHeight, n);
    grabber_.BufferCB(n / fps, f.data(), f.size());
    return grabber_.frameCount() - before;
  }

 private:
  VideoEncoderContext context_;
  AudioParameterBlock audio_;
  ConversionState state_;
  VideoTrackBuffer store_;
  VideoGrabber grabber_{store_, state_};
  RecordingNotifier notifier_;
  VideoSegmentInfo info_;
  bool ok_ = false;
};

TEST(VideoGrabber, ThirtyToFifteenDropsEverySecondFrame) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 333333, 128, 96);
  ASSERT_TRUE(s.ok());
  for (int n = 0; n < 30; ++n) EXPECT_EQ(s.Deliver(n, 30.0), n % 2 == 0 ? 1u : 0u) << n;
  EXPECT_EQ(s.grabber().frameCount(), 15u);
  s.grabber().CloseVideoEncoder();
  EXPECT_EQ(s.grabber().flushedPackets(), 0u);
  EXPECT_EQ(s.store().samples.sampleCount(), 15u);
}

TEST(VideoGrabber, TenToFifteenRepeatsOnceAndTwiceAlternately) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 1000000, 128, 96);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(s.Deliver(0, 10.0), 1u);  // the first frame at clock 0
  for (int n = 1; n < 11; ++n) EXPECT_EQ(s.Deliver(n, 10.0), n % 2 == 1 ? 1u : 2u) << n;
  EXPECT_EQ(s.grabber().frameCount(), 16u);
  s.grabber().CloseVideoEncoder();
  EXPECT_EQ(s.grabber().flushedPackets(), 0u);
}

TEST(VideoGrabber, EveryPictureComesOutAtOnceAndKeyFramesEveryTwelve) {
  for (VideoKind kind : {VideoKind::Mpeg4, VideoKind::H263}) {
    Segment s(kind, 15, 176, 144, 666666, 320, 240);
    ASSERT_TRUE(s.ok());
    for (int n = 0; n < 30; ++n) ASSERT_EQ(s.Deliver(n, 15.0), 1u) << n;
    s.grabber().CloseVideoEncoder();
    EXPECT_EQ(s.grabber().flushedPackets(), 0u);
    EXPECT_EQ(s.store().samples.sampleCount(), 30u);
    EXPECT_EQ(s.store().syncSamples, (std::vector<std::uint32_t>{1, 13, 25}));
    EXPECT_TRUE(s.store().present);
    EXPECT_EQ(s.store().kind, kind);
    EXPECT_EQ(s.store().stream.width, 176);
    EXPECT_EQ(s.store().stream.frameRate, 15);
    EXPECT_EQ(s.store().stream.bitRate, 200000);
    EXPECT_EQ(s.store().stream.encoderName, kind == VideoKind::H263 ? "h263" : "mpeg4");
    if (kind == VideoKind::Mpeg4) {
      EXPECT_FALSE(s.store().stream.decoderConfig.empty());
    }
    // Closing reset the context with the job's parameters for the next segment.
    ASSERT_NE(s.context().get(), nullptr);
    EXPECT_FALSE(avcodec_is_open(s.context().get()));
    EXPECT_EQ(s.context().frameRate(), 15);
  }
}

TEST(VideoGrabber, FirstFrameIsKeptRawWithItsTime) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 333333, 160, 120);
  ASSERT_TRUE(s.ok());
  std::vector<std::uint8_t> first = Frame(160, 120, 7);
  // The graph's clock does not start at 0: elapsed time counts from here.
  s.grabber().BufferCB(2.5, first.data(), first.size());
  EXPECT_EQ(s.grabber().frameCount(), 1u);
  ASSERT_EQ(s.grabber().firstFrame().size(), 160u * 120 * 3);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), s.grabber().firstFrame().begin()));
  std::vector<std::uint8_t> second = Frame(160, 120, 8);
  s.grabber().BufferCB(2.5 + 1 / 30.0, second.data(), second.size());
  EXPECT_EQ(s.grabber().frameCount(), 1u);
  s.grabber().BufferCB(2.5 + 2 / 30.0 + 1e-7, second.data(), second.size());
  EXPECT_EQ(s.grabber().frameCount(), 2u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), s.grabber().firstFrame().begin()));
}

TEST(VideoGrabber, ShortBuffersAndAbortEncodeNothing) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 333333, 160, 120);
  ASSERT_TRUE(s.ok());
  std::vector<std::uint8_t> f = Frame(160, 120, 0);
  s.grabber().BufferCB(0.0, f.data(), f.size() - 1);
  EXPECT_EQ(s.grabber().frameCount(), 0u);
  s.state().abortRequested = true;
  s.grabber().BufferCB(0.0, f.data(), f.size());
  EXPECT_EQ(s.grabber().frameCount(), 0u);
  s.state().abortRequested = false;
  s.grabber().BufferCB(0.0, f.data(), f.size());
  EXPECT_EQ(s.grabber().frameCount(), 1u);
}

TEST(VideoGrabber, CaptionShowsSegmentAndSampleTime) {
  Segment s(VideoKind::Mpeg4, 15, 128, 96, 333333, 128, 96);
  ASSERT_TRUE(s.ok());
  RecordingNotifier window;
  s.state().statusWindow = &window;
  s.state().segmentIndex = 3;
  std::vector<std::uint8_t> f = Frame(128, 96, 0);
  s.grabber().BufferCB(65.5, f.data(), f.size());
  EXPECT_EQ(window.captions(),
            std::vector<std::string>{"file:000003 video 変換中 sampletime:01:05"});
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
