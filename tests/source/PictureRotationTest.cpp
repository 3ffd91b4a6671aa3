// Pictures turned upright: every byte of every plane lands where the turn
// puts it, at sizes that leave partial blocks and odd chroma edges.

#include <gtest/gtest.h>

#include "source/PictureRotation.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace zel {
namespace {

TEST(PictureRotation, EveryPixelLandsWhereTheTurnPutsIt) {
  const struct {
    AVPixelFormat format;
    int pixelBytes[3];  // per plane
  } layouts[] = {
      {AV_PIX_FMT_YUV420P, {1, 1, 1}}, {AV_PIX_FMT_NV12, {1, 2, 0}},
      {AV_PIX_FMT_RGB24, {3, 0, 0}},   {AV_PIX_FMT_YUV420P10LE, {2, 2, 2}},
      {AV_PIX_FMT_YUV444P, {1, 1, 1}},
  };
  const int sizes[][2] = {{37, 21}, {64, 48}};
  for (const auto& layout : layouts) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(layout.format);
    for (const auto& [w, h] : sizes) {
      av::FramePtr frame = av::MakeFrame();
      frame->format = layout.format;
      frame->width = w;
      frame->height = h;
      ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
      const auto planeSize = [&](int plane, int width, int height) {
        const bool chroma = plane == 1 || plane == 2;
        return std::make_pair(chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width,
                              chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height);
      };
      for (int p = 0; p < 3 && layout.pixelBytes[p] > 0; ++p) {
        const auto [pw, ph] = planeSize(p, w, h);
        for (int y = 0; y < ph; ++y)
          for (int i = 0; i < pw * layout.pixelBytes[p]; ++i)
            frame->data[p][y * frame->linesize[p] + i] = static_cast<std::uint8_t>(y * 31 + i + p);
      }
      for (int degrees : {90, 180, 270}) {
        SCOPED_TRACE(std::string(desc->name) + " " + std::to_string(w) + "x" + std::to_string(h) +
                     " " + std::to_string(degrees));
        PictureRotator rotator(degrees);
        const av::FramePtr turned = rotator.Rotate(frame.get());
        ASSERT_TRUE(turned);
        const bool sideways = degrees != 180;
        ASSERT_EQ(std::make_tuple(turned->format, turned->width, turned->height),
                  std::make_tuple(frame->format, sideways ? h : w, sideways ? w : h));
        int wrong = 0;
        for (int p = 0; p < 3 && layout.pixelBytes[p] > 0; ++p) {
          const int n = layout.pixelBytes[p];
          const auto [pw, ph] = planeSize(p, w, h);
          const auto [tw, th] = planeSize(p, turned->width, turned->height);
          for (int y = 0; y < th; ++y) {
            for (int x = 0; x < tw; ++x) {
              // The source pixel that a clockwise turn brings to (x, y).
              const int sx = degrees == 90 ? y : degrees == 270 ? pw - 1 - y : pw - 1 - x;
              const int sy = degrees == 90 ? ph - 1 - x : degrees == 270 ? x : ph - 1 - y;
              for (int k = 0; k < n; ++k) {
                wrong += turned->data[p][y * turned->linesize[p] + x * n + k] !=
                         frame->data[p][sy * frame->linesize[p] + sx * n + k];
              }
            }
          }
        }
        EXPECT_EQ(wrong, 0);
      }
    }
  }
}

}  // namespace
}  // namespace zel
