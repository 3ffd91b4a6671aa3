// The conversion starts on the picture the preview shows at the start mark:
// both find it the same way, also in files whose B pictures are shown before
// the key frame they follow (open GOPs).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "General/MediaTypes.h"
#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"
#include "source/PreviewSource.h"
#include "source/VideoFrameSink.h"

namespace zel {
namespace {

using test::Join;

class FirstPicture final : public VideoFrameSink {
 public:
  void BufferCB(double, const std::uint8_t* buffer, std::size_t length) override {
    if (yv12.empty()) yv12.assign(buffer, buffer + length);
  }
  std::vector<std::uint8_t> yv12;
};

// 160x120 at 25 fps; picture n is a flat grey of level 16 + 8 (n mod 25) with
// a black left quarter, so that two pictures differ by 8 in every lit pixel.
std::vector<std::string> Ramp(const std::string& seconds) {
  return {"-f", "lavfi", "-i",
          "nullsrc=s=160x120:r=25:d=" + seconds +
              ",format=gray,geq=lum='if(lt(X\\,40)\\,16\\,16+8*mod(N\\,25))',format=yuv420p"};
}

// The mean difference between the Y plane of the conversion's first picture
// and the luma of the preview's still (B, G, R, bottom row first) at start.
double Difference(const std::string& path, std::int64_t startHns) {
  PreviewSource preview;
  EXPECT_EQ(preview.OpenPreview(path, nullptr), OpenResult::Opened);
  std::vector<std::uint8_t> bgr;
  int width = 0, height = 0;
  EXPECT_TRUE(preview.GrabFrameAt(startHns, bgr, width, height));

  MediaSource conversion;
  FirstPicture sink;
  EXPECT_EQ(conversion.BuildConversionGraph(path, false, true), OpenResult::Opened);
  EXPECT_EQ(conversion.info().width, width);
  EXPECT_EQ(conversion.info().height, height);
  conversion.SetVideoSink(&sink);
  EXPECT_TRUE(conversion.SetSegment(startHns, startHns + kHnsPerSecond));
  EXPECT_TRUE(conversion.Run());
  EXPECT_EQ(conversion.WaitForSegment(), MediaSource::WaitResult::Delivered);
  conversion.Stop();
  if (sink.yv12.size() < static_cast<std::size_t>(width) * height || width <= 0) return 255;
  double sum = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &bgr[(static_cast<std::size_t>(height - 1 - y) * width + x) * 3];
      const double luma = 16 + (0.257 * p[2] + 0.504 * p[1] + 0.098 * p[0]);
      sum += std::abs(luma - sink.yv12[static_cast<std::size_t>(y) * width + x]);
    }
  }
  return sum / (static_cast<double>(width) * height);
}

TEST(Positioning, TheConversionStartsOnThePictureThePreviewShows) {
  test::TempDir dir;
  const std::string avi =
      test::Media("ramp.avi", Join({Ramp("4"),
                                    test::Tone(44100, "4"),
                                    {"-c:v", "mpeg4", "-g", "30", "-sc_threshold", "1000000000"}}));
  test::RecordingNotifier notifier;
  ASSERT_TRUE(AviTranscoder(avi, dir.file("ramp.wmv"), notifier).Run());
  const std::string files[] = {
      test::Media("ramp.wmv",
                  Join({Ramp("4"),
                        {"-c:v", "wmv2", "-q:v", "2", "-g", "30", "-sc_threshold", "1000000000"}})),
      // Open GOPs of 12 with two B pictures between the others.
      test::Media("ramp.mpg", Join({Ramp("4"),
                                    test::Tone(44100, "4"),
                                    {"-c:v", "mpeg1video", "-q:v", "2", "-bf", "2", "-g", "12",
                                     "-sc_threshold", "1000000000", "-c:a", "mp2", "-f", "mpeg"}})),
      dir.file("ramp.wmv"),
  };
  // Between two pictures, on one, on the B pictures before a key frame
  // (11, 23, 34, 59 in the MPEG file), on a key frame.
  const std::int64_t frame = 400000;
  const std::int64_t starts[] = {frame / 2,
                                 10 * frame,
                                 23 * frame + frame / 2,
                                 11 * frame + frame / 2,
                                 34 * frame + frame / 2,
                                 30 * frame,
                                 59 * frame + frame / 2};
  for (const std::string& path : files) {
    for (const std::int64_t start : starts) {
      EXPECT_LT(Difference(path, start), 2.0) << path << " at " << start;
    }
  }
}

}  // namespace
}  // namespace zel
