#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/TestSupport.h"
#include "convert/BmpFile.h"
#include "convert/Thumbnail.h"

namespace zel {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

// The header of a 4x2 image: 24 pixel bytes, 82 in all.
const Bytes kHeader4x2 = {'B',  'M',                // type
                          0x52, 0x00, 0x00, 0x00,   // file size 82
                          0x00, 0x00, 0x00, 0x00,   // reserved
                          0x3A, 0x00, 0x00, 0x00,   // pixel offset 58
                          0x28, 0x00, 0x00, 0x00,   // header size 40
                          0x04, 0x00, 0x00, 0x00,   // width 4
                          0x02, 0x00, 0x00, 0x00,   // height 2, bottom-up
                          0x01, 0x00,               // planes
                          0x18, 0x00,               // 24 bits per pixel
                          0x00, 0x00, 0x00, 0x00,   // uncompressed
                          0x18, 0x00, 0x00, 0x00,   // image size 24
                          0x00, 0x00, 0x00, 0x00,   // horizontal resolution
                          0x00, 0x00, 0x00, 0x00,   // vertical resolution
                          0x00, 0x00, 0x00, 0x00,   // colours used
                          0x00, 0x00, 0x00, 0x00,   // important colours
                          0x00, 0x00, 0x00, 0x00};  // the one colour entry

Bytes Sequence(std::size_t size, std::uint8_t first = 0) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

TEST(BmpFileTest, HeaderOfFourByTwoByteForByte) {
  ASSERT_EQ(kHeader4x2.size(), kBmpHeaderSize);
  EXPECT_EQ(BuildBmpHeader(4, 2), kHeader4x2);
}

TEST(BmpFileTest, HeaderOfInvalidSizesIsEmpty) {
  EXPECT_TRUE(BuildBmpHeader(0, 2).empty());
  EXPECT_TRUE(BuildBmpHeader(4, 0).empty());
  EXPECT_TRUE(BuildBmpHeader(-4, 2).empty());
  EXPECT_TRUE(BuildBmpHeader(100000, 100000).empty());  // beyond the 32-bit size fields
}

TEST(BmpFileTest, WritesRowsUnpaddedInTheGivenOrder) {
  TempDir dir;
  const std::string path = dir.file("f.bmp");
  const Bytes pixels = Sequence(5 * 2 * 3, 1);  // rows of 15 bytes, not a multiple of 4
  ASSERT_TRUE(WriteBmpFile(path, 5, 2, pixels.data(), pixels.size()));
  const Bytes file = ReadFileBytes(path);
  ASSERT_EQ(file.size(), 58u + 30u);
  Bytes expectedHeader = BuildBmpHeader(5, 2);
  EXPECT_EQ(expectedHeader[2], 58 + 30);  // file size
  EXPECT_EQ(expectedHeader[18], 5);       // width
  EXPECT_EQ(expectedHeader[34], 30);      // image size
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 58), expectedHeader);
  EXPECT_EQ(Bytes(file.begin() + 58, file.end()), pixels);
}

TEST(BmpFileTest, ReadsBackWhatItWrote) {
  TempDir dir;
  for (const auto& [w, h] : {std::pair{1, 1}, {5, 2}, {4, 2}, {7, 3}, {2, 9}}) {
    const std::string path = dir.file("f.bmp");
    const Bytes pixels = Sequence(static_cast<std::size_t>(w * h * 3), 7);
    ASSERT_TRUE(WriteBmpFile(path, w, h, pixels.data(), pixels.size()));
    const std::optional<BmpImage> image = ReadBmpFile(path);
    ASSERT_TRUE(image) << w << "x" << h;
    EXPECT_EQ(image->width, w);
    EXPECT_EQ(image->height, h);
    EXPECT_EQ(image->pixels, pixels);
  }
}

TEST(BmpFileTest, ReadsPaddedAndTopDownRowsOfOtherWriters) {
  TempDir dir;
  const std::string path = dir.file("f.bmp");
  Bytes file = BuildBmpHeader(5, 2);
  file[34] = 32;  // image size of two padded 16-byte rows
  file[2] = 58 + 32;
  const Bytes bottom = Sequence(15, 100), top = Sequence(15, 200);
  file.insert(file.end(), bottom.begin(), bottom.end());
  file.insert(file.end(), {0});
  file.insert(file.end(), top.begin(), top.end());
  file.insert(file.end(), {0});
  WriteFileBytes(path, file);
  std::optional<BmpImage> image = ReadBmpFile(path);
  ASSERT_TRUE(image);
  Bytes expected = bottom;
  expected.insert(expected.end(), top.begin(), top.end());
  EXPECT_EQ(image->pixels, expected);

  // negative height: the first row is the top one
  file[22] = 0xFE;
  file[23] = file[24] = file[25] = 0xFF;
  WriteFileBytes(path, file);
  image = ReadBmpFile(path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->height, 2);
  expected = top;
  expected.insert(expected.end(), bottom.begin(), bottom.end());
  EXPECT_EQ(image->pixels, expected);
}

TEST(BmpFileTest, RejectsMalformedFiles) {
  TempDir dir;
  const std::string path = dir.file("f.bmp");
  const Bytes pixels = Sequence(4 * 2 * 3);
  Bytes good = BuildBmpHeader(4, 2);
  good.insert(good.end(), pixels.begin(), pixels.end());

  EXPECT_FALSE(ReadBmpFile(dir.file("missing.bmp")));
  const auto rejects = [&](Bytes file) {
    WriteFileBytes(path, file);
    return !ReadBmpFile(path).has_value();
  };
  EXPECT_FALSE(rejects(good));
  EXPECT_TRUE(rejects(Bytes(good.begin(), good.end() - 1)));  // one byte short
  EXPECT_TRUE(rejects(Bytes(good.begin(), good.begin() + 20)));
  EXPECT_TRUE(rejects({}));
  Bytes bad = good;
  bad[0] = 'X';
  EXPECT_TRUE(rejects(bad));
  bad = good;
  bad[28] = 32;  // 32 bits per pixel
  EXPECT_TRUE(rejects(bad));
  bad = good;
  bad[30] = 1;  // compressed
  EXPECT_TRUE(rejects(bad));
  bad = good;
  bad[18] = 0;  // width 0
  EXPECT_TRUE(rejects(bad));
  bad = good;
  bad[21] = 0x7F;  // an enormous width the file cannot hold
  EXPECT_TRUE(rejects(bad));
  bad = good;
  bad[10] = 0xFF;  // pixels beyond the end of the file
  EXPECT_TRUE(rejects(bad));
}

TEST(BmpFileTest, FailedWritesLeaveNothing) {
  TempDir dir;
  const Bytes pixels = Sequence(4 * 2 * 3);
  EXPECT_FALSE(WriteBmpFile(dir.file("short.bmp"), 4, 2, pixels.data(), pixels.size() - 1));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "short.bmp"));
  EXPECT_FALSE(WriteBmpFile(dir.file("no/such/f.bmp"), 4, 2, pixels.data(), pixels.size()));
  EXPECT_FALSE(WriteBmpFile(dir.file("zero.bmp"), 0, 2, pixels.data(), pixels.size()));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A frame description at the source size.
VideoSegmentInfo Info(int width, int height) { return FrameSizes(width, height, width, height); }

TEST(BmpFileTest, UniformGreyYv12FrameGivesAllBytes128) {
  TempDir dir;
  const std::string path = dir.file("grey.bmp");
  const Bytes frame(6 * 4 * 3 / 2, 128);
  ASSERT_TRUE(WriteThumbnailBmp(Info(6, 4), false, frame.data(), frame.size(), path));
  const Bytes file = ReadFileBytes(path);
  ASSERT_EQ(file.size(), 58u + 6 * 4 * 3);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 58), BuildBmpHeader(6, 4));
  for (std::size_t i = 58; i < file.size(); ++i) ASSERT_EQ(file[i], 128) << i;
}

TEST(BmpFileTest, ThumbnailBmpRowsAreBottomUp) {
  TempDir dir;
  const std::string path = dir.file("rows.bmp");
  // luma 50 on the top row, 200 on the bottom row, neutral chroma
  Bytes frame(5 * 2 * 3 / 2, 128);
  std::fill(frame.begin(), frame.begin() + 5, 50);
  std::fill(frame.begin() + 5, frame.begin() + 10, 200);
  ASSERT_TRUE(WriteThumbnailBmp(Info(5, 2), false, frame.data(), frame.size(), path));
  const Bytes file = ReadFileBytes(path);
  ASSERT_EQ(file.size(), 58u + 30u);  // two rows of 15 bytes, no padding
  EXPECT_EQ(Bytes(file.begin() + 58, file.begin() + 73), Bytes(15, 200));
  EXPECT_EQ(Bytes(file.begin() + 73, file.end()), Bytes(15, 50));
}

TEST(BmpFileTest, Rgb24FramesAreCopiedAsTheyAre) {
  TempDir dir;
  const std::string path = dir.file("rgb.bmp");
  const Bytes frame = Sequence(5 * 3 * 3, 3);
  ASSERT_TRUE(WriteThumbnailBmp(Info(5, 3), true, frame.data(), frame.size(), path));
  const Bytes file = ReadFileBytes(path);
  EXPECT_EQ(Bytes(file.begin() + 58, file.end()), frame);

  // a frame shorter than the source size writes nothing
  EXPECT_FALSE(
      WriteThumbnailBmp(Info(5, 3), true, frame.data(), frame.size() - 1, dir.file("short.bmp")));
  EXPECT_FALSE(
      WriteThumbnailBmp(Info(5, 3), false, frame.data(), 5 * 3 * 3 / 2 - 1, dir.file("short.bmp")));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "short.bmp"));
}

}  // namespace
}  // namespace zel
