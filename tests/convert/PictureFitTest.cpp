// keepaspect and smoothscale: where the picture goes in the frame, and what
// the encoder is then given.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>
#include <vector>

#include "common/TestSupport.h"
#include "convert/ConversionParameters.h"
#include "convert/PictureFit.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"

namespace zel {
namespace {

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
    ConversionParameters params;
    params.videoKind = VideoKind::Mpeg4;
    params.frameRate = 10;
    params.width = 176;
    params.height = 144;
    VideoEncoderContext context;
    AudioParameterBlock audio;
    ResetVideoEncoderContext(context, params, audio);
    context.get()->flags |= AV_CODEC_FLAG_QSCALE;  // a fine quantiser: values survive the coding
    context.get()->global_quality = 2 * FF_QP2LAMBDA;
    test::RecordingNotifier notifier;
    VideoSegmentInfo info;
    ASSERT_TRUE(
        SetUpVideoSegment(context, {1000000, 1280, 720}, 10000000, info, notifier, c.scaling));
    ConversionState state;
    VideoTrackBuffer video;
    VideoGrabber grabber(video, state);
    ASSERT_TRUE(grabber.OpenVideoEncoder(context, info, notifier));
    std::vector<std::uint8_t> frame(1280 * 720 * 3 / 2, 128);
    for (int i = 0; i < 1280 * 720; ++i) frame[i] = c.pattern[i % 2];
    grabber.BufferCB(0.0, frame.data(), frame.size());
    grabber.FlushVideoEncoder();
    ASSERT_EQ(video.samples.sampleCount(), 1u);
    // decode the one picture back
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* d = avcodec_alloc_context3(decoder);
    d->extradata = static_cast<std::uint8_t*>(av_mallocz(video.stream.decoderConfig.size() + 64));
    std::copy(video.stream.decoderConfig.begin(), video.stream.decoderConfig.end(), d->extradata);
    d->extradata_size = static_cast<int>(video.stream.decoderConfig.size());
    ASSERT_EQ(avcodec_open2(d, decoder, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    av_new_packet(packet, static_cast<int>(video.samples.totalBytes()));
    std::copy_n(video.samples.data(), video.samples.totalBytes(), packet->data);
    AVFrame* picture = av_frame_alloc();
    ASSERT_EQ(avcodec_send_packet(d, packet), 0);
    avcodec_send_packet(d, nullptr);
    ASSERT_EQ(avcodec_receive_frame(d, picture), 0);
    const auto luma = [&](int x, int y) { return picture->data[0][y * picture->linesize[0] + x]; };
    if (c.topRowLuma >= 0) EXPECT_NEAR(luma(88, 2), c.topRowLuma, 4);
    double sum = 0, squares = 0;
    for (int x = 8; x < 168; ++x) {
      sum += luma(x, 72);
      squares += luma(x, 72) * luma(x, 72);
    }
    const double mean = sum / 160, spread = std::sqrt(squares / 160 - mean * mean);
    if (c.middleMean >= 0) EXPECT_NEAR(mean, c.middleMean, 6);
    EXPECT_EQ(spread < 25, c.even) << spread;
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&d);
    grabber.CloseVideoEncoder();
  }
}

}  // namespace
}  // namespace zel
