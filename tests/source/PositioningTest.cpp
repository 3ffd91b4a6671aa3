// The conversion starts on the picture the preview shows at the start mark,
// also where B pictures are shown before the key frame they follow (open GOPs).

#include <gtest/gtest.h>

#include <cmath>

#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"
#include "source/PreviewSource.h"
#include "source/VideoFrameSink.h"

namespace zel {
namespace {

struct FirstPicture final : VideoFrameSink {
  void BufferCB(double, const std::uint8_t* buffer, std::size_t length) override {
    if (yv12.empty()) yv12.assign(buffer, buffer + length);
  }
  std::vector<std::uint8_t> yv12;
};

// The mean difference between the Y plane of the conversion's first picture
// and the luma (BT.601) of the preview's still at the start (B, G, R, bottom
// row first, at the same size).
double Difference(const std::string& path, std::int64_t startHns) {
  PreviewSource preview;
  EXPECT_EQ(preview.OpenPreview(path, nullptr), OpenResult::Opened);
  std::vector<std::uint8_t> bgr;
  int width = 0, height = 0;
  EXPECT_TRUE(preview.GrabFrameAt(startHns, bgr, width, height));
  MediaSource conversion;
  FirstPicture sink;
  EXPECT_EQ(conversion.BuildConversionGraph(path, false, true), OpenResult::Opened);
  EXPECT_EQ(std::make_pair(conversion.info().width, conversion.info().height),
            std::make_pair(width, height));
  conversion.SetVideoSink(&sink);
  EXPECT_TRUE(conversion.SetSegment(startHns, startHns + 10'000'000) && conversion.Run());
  EXPECT_EQ(conversion.WaitForSegment(), MediaSource::WaitResult::Delivered);
  conversion.Stop();
  if (width <= 0 || sink.yv12.size() < static_cast<std::size_t>(width) * height) return 255;
  double sum = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &bgr[(static_cast<std::size_t>(height - 1 - y) * width + x) * 3];
      sum += std::abs(16 + 0.257 * p[2] + 0.504 * p[1] + 0.098 * p[0] - sink.yv12[y * width + x]);
    }
  }
  return sum / (width * height);
}

TEST(Positioning, TheConversionStartsOnThePictureThePreviewShows) {
  // 160x120 at 25 fps; picture n is a flat grey of level 16 + 8 (n mod 25)
  // with a black left quarter: two pictures differ by 8 in every lit pixel.
  const auto ramp = [](std::vector<std::string> codec) {
    return test::Join({{"-f", "lavfi", "-i",
                        "nullsrc=s=160x120:r=25:d=4,format=gray,"
                        "geq=lum='if(lt(X\\,40)\\,16\\,16+8*mod(N\\,25))',format=yuv420p"},
                       test::Tone(44100, "4"),
                       codec,
                       {"-sc_threshold", "1000000000"}});
  };
  // The AVI becomes wmv2 and wmav2 as the program converts it.
  test::TempDir dir;
  const std::string wmv = dir.file("ramp.wmv");
  ASSERT_TRUE(AviTranscoder(test::Media("ramp.avi", ramp({"-c:v", "mpeg4", "-g", "30"})), wmv).Run());
  EXPECT_EQ(test::Probe(wmv, "stream=codec_name"), "wmav2 wmv2");
  const std::string files[] = {
      test::Media("ramp.wmv", ramp({"-c:v", "wmv2", "-q:v", "2", "-g", "30", "-c:a", "wmav2"})),
      // Open GOPs of 12 with two B pictures between the others.
      test::Media("ramp.mpg", ramp({"-c:v", "mpeg1video", "-q:v", "2", "-bf", "2", "-g", "12",
                                    "-c:a", "mp2", "-f", "mpeg"})),
      wmv,
  };
  // Between two pictures, on one, on the B pictures before a key frame (11,
  // 23, 34, 59 in the MPEG file), on a key frame.
  constexpr std::int64_t kFrame = 400000;
  const std::int64_t starts[] = {kFrame / 2,      10 * kFrame,     23 * kFrame + kFrame / 2,
                                 23 * kFrame / 2, 69 * kFrame / 2, 30 * kFrame,
                                 119 * kFrame / 2};
  for (const std::string& path : files) {
    for (const std::int64_t start : starts) {
      EXPECT_LT(Difference(path, start), 2.0) << path << " at " << start;
    }
  }
}

}  // namespace
}  // namespace zel
