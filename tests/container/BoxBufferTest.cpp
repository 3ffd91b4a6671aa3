// The box buffer's byte layout, marks and checks.

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "container/BoxBuffer.h"

namespace zel::test {
namespace {

TEST(BoxBufferTest, FieldsAreBigEndian) {
  BoxBuffer box = BoxBuffer::Full("test", 1, 0x020304);
  box.put8(0xAB);
  box.put16(0x1234);
  box.put32(0xDEADBEEF);
  box.putFourcc("ab");
  const std::uint8_t raw[] = {9, 8};
  box.putBytes(raw, 2);
  box.putZeros(3);
  box.close(28);
  EXPECT_EQ(box.bytes(), Hex("0000001c 'test' 01020304 ab 1234 deadbeef 'ab' 0000 0908 000000"));
}

TEST(BoxBufferTest, ChildrenFollowFieldsAndCarryTheirMarks) {
  BoxBuffer leaf("leaf");
  leaf.put32(7);
  leaf.mark(PatchMark::VideoChunkOffsets);
  leaf.put32(0);
  leaf.close(16);
  BoxBuffer middle = BoxBuffer::Full("midl", 0, 0);
  middle.close(12);
  middle.appendChild(leaf);
  BoxBuffer top("topp");
  top.put16(0x5555);
  top.close(10);
  top.appendChild(middle);
  EXPECT_EQ(middle.markOffset(PatchMark::VideoChunkOffsets), 24u);
  ASSERT_EQ(top.markOffset(PatchMark::VideoChunkOffsets), 10u + 24u);
  EXPECT_FALSE(top.markOffset(PatchMark::AudioChunkOffsets));
  top.patch32(*top.markOffset(PatchMark::VideoChunkOffsets), 0x01020304);
  top.patch16(8, 0x6666);
  EXPECT_EQ(top.bytes(), Hex("00000026 'topp' 6666 0000001c 'midl' 00000000 00000010 'leaf' "
                             "00000007 01020304"));
}

// The checks stay on in test builds (RelWithDebInfo defines NDEBUG).
TEST(BoxBufferDeathTest, LayoutErrorsStopTheProgram) {
  auto closedBox = [] {
    BoxBuffer box("free");
    box.put32(0);
    box.close(12);
    return box;
  };
  EXPECT_DEATH(BoxBuffer("free").close(12), "box size differs from its layout");
  EXPECT_DEATH(closedBox().patch32(9, 1), "patched field outside the box");
  EXPECT_DEATH(closedBox().patch16(11, 1), "patched field outside the box");
  EXPECT_DEATH(closedBox().patch16(~std::size_t{0}, 1), "patched field outside the box");
  EXPECT_DEATH(closedBox().put8(1), "fields go before the children");
  EXPECT_DEATH(BoxBuffer("moov").appendChild(closedBox()), "appended to closed boxes");
}

}  // namespace
}  // namespace zel::test
