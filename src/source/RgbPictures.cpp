#include "source/RgbPictures.h"

#include <algorithm>

namespace zel {

const AVFrame* RgbPictures::Convert(const AVFrame* picture, AVPixelFormat format, int width,
                                    int height, av::SwsPtr& sws, av::FramePtr& target) {
  if (picture == nullptr || picture->width <= 0 || picture->height <= 0 || width <= 0 ||
      height <= 0) {
    return nullptr;
  }
  if (!target || target->width != width || target->height != height) {
    target = av::MakeFrame();
    if (!target) return nullptr;
    target->format = format;
    target->width = width;
    target->height = height;
    if (av_frame_get_buffer(target.get(), 0) < 0) {
      target.reset();
      return nullptr;
    }
  }
  sws.reset(sws_getCachedContext(sws.release(), picture->width, picture->height,
                                 static_cast<AVPixelFormat>(picture->format), width, height, format,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!sws || sws_scale(sws.get(), picture->data, picture->linesize, 0, picture->height,
                        target->data, target->linesize) <= 0) {
    return nullptr;
  }
  return target.get();
}

const AVFrame* RgbPictures::ToRgb32(const AVFrame* picture, int width, int height) {
  // AV_PIX_FMT_RGB32 is ARGB in a native 32-bit word; from pictures without
  // alpha swscale fills it with 0xff.
  return Convert(picture, AV_PIX_FMT_RGB32, width, height, rgb32Sws_, rgb32_);
}

bool RgbPictures::ToRgb32Into(const AVFrame* picture, int width, int height,
                              av::FramePtr& target) {
  return Convert(picture, AV_PIX_FMT_RGB32, width, height, rgb32Sws_, target) != nullptr;
}

bool RgbPictures::ToBgr24BottomUp(const AVFrame* picture, std::vector<std::uint8_t>& out) {
  const AVFrame* rgb = Convert(picture, AV_PIX_FMT_BGR24, picture ? picture->width : 0,
                               picture ? picture->height : 0, bgr24Sws_, bgr24_);
  if (rgb == nullptr) {
    return false;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(rgb->width) * 3;
  out.resize(rowBytes * rgb->height);
  for (int y = 0; y < rgb->height; ++y) {
    const std::uint8_t* row = rgb->data[0] + static_cast<std::ptrdiff_t>(y) * rgb->linesize[0];
    std::copy_n(row, rowBytes, out.data() + rowBytes * (rgb->height - 1 - y));
  }
  return true;
}

}  // namespace zel
