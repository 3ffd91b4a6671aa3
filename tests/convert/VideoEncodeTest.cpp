// Real encodes through BufferCB, written as 3GP and 3G2 files and read back
// by ffmpeg and ffprobe.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "container/ThreeGpWriter.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"

namespace zel {
namespace {

using test::DecodeErrors;
using test::Probe;
using test::RecordingNotifier;
using test::TempDir;

// A YV12 frame with a gradient background and a bright box moving right.
std::vector<std::uint8_t> MovingFrame(int w, int h, int n) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(w) * h * 3 / 2);
  const int boxX = (4 * n) % (w - 32), boxY = h / 3;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool inBox = x >= boxX && x < boxX + 32 && y >= boxY && y < boxY + 32;
      f[y * w + x] = static_cast<std::uint8_t>(inBox ? 235 : 16 + (x + 2 * y) % 160);
    }
  const std::size_t luma = static_cast<std::size_t>(w) * h;
  for (std::size_t i = 0; i < luma / 4; ++i) f[luma + i] = 90;              // V
  for (std::size_t i = 0; i < luma / 4; ++i) f[luma + luma / 4 + i] = 160;  // U
  return f;
}

std::vector<std::uint8_t> NoiseFrame(int w, int h, std::mt19937& rng) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(w) * h * 3 / 2);
  for (auto& b : f) b = static_cast<std::uint8_t>(rng());
  return f;
}

struct Encoded {
  VideoEncoderContext context;
  AudioParameterBlock audio;
  ConversionState state;
  VideoTrackBuffer store;
  VideoSegmentInfo info;
};

// Sets up and opens one segment, delivers `frames` source frames at
// sourceFps and closes it.
template <typename MakeFrame>
void EncodeSegment(Encoded& e, VideoKind kind, int frameRate, int width, int height,
                   int sourceWidth, int sourceHeight, double sourceFps, int frames,
                   std::int64_t lengthHns, MakeFrame makeFrame) {
  ConversionParameters params;
  params.videoKind = kind;
  params.frameRate = frameRate;
  params.width = width;
  params.height = height;
  ResetVideoEncoderContext(e.context, params, e.audio);
  RecordingNotifier notifier;
  VideoSourceFormat source{static_cast<std::int64_t>(10000000 / sourceFps), sourceWidth,
                           sourceHeight};
  ASSERT_TRUE(SetUpVideoSegment(e.context, source, lengthHns, e.info, notifier));
  VideoGrabber grabber(e.store, e.state);
  ASSERT_TRUE(grabber.OpenVideoEncoder(e.context, e.info, notifier)) << notifier.messages()[0];
  for (int n = 0; n < frames; ++n) {
    std::vector<std::uint8_t> f = makeFrame(n);
    grabber.BufferCB(n / sourceFps, f.data(), f.size());
  }
  grabber.CloseVideoEncoder();
  EXPECT_EQ(grabber.flushedPackets(), 0u);
  EXPECT_EQ(grabber.frameCount(), e.store.samples.sampleCount());
}

int ProbeInt(const std::string& path, const std::string& entry) {
  std::string out =
      Probe(path, {"-select_streams", "v:0", "-count_frames", "-show_entries", "stream=" + entry});
  auto eq = out.find('=');
  return eq == std::string::npos ? -1 : std::atoi(out.c_str() + eq + 1);
}

double ProbeDuration(const std::string& path) {
  std::string out = Probe(path, {"-show_entries", "format=duration"});
  auto eq = out.find('=');
  return eq == std::string::npos ? -1 : std::atof(out.c_str() + eq + 1);
}

void CheckFiles(const Encoded& e, const TempDir& dir, const std::string& name, int frames,
                int frameRate, int width, int height, const std::string& codec) {
  AudioTrackBuffer noAudio;
  const std::string base = dir.file(name + ".wmv");
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    const std::string path = ThreeGpOutputPath(base, kind);
    SCOPED_TRACE(path);
    ASSERT_GT(ThreeGpWriter(noAudio, e.store, base, kind), 0u);
    EXPECT_EQ(DecodeErrors(path), "");
    EXPECT_EQ(ProbeInt(path, "nb_read_frames"), frames);
    EXPECT_EQ(ProbeInt(path, "width"), width);
    EXPECT_EQ(ProbeInt(path, "height"), height);
    std::string codecName =
        Probe(path, {"-select_streams", "v:0", "-show_entries", "stream=codec_name"});
    EXPECT_EQ(codecName, "codec_name=" + codec + "\n");
    EXPECT_NEAR(ProbeDuration(path), static_cast<double>(frames) / frameRate, 1.0 / frameRate);
  }
}

TEST(VideoEncode, Mpeg4QcifFromThreeTwentyAtHalfTheRate) {
  Encoded e;
  EncodeSegment(e, VideoKind::Mpeg4, 15, 176, 144, 320, 240, 30.0, 60, 20000000,
                [](int n) { return MovingFrame(320, 240, n); });
  ASSERT_EQ(e.store.samples.sampleCount(), 30u);
  EXPECT_EQ(e.info.frameCount, 30);
  EXPECT_EQ(e.store.syncSamples, (std::vector<std::uint32_t>{1, 13, 25}));
  TempDir dir;
  CheckFiles(e, dir, "mpeg4", 30, 15, 176, 144, "mpeg4");
}

TEST(VideoEncode, H263SubQcif) {
  Encoded e;
  EncodeSegment(e, VideoKind::H263, 15, 128, 96, 320, 240, 30.0, 60, 20000000,
                [](int n) { return MovingFrame(320, 240, n); });
  ASSERT_EQ(e.store.samples.sampleCount(), 30u);
  EXPECT_TRUE(e.store.stream.decoderConfig.empty());
  TempDir dir;
  CheckFiles(e, dir, "h263", 30, 15, 128, 96, "h263");
}

TEST(VideoEncode, SameSizeIsCopiedAndRepeatedFramesDecode) {
  Encoded e;
  // 10 fps into 15 fps at the source size: no scaling, frames repeated.
  EncodeSegment(e, VideoKind::Mpeg4, 15, 176, 144, 176, 144, 10.0, 20, 20000000,
                [](int n) { return MovingFrame(176, 144, n); });
  ASSERT_EQ(e.info.xRatio, 10000);
  ASSERT_EQ(e.store.samples.sampleCount(), 29u);  // ticks 0 .. 1.9 s at 66666 us
  TempDir dir;
  CheckFiles(e, dir, "copy", 29, 15, 176, 144, "mpeg4");
}

TEST(VideoEncode, DataOutgrowsItsEstimateWithoutLoss) {
  // Segment length 0: frameCount 0, so the data block is estimated at
  // 200000 bytes. Noise at CIF exceeds that many times over.
  Encoded e;
  std::mt19937 rng(7);
  EncodeSegment(e, VideoKind::Mpeg4, 15, 352, 288, 352, 288, 15.0, 45, 0,
                [&](int) { return NoiseFrame(352, 288, rng); });
  ASSERT_EQ(e.info.frameCount, 0);
  ASSERT_EQ(e.store.samples.sampleCount(), 45u);
  EXPECT_GT(e.store.samples.totalBytes(), 2u * 200000);
  std::uint64_t sum = 0;
  for (std::uint32_t size : e.store.samples.sampleSizes()) sum += size;
  EXPECT_EQ(sum, e.store.samples.totalBytes());
  TempDir dir;
  CheckFiles(e, dir, "noise", 45, 15, 352, 288, "mpeg4");
}

}  // namespace
}  // namespace zel
