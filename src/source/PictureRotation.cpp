#include "source/PictureRotation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace zel {

namespace {

// Square tiles of the destination, small enough that the source rows one
// tile reads stay in the first-level cache.
constexpr int kTile = 32;

struct PlaneWalk {
  const std::uint8_t* origin;  // the source pixel that lands at the top left
  std::ptrdiff_t columnStep;   // source bytes per destination column
  std::ptrdiff_t rowStep;      // source bytes per destination row
};

// Where the source pixel of each destination pixel lies, for a plane of
// width x height pixels of `bytes` bytes each.
PlaneWalk Walk(const std::uint8_t* plane, std::ptrdiff_t stride, int width, int height,
               std::ptrdiff_t bytes, int degrees) {
  const std::ptrdiff_t lastRow = (height - 1) * stride, lastColumn = (width - 1) * bytes;
  switch (degrees) {
    case 90:  // the left column becomes the top row
      return {plane + lastRow, -stride, bytes};
    case 270:  // the right column becomes the top row
      return {plane + lastColumn, stride, -bytes};
    default:  // 180
      return {plane + lastRow + lastColumn, -bytes, -stride};
  }
}

// Destination pixels [x0, x1) of row y, one at a time.
template <int kBytes>
void TurnRun(const PlaneWalk& walk, std::uint8_t* target, std::ptrdiff_t targetStride, int y,
             int x0, int x1) {
  const std::uint8_t* from = walk.origin + y * walk.rowStep + x0 * walk.columnStep;
  std::uint8_t* to = target + y * targetStride + std::ptrdiff_t{x0} * kBytes;
  for (int x = x0; x < x1; ++x, from += walk.columnStep, to += kBytes) {
    std::memcpy(to, from, kBytes);
  }
}

// An 8 x 8 block of a byte plane turned on its side: eight words of eight
// source bytes (one destination column each) transposed in registers
// rather than moved byte by byte. The source's bytes of a column lie side
// by side (rowStep 1), or backwards (-1).
void TurnBlock(const PlaneWalk& walk, std::uint8_t* target, std::ptrdiff_t targetStride, int x,
               int y) {
  std::uint64_t w[8];
  for (int i = 0; i < 8; ++i) {
    const std::uint8_t* from = walk.origin + y * walk.rowStep + (x + i) * walk.columnStep;
    std::memcpy(&w[i], walk.rowStep < 0 ? from - 7 : from, 8);
    if (walk.rowStep < 0) w[i] = __builtin_bswap64(w[i]);
  }
  // Byte j of w[i] is the pixel at column x + i, row y + j: swap the
  // off-diagonal 4 x 4, 2 x 2 and 1 x 1 blocks (byte j sits at bits 8j).
  const auto swap = [&w](int a, int b, int shift, std::uint64_t mask) {
    const std::uint64_t t = ((w[a] >> shift) ^ w[b]) & mask;
    w[a] ^= t << shift;
    w[b] ^= t;
  };
  constexpr std::uint64_t kHalves = 0x00000000ffffffffULL, kPairs = 0x0000ffff0000ffffULL,
                          kBytes = 0x00ff00ff00ff00ffULL;
  swap(0, 4, 32, kHalves), swap(1, 5, 32, kHalves), swap(2, 6, 32, kHalves);
  swap(3, 7, 32, kHalves);
  swap(0, 2, 16, kPairs), swap(1, 3, 16, kPairs), swap(4, 6, 16, kPairs), swap(5, 7, 16, kPairs);
  swap(0, 1, 8, kBytes), swap(2, 3, 8, kBytes), swap(4, 5, 8, kBytes), swap(6, 7, 8, kBytes);
  for (int j = 0; j < 8; ++j) std::memcpy(target + (y + j) * targetStride + x, &w[j], 8);
}

// A byte plane turned on its side in 8 x 8 blocks, a band of 64
// destination rows at a time: each source row's cache line (64 pixels of
// it) is read from memory once and used whole, the next block's rows
// fetched while the current one is turned.
void TurnBytePlaneSideways(const PlaneWalk& walk, std::uint8_t* target, std::ptrdiff_t targetStride,
                           int targetWidth, int targetHeight) {
  constexpr int kBand = 64;
  const int blockWidth = targetWidth & ~7, blockHeight = targetHeight & ~7;
  for (int ty = 0; ty < blockHeight; ty += kBand) {
    const int bandEnd = std::min(ty + kBand, blockHeight);
    for (int x = 0; x < blockWidth; x += 8) {
      if (x + 16 <= blockWidth) {
        for (int i = 8; i < 16; ++i) {
          __builtin_prefetch(walk.origin + ty * walk.rowStep + (x + i) * walk.columnStep);
        }
      }
      for (int y = ty; y < bandEnd; y += 8) TurnBlock(walk, target, targetStride, x, y);
    }
  }
  for (int y = 0; y < targetHeight; ++y) {
    TurnRun<1>(walk, target, targetStride, y, y < blockHeight ? blockWidth : 0, targetWidth);
  }
}

template <int kBytes>
void TurnPlane(const PlaneWalk& walk, std::uint8_t* target, std::ptrdiff_t targetStride,
               int targetWidth, int targetHeight) {
  if (kBytes == 1 && std::endian::native == std::endian::little &&
      (walk.rowStep == 1 || walk.rowStep == -1)) {
    TurnBytePlaneSideways(walk, target, targetStride, targetWidth, targetHeight);
    return;
  }
  if (kBytes == 1 && std::endian::native == std::endian::little && walk.columnStep == -1) {
    // Upside down: each row is a source row backwards, eight bytes at a time.
    for (int y = 0; y < targetHeight; ++y) {
      const std::uint8_t* from = walk.origin + y * walk.rowStep;
      std::uint8_t* to = target + y * targetStride;
      int x = 0;
      for (; x + 8 <= targetWidth; x += 8) {
        std::uint64_t word;
        std::memcpy(&word, from - x - 7, 8);
        word = __builtin_bswap64(word);
        std::memcpy(to + x, &word, 8);
      }
      TurnRun<1>(walk, target, targetStride, y, x, targetWidth);
    }
    return;
  }
  for (int ty = 0; ty < targetHeight; ty += kTile) {
    const int rowEnd = std::min(ty + kTile, targetHeight);
    for (int tx = 0; tx < targetWidth; tx += kTile) {
      const int columnEnd = std::min(tx + kTile, targetWidth);
      for (int y = ty; y < rowEnd; ++y)
        TurnRun<kBytes>(walk, target, targetStride, y, tx, columnEnd);
    }
  }
}

// The bytes of one pixel of a plane when the plane's pixels can be moved as
// whole units (a byte or word per sample, or all of a pixel's samples
// interleaved, as in NV12's chroma or RGB24); 0 otherwise.
int PixelBytes(AVPixelFormat format, int plane, int width, int degrees) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (desc == nullptr ||
      (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL))) {
    return 0;
  }
  // Turned on its side, a plane sampled more sparsely across than down
  // would need a format of its own.
  if (degrees != 180 && desc->log2_chroma_w != desc->log2_chroma_h) return 0;
  const bool chroma = plane == 1 || plane == 2;
  const int planeWidth = chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
  const int lineBytes = av_image_get_linesize(format, width, plane);
  if (planeWidth <= 0 || lineBytes <= 0 || lineBytes % planeWidth != 0) return 0;
  const int bytes = lineBytes / planeWidth;
  return bytes == 1 || bytes == 2 || bytes == 3 || bytes == 4 || bytes == 6 || bytes == 8 ? bytes
                                                                                          : 0;
}

bool Turnable(const AVFrame* frame, int degrees) {
  const auto format = static_cast<AVPixelFormat>(frame->format);
  const int planes = av_pix_fmt_count_planes(format);
  if (planes <= 0) return false;
  for (int plane = 0; plane < planes; ++plane) {
    if (PixelBytes(format, plane, frame->width, degrees) == 0) return false;
  }
  return true;
}

}  // namespace

int DisplayRotation(const AVStream* stream) {
  std::size_t size = 0;
  const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix == nullptr || size < 9 * sizeof(std::int32_t)) return 0;
  // The matrix's angle runs counter-clockwise; NaN for a degenerate matrix.
  const double angle = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
  if (!std::isfinite(angle)) return 0;
  const double clockwise = std::fmod(std::fmod(-angle, 360.0) + 360.0, 360.0);
  const long quarter = std::lround(clockwise / 90.0);
  if (std::fabs(clockwise - 90.0 * static_cast<double>(quarter)) > 1.0) return 0;
  return static_cast<int>(quarter % 4) * 90;
}

av::FramePtr PictureRotator::Rotate(const AVFrame* frame) {
  if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return nullptr;
  if (degrees_ == 0) return av::FramePtr(av_frame_clone(frame));
  const AVFrame* source = frame;
  if (!Turnable(frame, degrees_)) {
    if (!spread_ || spread_->width != frame->width || spread_->height != frame->height) {
      spread_ = av::MakeFrame();
      if (!spread_) return nullptr;
      spread_->format = AV_PIX_FMT_YUV444P;
      spread_->width = frame->width;
      spread_->height = frame->height;
      if (av_frame_get_buffer(spread_.get(), 0) < 0) {
        spread_.reset();
        return nullptr;
      }
    }
    sws_.reset(sws_getCachedContext(
        sws_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        frame->width, frame->height, AV_PIX_FMT_YUV444P, SWS_POINT, nullptr, nullptr, nullptr));
    if (!sws_ || sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height,
                           spread_->data, spread_->linesize) <= 0) {
      return nullptr;
    }
    source = spread_.get();
  }
  const bool sideways = TurnsSideways(degrees_);
  av::FramePtr turned = av::MakeFrame();
  if (!turned) return nullptr;
  turned->format = source->format;
  turned->width = sideways ? source->height : source->width;
  turned->height = sideways ? source->width : source->height;
  if (av_frame_get_buffer(turned.get(), 0) < 0 || av_frame_copy_props(turned.get(), frame) < 0) {
    return nullptr;
  }
  if (sideways) std::swap(turned->sample_aspect_ratio.num, turned->sample_aspect_ratio.den);
  const auto format = static_cast<AVPixelFormat>(source->format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  for (int plane = 0; plane < av_pix_fmt_count_planes(format); ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int width = chroma ? AV_CEIL_RSHIFT(source->width, desc->log2_chroma_w) : source->width;
    const int height =
        chroma ? AV_CEIL_RSHIFT(source->height, desc->log2_chroma_h) : source->height;
    const int bytes = PixelBytes(format, plane, source->width, degrees_);
    const PlaneWalk walk =
        Walk(source->data[plane], source->linesize[plane], width, height, bytes, degrees_);
    const int targetWidth = sideways ? height : width, targetHeight = sideways ? width : height;
    std::uint8_t* target = turned->data[plane];
    const std::ptrdiff_t stride = turned->linesize[plane];
    // PixelBytes allows only the sizes that have a turner here.
    using Turner = void (*)(const PlaneWalk&, std::uint8_t*, std::ptrdiff_t, int, int);
    constexpr Turner kTurners[] = {nullptr, TurnPlane<1>, TurnPlane<2>, TurnPlane<3>, TurnPlane<4>,
                                   nullptr, TurnPlane<6>, nullptr,      TurnPlane<8>};
    kTurners[bytes](walk, target, stride, targetWidth, targetHeight);
  }
  return turned;
}

}  // namespace zel
