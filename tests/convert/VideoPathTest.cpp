// The video path: segment set-up, the output clock and the encoder;
// keepaspect and smoothscale (where the picture goes in the frame, what the
// encoder is given). And the audio path: segment set-up and the frames taken
// from the temporary WAV. Whole conversions of both paths are in AvSyncTest.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "container/ThreeGpWriter.h"
#include "convert/AudioPath.h"
#include "convert/ConversionParameters.h"
#include "convert/PictureFit.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"
#include "convert/WorkFiles.h"

namespace zel {
namespace {

// One video encoder over a segment, fed with frames made by the test.
// A YV12 frame (planes Y, V, U) of a gradient with a bright box that moves
// right with n; the chroma moves with n too.
std::vector<std::uint8_t> MovingFrame(int w, int h, int n) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(w) * h * 3 / 2);
  const int boxX = (4 * n) % std::max(1, w - 32), boxY = h / 3;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inBox = x >= boxX && x < boxX + 32 && y >= boxY && y < boxY + 32;
      f[y * w + x] = static_cast<std::uint8_t>(inBox ? 235 : 16 + (x + 2 * y + 3 * n) % 160);
    }
  std::fill(f.begin() + w * h, f.end(), static_cast<std::uint8_t>(100 + (n & 31)));
  return f;
}

struct EncodingSegment {
  // tweak changes the encoder's context before it opens.
  EncodingSegment(VideoKind kind, int frameRate, int width, int height, VideoSourceFormat source,
                  std::int64_t lengthHns = 100000000, VideoScaling scaling = {},
                  const std::function<void(AVCodecContext*)>& tweak = {}) {
    ConversionParameters p;
    p.videoKind = kind, p.frameRate = frameRate, p.width = width, p.height = height;
    ResetVideoEncoderContext(context, p, audio);
    ok = test::Told(notifier, SetUpVideoSegment(context, source, lengthHns, info, scaling));
    if (tweak) tweak(context.get());
    ok = ok && test::Told(notifier, grabber.OpenVideoEncoder(context, info));
  }
  // Delivers frame n at start + n / fps seconds; returns how many pictures
  // that encoded.
  std::uint32_t Deliver(int n, double fps, double start = 0) {
    const std::uint32_t before = grabber.frameCount();
    const std::vector<std::uint8_t> f = MovingFrame(info.sourceWidth, info.sourceHeight, n);
    grabber.BufferCB(start + n / fps, f.data(), f.size());
    return grabber.frameCount() - before;
  }
  // The pictures stored so far, written as dir's "v.3gp".
  std::string Written(const test::TempDir& dir) {
    EXPECT_NE(ThreeGpWriter({}, store, dir.file("v.wmv"), FileKind::ThreeGp).size, 0u);
    return dir.file("v.3gp");
  }

  VideoEncoderContext context;
  AudioParameterBlock audio;
  ConversionState state;
  VideoTrackBuffer store;
  VideoGrabber grabber{store, state};
  test::RecordingNotifier notifier;
  VideoSegmentInfo info;
  bool ok = false;
};

// The finest quantiser for every picture.
void FineQuantiser(AVCodecContext* c) {
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = 2 * FF_QP2LAMBDA;
}

// Rates and sizes of 0 take the source's, the rate exactly where the source
// declares its fraction; H.263 takes five sizes only. frameCount is the
// segment's ticks (10 s).
TEST(SetUpVideoSegment, ResolvesRatesSizesAndChecksH263) {
  using enum VideoKind;
  const struct {
    const char* name;
    VideoKind kind;
    int frameRate, width, height;  // settings
    std::int64_t sourceDurationHns;
    int sourceNum, sourceDen;  // the exact rate the source declares; 0: none
    int sourceWidth, sourceHeight;
    int sourceFrameRate, targetFrameRate, targetWidth, targetHeight, frameCount;  // 0: refused
    int clockNum, clockDen;  // the output clock's exact rate
  } cases[] = {
      {"duration 0 is 30 fps", Mpeg4, 15, 176, 144, 0, 0, 0, 320, 240, 30, 15, 176, 144, 150, 15,
       1},
      {"29.97 without its fraction", Mpeg4, 0, 0, 0, 333667, 0, 0, 320, 240, 29, 29, 320, 240, 290,
       29, 1},
      {"30000/1001 kept", Mpeg4, 0, 0, 0, 333667, 30000, 1001, 320, 240, 29, 29, 320, 240, 300,
       30000, 1001},
      {"24000/1001 kept", Mpeg4, 0, 0, 0, 417083, 48000, 2002, 320, 240, 23, 23, 320, 240, 240,
       24000, 1001},
      {"h263 keeps 30000/1001", H263, 0, 176, 144, 333667, 30000, 1001, 320, 240, 29, 29, 176, 144,
       300, 30000, 1001},
      {"a chosen rate stays", Mpeg4, 15, 176, 144, 333667, 30000, 1001, 320, 240, 29, 15, 176, 144,
       150, 15, 1},
      {"settings 0 take the source's", Mpeg4, 0, 0, 0, 400000, 25, 1, 160, 120, 25, 25, 160, 120,
       250, 25, 1},
      {"60 fps kept", Mpeg4, 0, 176, 144, 166667, 60, 1, 320, 240, 59, 60, 176, 144, 600, 60, 1},
      {"slower than 1 fps", Mpeg4, 0, 176, 144, 20000000, 1, 2, 320, 240, 0, 1, 176, 144, 10, 1, 1},
      {"h263 320x240 refused", H263, 15, 320, 240, 333333, 0, 0, 320, 240, 0, 0, 0, 0, 0, 0, 0},
      {"h263 from a 320x240 source", H263, 0, 0, 0, 333333, 0, 0, 320, 240, 0, 0, 0, 0, 0, 0, 0},
      {"h263 qcif", H263, 15, 176, 144, 333333, 0, 0, 320, 240, 30, 15, 176, 144, 150, 15, 1},
      {"h263 sqcif", H263, 10, 128, 96, 333333, 0, 0, 320, 240, 30, 10, 128, 96, 100, 10, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EncodingSegment s(
        c.kind, c.frameRate, c.width, c.height,
        {c.sourceDurationHns, c.sourceWidth, c.sourceHeight, 0, c.sourceNum, c.sourceDen});
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
    EXPECT_EQ(std::make_pair(s.context.frameRateNum(), s.context.frameRateDen()),
              std::make_pair(c.clockNum, c.clockDen));
    EXPECT_EQ(info.xRatio, 10000 * c.targetWidth / c.sourceWidth);
    EXPECT_EQ(info.yRatio, 10000 * c.targetHeight / c.sourceHeight);
    EXPECT_EQ(s.context.frameSize(), c.targetWidth * c.targetHeight * 3 / 2);
  }
  // A segment's ticks lie on the clock of the whole range: sixty 1-s
  // segments at 24000/1001 take 1439 pictures (23.976 a second), not 60 x 24.
  EncodingSegment s(VideoKind::Mpeg4, 0, 176, 144, {417083, 176, 144, 23, 24000, 1001});
  int pictures = 0;
  for (std::int64_t second = 0; second < 60; ++second) {
    ASSERT_EQ(
        SetUpVideoSegment(s.context, {0, 176, 144}, 10000000, s.info, {}, second * 10000000).kind,
        FaultKind::kNone);
    pictures += s.info.frameCount;
  }
  EXPECT_EQ(pictures, 1439);
}

// The output clock from the segment's start: per delivered frame, the
// pictures the one before it gave (each goes to the tick nearest its time,
// so faster sources lose pictures and slower ones repeat them); the last one
// fills the segment's ticks when it ends. The first picture, at 0.05 s, also
// fills the ticks before it.
TEST(VideoGrabber, OutputClockDropsRepeatsAndHolds) {
  const struct {
    int num, den, target;  // the source's rate, the output's (0: the source's)
    const char* pictures;
  } cases[] = {
      {30, 1, 15, "0110101010101010101010101010101"},
      {10, 1, 15, "02212121212"},
      {30000, 1001, 0, "0311111111111111111111111111111"},
      {24000, 1001, 30, "03112111211121112111211121"},
  };
  for (const auto& c : cases) {
    EncodingSegment s(VideoKind::Mpeg4, c.target, 128, 96,
                      {10000000LL * c.den / c.num, 128, 96, 0, c.num, c.den}, 20000000);
    ASSERT_TRUE(s.ok);
    std::string given;
    for (int n = 0; n < static_cast<int>(std::strlen(c.pictures)); ++n)
      given += std::to_string(s.Deliver(n, double(c.num) / c.den, 0.05));
    EXPECT_EQ(given, c.pictures) << c.num << "/" << c.den;
    s.grabber.FlushVideoEncoder();
    EXPECT_EQ(s.grabber.frameCount(), static_cast<std::uint32_t>(s.info.frameCount));
    s.grabber.CloseVideoEncoder();
    EXPECT_EQ(s.grabber.flushedPackets(), 0u);  // no B-frames: every picture came out at once
    EXPECT_EQ(s.store.samples.sampleCount(), s.grabber.frameCount());
    EXPECT_EQ(
        std::vector<std::uint32_t>(s.store.syncSamples.begin(), s.store.syncSamples.begin() + 3),
        (std::vector<std::uint32_t>{1, 13, 25}));  // a key frame every 12 pictures
    // Closing reset the context with the job's parameters for the next segment.
    EXPECT_FALSE(avcodec_is_open(s.context.get()));
    EXPECT_EQ(s.context.frameRate(), c.target);
  }
}

// The first delivered frame is kept raw. Short buffers and frames after an
// abort encode nothing; the caption shows the segment and the time.
TEST(VideoGrabber, FirstFrameShortBuffersAbortAndCaption) {
  EncodingSegment s(VideoKind::Mpeg4, 15, 128, 96, {333333, 160, 120});
  ASSERT_TRUE(s.ok);
  test::RecordingNotifier window;
  const CaptionSink caption = [&window](std::string_view text) { window.setCaption(text); };
  s.state.statusWindow = &caption;
  s.state.segmentIndex = 3;
  const std::vector<std::uint8_t> first = MovingFrame(160, 120, 7),
                                  second = MovingFrame(160, 120, 8);
  s.grabber.BufferCB(65.5, first.data(), first.size() - 1);
  EXPECT_EQ(window.captions().back(), "file:000003 video 変換中 sampletime:01:05");
  s.state.abortRequested = true;
  for (double t : {0.0, 1.0}) s.grabber.BufferCB(t, first.data(), first.size());
  EXPECT_EQ(std::make_pair(s.grabber.frameCount(), s.grabber.hasFirstFrame()),
            std::make_pair(0u, false));
  s.state.abortRequested = false;
  s.grabber.BufferCB(0, first.data(), first.size());
  s.grabber.BufferCB(1 / 30.0, second.data(), second.size());
  EXPECT_EQ(s.grabber.frameCount(), 1u);
  ASSERT_EQ(s.grabber.firstFrame().size(), 160u * 120 * 3);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), s.grabber.firstFrame().begin()));
}

// Two seconds at CIF reserve 1.7 MB; noise at the finest quantiser needs far
// more.
TEST(VideoGrabber, DataOutgrowsItsEstimateWithoutLoss) {
  EncodingSegment s(VideoKind::Mpeg4, 15, 352, 288, {666666, 352, 288}, 20000000, {},
                    FineQuantiser);
  ASSERT_TRUE(s.ok);
  std::mt19937 rng(7);
  std::vector<std::uint8_t> f(352 * 288 * 3 / 2);
  for (int n = 0; n < 30; ++n) {
    for (auto& b : f) b = static_cast<std::uint8_t>(rng());
    s.grabber.BufferCB(n / 15.0, f.data(), f.size());
  }
  s.grabber.FlushVideoEncoder();
  s.grabber.CloseVideoEncoder();
  ASSERT_EQ(s.store.samples.sampleCount(), 30u);
  EXPECT_GT(s.store.samples.totalBytes(), 352u * 288 * 30 / 2 + 200000);
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
  const std::string file = s.Written(dir);
  s.grabber.CloseVideoEncoder();
  EXPECT_EQ(test::Probe(file, "stream=nb_read_packets", {"-count_packets"}), "20");
}

TEST(PictureFitTest, AreasKeepTheDisplayAspectWithEvenSizes) {
  struct Case {
    int sw, sh, sarNum, sarDen, tw, th;
    bool keep;
    PictureArea area;
  } cases[] = {
      {1280, 720, 1, 1, 176, 144, false, {0, 0, 176, 144}},  // off: the whole frame
      {1280, 720, 1, 1, 176, 144, true, {0, 22, 176, 100}},  // 176 x 99 to the even 100
      {1280, 720, 0, 0, 320, 240, true, {0, 30, 320, 180}},  // unknown pixels are square
      {640, 480, 1, 1, 320, 240, true, {0, 0, 320, 240}},    // 4:3 fills a 4:3 frame
      {640, 480, 1, 1, 176, 144, true, {0, 6, 176, 132}},
      {720, 1280, 1, 1, 176, 144, true, {46, 0, 82, 144}},    // portrait: bars left and right
      {720, 576, 12, 11, 320, 240, true, {0, 2, 320, 234}},   // PAL 4:3: wider pixels
      {720, 576, 16, 11, 320, 240, true, {0, 32, 320, 176}},  // PAL 16:9
      {333, 251, 1, 1, 128, 96, true, {0, 0, 128, 96}},       // odd sizes: 1.327 rounds to 96
      {4000, 10, 1, 1, 128, 96, true, {0, 46, 128, 2}},       // never below 2 x 2
      {10, 4000, 1, 1, 128, 96, true, {62, 0, 2, 96}},
  };
  for (const Case& c : cases) {
    const PictureArea a = FitPicture(c.sw, c.sh, c.sarNum, c.sarDen, c.tw, c.th, c.keep);
    EXPECT_EQ(a, c.area) << c.sw << "x" << c.sh << " " << c.sarNum << ":" << c.sarDen << " in "
                         << c.tw << "x" << c.th << " -> " << a.x << "," << a.y << " " << a.width
                         << "x" << a.height;
    EXPECT_EQ(a.x % 2 + a.y % 2 + a.width % 2 + a.height % 2, 0);
  }
}

// The picture the encoder gets: a bright 1280 x 720 frame in a 176 x 144
// frame has black bars (Y 16, U and V 128) with keepaspect and none
// without; smoothscale averages a pattern of alternating columns into an
// even grey, where nearest neighbour picks single columns.
TEST(PictureFitTest, TheEncoderGetsBarsAndAveragedPixels) {
  struct Case {
    VideoScaling scaling;
    std::uint8_t pattern[2];  // luma of even and odd source columns
    int topRowLuma;           // a pixel of the first rows, decoded back
    int middleMean;           // the mean of the middle row
    bool even;                // the middle row is one grey, not single columns
  } cases[] = {
      {{false, false}, {235, 235}, 235, 235, true},
      {{true, false}, {235, 235}, 16, 235, true},
      {{false, true}, {16, 235}, -1, 125, true},
      {{false, false}, {16, 235}, -1, -1, false},
  };
  for (const Case& c : cases) {
    EncodingSegment s(VideoKind::Mpeg4, 10, 176, 144, {1000000, 1280, 720}, 1000000, c.scaling,
                      FineQuantiser);  // values survive the coding
    ASSERT_TRUE(s.ok);
    std::vector<std::uint8_t> frame(1280 * 720 * 3 / 2, 128);
    for (int i = 0; i < 1280 * 720; ++i) frame[i] = c.pattern[i % 2];
    s.grabber.BufferCB(0.0, frame.data(), frame.size());
    s.grabber.FlushVideoEncoder();
    ASSERT_EQ(s.store.samples.sampleCount(), 1u);
    // the one picture decoded back by ffmpeg: its luma plane
    test::TempDir dir;
    const std::string yuv = test::RunCommand({"ffmpeg", "-v", "error", "-i", s.Written(dir), "-f",
                                              "rawvideo", "-pix_fmt", "yuv420p", "-"})
                                .out;
    ASSERT_EQ(yuv.size(), 176u * 144 * 3 / 2);
    const auto luma = [&](int x, int y) { return static_cast<std::uint8_t>(yuv[y * 176 + x]); };
    if (c.topRowLuma >= 0) {
      EXPECT_NEAR(luma(88, 2), c.topRowLuma, 4);
    }
    double sum = 0, squares = 0;
    for (int x = 8; x < 168; ++x) {
      sum += luma(x, 72);
      squares += luma(x, 72) * luma(x, 72);
    }
    const double mean = sum / 160, spread = std::sqrt(squares / 160 - mean * mean);
    if (c.middleMean >= 0) {
      EXPECT_NEAR(mean, c.middleMean, 6);
    }
    EXPECT_EQ(spread < 25, c.even) << spread;
  }
}

using namespace test;
using Bytes = std::vector<std::uint8_t>;

constexpr char kNoPcm[] = "m_prev_buffer_sizeサイズが0です";

// A WAV file of a 440 Hz tone: pcmBytes of 16-bit little-endian samples,
// channels interleaved (beforeData and dataLength as WavBytes takes them).
Bytes ToneWav(int rate, int channels, std::size_t pcmBytes, const Bytes& beforeData = {},
              std::int64_t dataLength = -1) {
  Bytes pcm(pcmBytes);
  for (std::size_t i = 0; i + 1 < pcmBytes; i += 2) {
    const std::size_t frame = i / (2 * channels);
    const auto s =
        static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 440.0 * frame / rate));
    pcm[i] = static_cast<std::uint8_t>(s & 0xFF);
    pcm[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
  return WavBytes(rate, channels, pcm, beforeData, dataLength);
}

// What the encoder is opened for: the target's and the source's sound.
struct AudioFormat {
  AudioKind kind;
  int rate, channels, sourceRate, sourceChannels;
};
constexpr AudioFormat kAmr{AudioKind::AmrNb, 8000, 1, 8000, 1};

struct Fixture {
  TempDir dir;
  ConversionState state;
  AudioTrackBuffer store;
  AudioParameterBlock block;
  AudioSegmentInfo info;
  RecordingNotifier notifier;
  AudioEncoder encoder{store, state};

  bool open(const AudioFormat& f) {
    block.clear();
    SetUpAudioSegment(block, f.kind, f.rate, f.channels, f.sourceRate, f.sourceChannels, info);
    return test::Told(notifier, encoder.OpenAudioEncoder(block, info, f.kind));
  }
  bool encode(const Bytes& wavFile) {
    test::WriteFileBytes(TemporaryWavPath(dir.path().string(), state.segmentIndex), wavFile);
    return test::Told(notifier, encoder.EncodeTemporaryWav(dir.path().string()));
  }
};

// Rate and channels of 0 take the source's; AMR-NB is 8000 Hz mono; the
// block's old values never survive.
TEST(AudioPath, SegmentSetUp) {
  struct Case {
    AudioKind kind;
    int rate, channels, sourceRate, sourceChannels;
    int wantRate, wantChannels, wantFrameLength, wantBitRate, wantRatio;
  };
  using enum AudioKind;
  const Case cases[] = {
      {Aac, 8000, 1, 44100, 2, 8000, 1, 1024, 32000, 1814},
      {Aac, 0, 0, 22050, 2, 22050, 2, 1024, 64000, 10000},
      {Aac, 16000, 2, 48000, 1, 16000, 2, 1024, 64000, 3333},
      {Aac, 24000, 0, 8000, 1, 24000, 1, 1024, 64000, 30000},
      {Aac, 5000, 1, 8000, 1, 5000, 1, 1024, 32000, 6250},      // below any offered rate
      {Aac, 11025, 1, 11025, 1, 11025, 1, 1024, 64000, 10000},  // 6 bit/s per Hz passes 64000
      {Aac, 10000, 1, 10000, 1, 10000, 1, 1024, 32000, 10000},
      {AmrNb, 8000, 1, 44100, 2, 8000, 1, 160, 48000, 1814},
      {AmrNb, 0, 0, 22050, 2, 8000, 1, 160, 48000, 3628},
      {Aac, 8000, 1, 0, 0, 8000, 1, 1024, 32000, 0},  // unknown source
  };
  for (const Case& c : cases) {
    AudioParameterBlock block;
    block.sampleRate = 11025;
    block.channels = 2;
    AudioSegmentInfo info;
    SetUpAudioSegment(block, c.kind, c.rate, c.channels, c.sourceRate, c.sourceChannels, info);
    SCOPED_TRACE(std::to_string(c.rate) + " from " + std::to_string(c.sourceRate));
    EXPECT_EQ(std::make_tuple(block.sampleRate, block.channels, block.frameLength, block.bitRate),
              std::make_tuple(c.wantRate, c.wantChannels, c.wantFrameLength, c.wantBitRate));
    EXPECT_EQ(std::make_tuple(info.sourceRate, info.sourceChannels, info.targetRate,
                              info.targetChannels, info.bitRate, info.rateRatio),
              std::make_tuple(c.sourceRate, c.sourceChannels, c.wantRate, c.wantChannels,
                              c.wantBitRate, c.wantRatio));
  }
}

TEST(AudioPath, AacStereo22050TakesPerChannelRateAndTwoChannelFrames) {
  Fixture f;
  ASSERT_TRUE(f.open({AudioKind::Aac, 22050, 2, 22050, 2}));
  EXPECT_EQ(f.encoder.inputSamples(), 2048u);
  EXPECT_EQ(f.encoder.faacBitRate(), 64000);
  // AudioSpecificConfig: AAC-LC (2), 22050 Hz (index 7), 2 channels.
  EXPECT_EQ(f.block.decoderConfig, (Bytes{0x13, 0x90}));
  EXPECT_TRUE(f.notifier.messages().empty());
}

// FAAC opens for no channels but refuses to be configured for them.
TEST(AudioPath, RefusedAacConfigurationShowsMessage) {
  Fixture f;
  EXPECT_FALSE(f.open({AudioKind::Aac, 0, 0, 0, 0}));
  EXPECT_EQ(f.notifier.messages(),
            std::vector<std::string>{"AACエンコーダが設定を受け付けませんでした。"});
  EXPECT_EQ(f.encoder.faacBitRate(), -1);  // the handle is gone
}

// Frames start at byte offsets 0, 2F, 4F... below length - F (F samples a
// frame): a trailing frame counts when more than half of it exists. The PCM,
// at the target's rate and channels whatever the source's, starts after the
// first "data" tag, wherever it lies, its length cut to the file; less than
// one second gives no frames. A WAV without PCM
// fails the encode, so that the driver never writes the segment as one with
// sound.
TEST(AudioPath, FramesTakenFromTheTemporaryWav) {
  // a LIST chunk whose text holds "data" and a length of 20000
  const Bytes list = test::Hex("'LIST' 0c000000 'INFO' 'data' 204e0000");
  const Bytes noTag = test::Hex("'RIFF' 04000000 'WAVE'");
  struct Case {
    const char* name;
    AudioFormat format;
    Bytes file;
    std::uint32_t frames;
    const char* message = nullptr;
  };
  const AudioFormat aacStereo{AudioKind::Aac, 22050, 2, 22050, 2};
  const Case cases[] = {
      {"one second amr", kAmr, ToneWav(8000, 1, 32000), 100},
      {"half a frame short", kAmr, ToneWav(8000, 1, 16160), 50},
      {"more than half a frame", kAmr, ToneWav(8000, 1, 16162), 51},
      {"data tag inside a LIST chunk", kAmr, ToneWav(8000, 1, 48000, list), 62},
      {"data length beyond the file", kAmr, ToneWav(8000, 1, 24000, {}, 0xFFFFFFF0u), 75},
      {"no pcm", kAmr, ToneWav(8000, 1, 0), 0, kNoPcm},
      {"no data tag", kAmr, noTag, 0, kNoPcm},
      {"tag without length", kAmr, test::Hex("'RIFF' 04000000 'WAVE' 'data' 10"), 0, kNoPcm},
      {"empty file", kAmr, {}, 0, kNoPcm},
      {"two bytes short of a second", aacStereo, ToneWav(22050, 2, 88198), 0},
      {"one second aac stereo", aacStereo, ToneWav(22050, 2, 88200), 22},
      // FAAC holds frames back; draining gives one sample per frame fed
      // once its start-up frame is dropped.
      {"aac mono", {AudioKind::Aac, 8000, 1, 44100, 2}, ToneWav(8000, 1, 32000), 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    ASSERT_TRUE(f.open(c.format));
    EXPECT_EQ(f.encode(c.file), c.message == nullptr);
    EXPECT_EQ(f.notifier.messages(),
              c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(f.store.samples.sampleCount(), c.frames);
    std::uint32_t sum = 0;
    for (std::uint32_t size : f.store.samples.sampleSizes()) sum += size;
    EXPECT_EQ(sum, f.store.samples.totalBytes());
  }
  // What follows the PCM in the file is no sound: the partial last frame
  // reads silence, with or without another chunk after the data.
  Bytes tracks[2];
  for (int chunk : {0, 1}) {
    Fixture f;
    ASSERT_TRUE(f.open(kAmr));
    Bytes file = ToneWav(8000, 1, 16162);
    if (chunk) file.insert(file.end(), 400, 0x7F);
    f.encode(file);
    tracks[chunk].assign(f.store.samples.data(),
                         f.store.samples.data() + f.store.samples.totalBytes());
  }
  EXPECT_EQ(tracks[0], tracks[1]);
}

// 12.2 kbit/s storage-format frames: a 0x3C header byte and 31 bytes.
TEST(AudioPath, AmrFramesAre32BytesAndTheCaptionNamesTheSegment) {
  Fixture f;
  RecordingNotifier window;
  const CaptionSink caption = [&window](std::string_view text) { window.setCaption(text); };
  f.state.statusWindow = &caption;
  f.state.segmentIndex = 3;
  ASSERT_TRUE(f.open(kAmr));
  EXPECT_EQ(f.encoder.amrMode(), 7);
  EXPECT_TRUE(f.block.decoderConfig.empty());
  f.encode(ToneWav(8000, 1, 32000));
  EXPECT_EQ(window.captions(), std::vector<std::string>{"file:000003 audio 変換中"});
  ASSERT_EQ(f.store.samples.totalBytes(), 3200u);
  for (std::uint32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(f.store.samples.sampleSizes()[i], 32u);
    EXPECT_EQ(f.store.samples.data()[32 * i], 0x3C) << i;
  }
}

// Closing keeps the track for the writer until the next open; a missing file
// is told and fails the encode.
TEST(AudioPath, TrackStaysUntilTheNextOpen) {
  Fixture f;
  ASSERT_TRUE(f.open({AudioKind::Aac, 8000, 1, 8000, 1}));
  f.encode(ToneWav(8000, 1, 32000));
  f.encoder.CloseAudioEncoder();
  EXPECT_EQ(f.store.samples.sampleCount(), 16u);
  ASSERT_TRUE(f.open(kAmr));
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
  EXPECT_EQ(f.store.kind, AudioKind::AmrNb);
  EXPECT_EQ(f.encoder.EncodeTemporaryWav(f.dir.file("nowhere")).kind,
            FaultKind::kTemporaryWavUnreadable);
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
}

}  // namespace
}  // namespace zel
