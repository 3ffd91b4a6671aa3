#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/TestSupport.h"
#include "convert/BmpFile.h"
#include "convert/Thumbnail.h"

namespace zel {
namespace {

using test::Hex;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

// The header of a 5x2 image: 30 pixel bytes (rows of 15, unpadded), 88 in all.
const std::string kHeader5x2 =
    "'BM' 58000000 00000000 3a000000"                // type, file size, reserved, offset 58
    "28000000 05000000 02000000 0100 1800 00000000"  // header size, 5 x 2 bottom-up, 24 bits
    "1e000000 00000000 00000000 00000000 00000000"   // image size, resolutions, colours
    "00000000";                                      // the one colour entry

Bytes Sequence(std::size_t size, std::uint8_t first = 0) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(BmpFileTest, WritesTheHeaderAndUnpaddedRowsByteForByte) {
  TempDir dir;
  const Bytes pixels = Sequence(30, 1);
  ASSERT_TRUE(WriteBmpFile(dir.file("f.bmp"), 5, 2, pixels.data(), pixels.size()));
  EXPECT_EQ(ReadFileBytes(dir.file("f.bmp")), Concat(Hex(kHeader5x2), pixels));
  EXPECT_EQ(BuildBmpHeader(5, 2), Hex(kHeader5x2));
  for (auto [w, h] : {std::pair{0, 2}, {4, 0}, {-4, 2}, {100000, 100000}})  // the last: > 32 bits
    EXPECT_TRUE(BuildBmpHeader(w, h).empty()) << w << "x" << h;
}

TEST(BmpFileTest, ReadsBackWhatItWrote) {
  TempDir dir;
  for (const auto& [w, h] : {std::pair{1, 1}, {5, 2}, {4, 2}, {7, 3}, {2, 9}}) {
    const Bytes pixels = Sequence(static_cast<std::size_t>(w * h * 3), 7);
    ASSERT_TRUE(WriteBmpFile(dir.file("f.bmp"), w, h, pixels.data(), pixels.size()));
    const std::optional<BmpImage> image = ReadBmpFile(dir.file("f.bmp"));
    ASSERT_TRUE(image) << w << "x" << h;
    EXPECT_EQ(std::make_tuple(image->width, image->height, image->pixels),
              std::make_tuple(w, h, pixels));
  }
}

// Other writers pad rows to four bytes and may store them top-down.
TEST(BmpFileTest, ReadsPaddedAndTopDownRows) {
  TempDir dir;
  const Bytes bottom = Sequence(15, 100), top = Sequence(15, 200);
  Bytes file = Hex(kHeader5x2);
  file[34] = 32;  // image size of two padded 16-byte rows
  file = Concat(Concat(Concat(Concat(file, bottom), {0}), top), {0});
  for (bool topDown : {false, true}) {
    if (topDown) file[22] = 0xFE, file[23] = file[24] = file[25] = 0xFF;  // height -2
    WriteFileBytes(dir.file("f.bmp"), file);
    std::optional<BmpImage> image = ReadBmpFile(dir.file("f.bmp"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->pixels, topDown ? Concat(top, bottom) : Concat(bottom, top));
  }
}

TEST(BmpFileTest, RejectsMalformedFiles) {
  TempDir dir;
  const Bytes good = Concat(Hex(kHeader5x2), Sequence(30));
  const std::pair<std::size_t, std::uint8_t> damage[] = {
      {0, 'X'},    // type
      {28, 32},    // 32 bits per pixel
      {30, 1},     // compressed
      {18, 0},     // width 0
      {21, 0x7F},  // an enormous width the file cannot hold
      {10, 0xFF},  // pixels beyond the end of the file
  };
  EXPECT_FALSE(ReadBmpFile(dir.file("missing.bmp")));
  const auto reads = [&](const Bytes& file) {
    WriteFileBytes(dir.file("f.bmp"), file);
    return ReadBmpFile(dir.file("f.bmp")).has_value();
  };
  EXPECT_TRUE(reads(good));
  EXPECT_FALSE(reads(Bytes(good.begin(), good.end() - 1)));  // one byte short
  EXPECT_FALSE(reads(Bytes(good.begin(), good.begin() + 20)));
  EXPECT_FALSE(reads({}));
  for (auto [at, value] : damage) {
    Bytes bad = good;
    bad[at] = value;
    EXPECT_FALSE(reads(bad)) << at;
  }
}

// Short pixels, a missing folder and a bad size write nothing.
TEST(BmpFileTest, FailedWritesLeaveNothing) {
  TempDir dir;
  const Bytes pixels = Sequence(4 * 2 * 3);
  EXPECT_FALSE(WriteBmpFile(dir.file("short.bmp"), 4, 2, pixels.data(), pixels.size() - 1));
  EXPECT_FALSE(WriteBmpFile(dir.file("no/such/f.bmp"), 4, 2, pixels.data(), pixels.size()));
  EXPECT_FALSE(WriteBmpFile(dir.file("zero.bmp"), 0, 2, pixels.data(), pixels.size()));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A YV12 frame at the source size: luma 50 on the top row, 200 on the bottom,
// neutral chroma, written bottom-up; RGB24 frames are copied as they are.
TEST(BmpFileTest, ThumbnailBmpFromYv12OrRgb24) {
  TempDir dir;
  const VideoSegmentInfo info = FrameSizes(6, 2, 6, 2);
  Bytes yv12(6 * 2 * 3 / 2, 128);
  std::fill(yv12.begin(), yv12.begin() + 6, 50);
  std::fill(yv12.begin() + 6, yv12.begin() + 12, 200);
  ASSERT_TRUE(WriteThumbnailBmp(info, false, yv12.data(), yv12.size(), dir.file("yv12.bmp")));
  EXPECT_EQ(ReadFileBytes(dir.file("yv12.bmp")),
            Concat(BuildBmpHeader(6, 2), Concat(Bytes(18, 200), Bytes(18, 50))));
  const Bytes rgb = Sequence(6 * 2 * 3, 3);
  ASSERT_TRUE(WriteThumbnailBmp(info, true, rgb.data(), rgb.size(), dir.file("rgb.bmp")));
  EXPECT_EQ(ReadFileBytes(dir.file("rgb.bmp")), Concat(BuildBmpHeader(6, 2), rgb));
  // A frame shorter than the source size writes nothing.
  EXPECT_FALSE(WriteThumbnailBmp(info, true, rgb.data(), rgb.size() - 1, dir.file("short.bmp")));
  EXPECT_FALSE(WriteThumbnailBmp(info, false, yv12.data(), yv12.size() - 1, dir.file("short.bmp")));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "short.bmp"));
}

}  // namespace
}  // namespace zel
