#include "convert/FrameConversion.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zel {

namespace {

// The conversions are fixed-point: colour weights in 1/1024 units, size
// ratios in 1/10000 units. A right shift of a negative value must round
// toward minus infinity, which C++20 guarantees for >> on signed integers.
constexpr int FloorShift(int value, int bits) { return value >> bits; }
static_assert(FloorShift(-1, 10) == -1 && FloorShift(-1025, 10) == -2 && FloorShift(1023, 10) == 0);

constexpr std::uint8_t ClampByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Source coordinate of every target coordinate: floor(10000 * t / ratio),
// held inside the source (only a ratio truncated from a source of 10000
// pixels or more could reach past it).
// Sizes are at most 16384, so a source coordinate fits 16 bits.
std::vector<std::uint16_t> IndexTable(int targetCount, int ratio, int sourceCount) {
  std::vector<std::uint16_t> table(static_cast<std::size_t>(std::max(targetCount, 0)));
  for (int t = 0; t < targetCount; ++t) {
    long long s = 10000LL * t / ratio;
    table[t] = static_cast<std::uint16_t>(std::min<long long>(s, sourceCount - 1));
  }
  return table;
}

// The row and column tables of one scaling, kept between frames: a segment
// scales every frame the same way, and building the tables (a division per
// entry) costs a quarter of scaling a small frame.
struct ScaleTables {
  int sw = 0, sh = 0, tw = 0, th = 0;
  std::vector<std::uint16_t> cols, rows;

  void prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, int xRatio,
               int yRatio) {
    if (sw == sourceWidth && sh == sourceHeight && tw == targetWidth && th == targetHeight) return;
    cols = IndexTable(targetWidth, xRatio, sourceWidth);
    rows = IndexTable(targetHeight, yRatio, sourceHeight);
    sw = sourceWidth;
    sh = sourceHeight;
    tw = targetWidth;
    th = targetHeight;
  }
};

// The inner loops, kept apart so that the compiler knows that source and
// destination rows do not overlap.
// Four samples are stored as one word: byte stores are what the gather costs.
void GatherRow(const std::uint8_t* __restrict in, const std::uint16_t* __restrict cols, int n,
               std::uint8_t* __restrict out) {
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    const std::uint8_t four[4] = {in[cols[x]], in[cols[x + 1]], in[cols[x + 2]], in[cols[x + 3]]};
    std::memcpy(out + x, four, 4);
  }
  for (; x < n; ++x) out[x] = in[cols[x]];
}

// What the two chroma samples add to luma in each byte of a pixel.
struct ChromaTerms {
  int d0, d1, d2;
};
inline ChromaTerms TermsOf(int c2, int c3) {
  return {FloorShift((c3 - 128) * 1436, 10), FloorShift(731 * c3 + 352 * c2 - 138624, 10),
          FloorShift((c2 - 128) * 907, 9)};
}

// One row of pixels; the chroma terms are shared by each pair of columns.
void Yv12Row(const std::uint8_t* __restrict luma, const std::uint8_t* __restrict p2,
             const std::uint8_t* __restrict p3, int w, std::uint8_t* __restrict out) {
  for (int x = 0; x < w; ++x) {
    const ChromaTerms t = TermsOf(p2[x / 2], p3[x / 2]);
    out[3 * x] = ClampByte(luma[x] + t.d0);
    out[3 * x + 1] = ClampByte(luma[x] - t.d1);
    out[3 * x + 2] = ClampByte(luma[x] + t.d2);
  }
}

bool ValidSizes(int w, int h) { return w > 0 && h > 0 && w <= 16384 && h <= 16384; }

}  // namespace

std::size_t ScaleYV12(const VideoSegmentInfo& info, const std::uint8_t* source, std::size_t length,
                      std::uint8_t* destination) {
  const int sw = info.sourceWidth, sh = info.sourceHeight;
  const int tw = info.targetWidth, th = info.targetHeight;
  if (!ValidSizes(sw, sh) || !ValidSizes(tw, th)) return 0;
  const int xRatio = 10000 * tw / sw;
  const int yRatio = 10000 * th / sh;
  if (xRatio <= 0 || yRatio <= 0) return 0;  // a shrink beyond 1/10000 has no ratio

  // One set per thread: each segment's frames are scaled on one streaming thread.
  thread_local ScaleTables tables;
  tables.prepare(sw, sh, tw, th, xRatio, yRatio);
  const std::vector<std::uint16_t>& cols = tables.cols;
  const std::vector<std::uint16_t>& rows = tables.rows;
  const std::size_t sourceLuma = static_cast<std::size_t>(sw) * sh;
  const std::size_t targetLuma = static_cast<std::size_t>(tw) * th;
  const std::size_t sourceSecond = sourceLuma + sourceLuma / 4;
  const std::size_t targetSecond = targetLuma + targetLuma / 4;

  // Chroma reads: row offsets (sourceRow * sourceWidth) / 2 plus the column
  // table. Both grow with the target coordinate, so the last entries give
  // the furthest byte read; a buffer shorter than that is refused.
  const int chromaRows = th / 2, chromaCols = tw / 2;
  std::size_t furthest = sourceLuma * 3 / 2;  // a buffer shorter than one frame is refused
  if (chromaRows > 0 && chromaCols > 0) {
    std::size_t last = static_cast<std::size_t>(rows[chromaRows - 1]) * sw / 2 +
                       static_cast<std::size_t>(cols[chromaCols - 1]);
    furthest = std::max(furthest, sourceSecond + last + 1);
  }
  if (length < furthest) return 0;

  for (int y = 0; y < th; ++y) {
    const std::uint8_t* in = source + static_cast<std::size_t>(rows[y]) * sw;
    std::uint8_t* out = destination + static_cast<std::size_t>(y) * tw;
    GatherRow(in, cols.data(), tw, out);
  }
  for (std::size_t plane : {std::size_t{0}, std::size_t{1}}) {
    const std::uint8_t* in = source + (plane == 0 ? sourceLuma : sourceSecond);
    std::uint8_t* out = destination + (plane == 0 ? targetLuma : targetSecond);
    for (int y = 0; y < chromaRows; ++y) {
      const std::uint8_t* inRow = in + static_cast<std::size_t>(rows[y]) * sw / 2;
      std::uint8_t* outRow = out + static_cast<std::size_t>(tw) * y / 2;
      GatherRow(inRow, cols.data(), chromaCols, outRow);
    }
  }
  return targetLuma * 3 / 2;
}

std::size_t YV12ToRgb24(const VideoSegmentInfo& info, const std::uint8_t* source,
                        std::size_t length, std::uint8_t* destination) {
  const int w = info.sourceWidth, h = info.sourceHeight;
  if (!ValidSizes(w, h)) return 0;
  const std::size_t lumaSize = static_cast<std::size_t>(w) * h;
  if (length < lumaSize) return 0;
  const std::uint8_t* p2 = source + lumaSize;
  const std::uint8_t* p3 = source + lumaSize * 5 / 4;
  // Bytes the buffer holds from each chroma plane's offset on; a sample past
  // them (a short buffer, or the last block row of an odd size) counts as
  // neutral 128 instead of being read from beyond the buffer.
  const std::size_t have2 = length - lumaSize;
  const std::size_t have3 = length > lumaSize * 5 / 4 ? length - lumaSize * 5 / 4 : 0;
  const std::size_t stride = static_cast<std::size_t>(w) * 3;

  for (int y = 0; y < h; ++y) {
    const std::uint8_t* luma = source + static_cast<std::size_t>(y) * w;
    std::uint8_t* out = destination + static_cast<std::size_t>(h - 1 - y) * stride;
    const std::size_t base = static_cast<std::size_t>(y / 2) * w / 2;
    if (base + (w - 1) / 2 < std::min(have2, have3)) {
      Yv12Row(luma, p2 + base, p3 + base, w, out);
      continue;
    }
    for (int x = 0; x < w; ++x, out += 3) {
      const std::size_t c = base + x / 2;
      const int c2 = c < have2 ? p2[c] : 128;
      const int c3 = c < have3 ? p3[c] : 128;
      const ChromaTerms t = TermsOf(c2, c3);
      out[0] = ClampByte(luma[x] + t.d0);
      out[1] = ClampByte(luma[x] - t.d1);
      out[2] = ClampByte(luma[x] + t.d2);
    }
  }
  return lumaSize * 3;
}

}  // namespace zel
