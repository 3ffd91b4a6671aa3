// The box buffer's byte layout and marks, and the walker on good and broken input.

#include <gtest/gtest.h>

#include <random>

#include "common/TestSupport.h"
#include "container/BoxBuffer.h"
#include "common/BoxWalker.h"
#include "container/ContainerFixtures.h"

namespace zel::test {
namespace {

std::vector<std::uint8_t> Box(std::uint32_t size, std::string_view type,
                              std::vector<std::uint8_t> payload = {}) {
  std::vector<std::uint8_t> out = {
      static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
      static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
  for (std::size_t i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(type[i]));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

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
  EXPECT_EQ(box.bytes(), (std::vector<std::uint8_t>{
                             0,    0,    0,    28,   't',  'e', 's', 't', 1, 2, 3, 4, 0xAB, 0x12,
                             0x34, 0xDE, 0xAD, 0xBE, 0xEF, 'a', 'b', 0,   0, 9, 8, 0, 0,    0}));
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
  EXPECT_EQ(top.size(), 10u + 12u + 16u);
  EXPECT_EQ(middle.markOffset(PatchMark::VideoChunkOffsets), 24u);
  ASSERT_EQ(top.markOffset(PatchMark::VideoChunkOffsets), 10u + 24u);
  EXPECT_FALSE(top.markOffset(PatchMark::AudioChunkOffsets));
  top.patch32(*top.markOffset(PatchMark::VideoChunkOffsets), 0x01020304);
  BoxWalker w(top.bytes());
  EXPECT_TRUE(w.problems().empty());
  EXPECT_EQ(w.u32(0), 38u);
  EXPECT_EQ(w.u32(10), 28u);  // middle's size word
  EXPECT_EQ(w.text(14, 4), "midl");
  EXPECT_EQ(w.u32(34), 0x01020304u);
}

TEST(BoxWalkerTest, FindsByPathAndIndex) {
  auto trak = [] { return Box(16, "trak", Box(8, "tkhd")); };
  auto bytes = Join({Box(12, "ftyp", {1, 2, 3, 4}), Box(8 + 8 + 16 + 16 + 16, "moov"),
                     Box(8, "mvhd"), trak(), trak(), Box(16, "udta", Box(8, "titl"))});
  BoxWalker w(bytes);
  ASSERT_TRUE(w.problems().empty()) << w.outline();
  ASSERT_EQ(w.roots().size(), 2u);
  EXPECT_EQ(w.findAll("moov/trak").size(), 2u);
  const BoxNode* second = w.find("moov/trak[1]/tkhd");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->offset, 12u + 8 + 8 + 16 + 8);
  EXPECT_EQ(second->payloadOffset, second->offset + 8);
  EXPECT_EQ(w.find("moov/trak[0]/tkhd")->offset, 12u + 8 + 8 + 8);
  EXPECT_EQ(w.find("moov/trak[2]"), nullptr);
  EXPECT_EQ(w.find("moov/trak[x]"), nullptr);
  EXPECT_EQ(w.find("moov/nope"), nullptr);
  EXPECT_EQ(w.find(""), nullptr);
  EXPECT_EQ(w.findType("tkhd").size(), 2u);
  EXPECT_NE(w.find("moov/udta/titl"), nullptr);
  EXPECT_EQ(w.find("ftyp")->children.size(), 0u);  // leaf boxes are not entered
}

TEST(BoxWalkerTest, SizeZeroRunsToTheEnd) {
  auto bytes = Join({Box(8, "ftyp"), Box(0, "mdat", {1, 2, 3, 4, 5})});
  BoxWalker w(bytes);
  EXPECT_TRUE(w.problems().empty());
  ASSERT_NE(w.find("mdat"), nullptr);
  EXPECT_EQ(w.find("mdat")->size, 13u);
}

TEST(BoxWalkerTest, LargeSize) {
  auto bytes = Join({Box(1, "mdat", {0, 0, 0, 0, 0, 0, 0, 20, 7, 7, 7, 7}), Box(8, "free")});
  BoxWalker w(bytes);
  EXPECT_TRUE(w.problems().empty()) << w.outline();
  ASSERT_EQ(w.roots().size(), 2u);
  EXPECT_EQ(w.roots()[0].size, 20u);
  EXPECT_EQ(w.roots()[0].headerSize, 16u);
  EXPECT_EQ(w.roots()[0].payloadOffset, 16u);
  EXPECT_EQ(w.roots()[1].offset, 20u);
}

TEST(BoxWalkerTest, MalformedSizesStopTheLevel) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t roots;
  };
  const Case cases[] = {
      {"past the end", Join({Box(8, "ftyp"), Box(4000, "moov", Box(8, "mvhd"))}), 2},
      {"below 8", Join({Box(8, "ftyp"), Box(4, "moov"), Box(8, "free")}), 1},
      {"largesize cut off", Join({Box(8, "ftyp"), Box(1, "mdat", {0, 0})}), 1},
      {"largesize past the end", Box(1, "mdat", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}),
       1},
      {"largesize below 16", Box(1, "mdat", {0, 0, 0, 0, 0, 0, 0, 9}), 0},
      {"stray bytes", Join({Box(8, "ftyp"), {0, 0, 0}}), 1},
      {"child past its parent", Box(16, "moov", Box(12, "trak")), 1},
      {"stsd too small", Box(12, "stsd", {0, 0, 0, 0}), 1},
  };
  for (const Case& c : cases) {
    BoxWalker w(c.bytes);
    EXPECT_FALSE(w.problems().empty()) << c.name;
    EXPECT_EQ(w.roots().size(), c.roots) << c.name;
    for (const BoxNode* node : w.findType("moov")) EXPECT_LE(node->end(), c.bytes.size());
  }
  BoxWalker clamped(cases[0].bytes);
  EXPECT_EQ(clamped.roots()[1].size, clamped.bytes().size() - 8);
  EXPECT_TRUE(clamped.roots()[1].children.empty());
}

TEST(BoxWalkerTest, ReadsStayInsideTheBuffer) {
  BoxWalker w(std::vector<std::uint8_t>{1, 2, 3, 4, 5});
  EXPECT_EQ(w.read32(1), 0x02030405u);
  EXPECT_FALSE(w.read32(2));
  EXPECT_FALSE(w.read16(4));
  EXPECT_FALSE(w.read8(5));
  EXPECT_FALSE(w.read64(0));
  EXPECT_FALSE(w.read32(~std::uint64_t{0} - 1));
  EXPECT_FALSE(w.read64(~std::uint64_t{0} - 3));
  EXPECT_EQ(w.text(3, 10), "\x04\x05");
  EXPECT_EQ(w.text(~std::uint64_t{0}, 4), "");
  EXPECT_EQ(BoxWalker::FromFile("/nonexistent/x.3gp").problems().size(), 1u);
}

TEST(BoxWalkerTest, DeepNestingIsCut) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 200; ++i) {
    bytes = Join({Box(static_cast<std::uint32_t>(bytes.size() + 8), "moov"), bytes});
  }
  BoxWalker w(bytes);
  EXPECT_FALSE(w.problems().empty());
}

// Random damage to a real file must never make the walker read outside it
// (the sanitizer build checks the reads; here every box must lie inside).
TEST(BoxWalkerTest, SurvivesDamagedFiles) {
  TempDir dir;
  auto s = WorkedExample();
  ASSERT_NE(Write(*s, dir.file("a.avi"), FileKind::ThreeGp, ContainerMode::Both), 0u);
  auto good = ReadFileBytes(dir.file("a.3gp"));
  std::mt19937 random(1234);
  for (int round = 0; round < 3000; ++round) {
    auto bytes = good;
    int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i)
      bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    if (round % 3 == 0) bytes.resize(random() % bytes.size());
    BoxWalker w(bytes);
    std::vector<const BoxNode*> stack;
    for (const auto& root : w.roots()) stack.push_back(&root);
    while (!stack.empty()) {
      const BoxNode* node = stack.back();
      stack.pop_back();
      ASSERT_LE(node->end(), bytes.size());
      ASSERT_GE(node->size, node->headerSize);
      for (const auto& child : node->children) {
        ASSERT_GE(child.offset, node->payloadOffset);
        ASSERT_LE(child.end(), node->end());
        stack.push_back(&child);
      }
    }
  }
}

}  // namespace
}  // namespace zel::test
