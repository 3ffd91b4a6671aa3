// keepaspect and smoothscale: where the picture goes in the frame, and what
// the encoder is then given.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/VideoEncoding.h"
#include "container/ThreeGpWriter.h"
#include "convert/PictureFit.h"

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
    // a fine quantiser: values survive the coding
    test::EncodingSegment s(VideoKind::Mpeg4, 10, 176, 144, {1000000, 1280, 720}, 10000000,
                            c.scaling, [](AVCodecContext* context) {
                              context->flags |= AV_CODEC_FLAG_QSCALE;
                              context->global_quality = 2 * FF_QP2LAMBDA;
                            });
    ASSERT_TRUE(s.ok);
    std::vector<std::uint8_t> frame(1280 * 720 * 3 / 2, 128);
    for (int i = 0; i < 1280 * 720; ++i) frame[i] = c.pattern[i % 2];
    s.grabber.BufferCB(0.0, frame.data(), frame.size());
    s.grabber.FlushVideoEncoder();
    ASSERT_EQ(s.store.samples.sampleCount(), 1u);
    // the one picture decoded back by ffmpeg: its luma plane
    test::TempDir dir;
    ASSERT_NE(ThreeGpWriter(AudioTrackBuffer(), s.store, dir.file("fit.wmv"), FileKind::ThreeGp),
              0u);
    const std::string yuv = test::RunCommand({"ffmpeg", "-v", "error", "-i", dir.file("fit.3gp"),
                                              "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"})
                                .out;
    ASSERT_EQ(yuv.size(), 176u * 144 * 3 / 2);
    const auto luma = [&](int x, int y) { return static_cast<std::uint8_t>(yuv[y * 176 + x]); };
    if (c.topRowLuma >= 0) EXPECT_NEAR(luma(88, 2), c.topRowLuma, 4);
    double sum = 0, squares = 0;
    for (int x = 8; x < 168; ++x) {
      sum += luma(x, 72);
      squares += luma(x, 72) * luma(x, 72);
    }
    const double mean = sum / 160, spread = std::sqrt(squares / 160 - mean * mean);
    if (c.middleMean >= 0) EXPECT_NEAR(mean, c.middleMean, 6);
    EXPECT_EQ(spread < 25, c.even) << spread;
  }
}

}  // namespace
}  // namespace zel
