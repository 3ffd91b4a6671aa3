// The box buffer's byte layout, marks and checks, and the box walker (a test
// helper) on good and broken input.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "common/BoxWalker.h"
#include "common/TestSupport.h"
#include "container/BoxBuffer.h"
#include "container/ContainerFixtures.h"

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

// The checks stay on in test builds (RelWithDebInfo defines NDEBUG): a box
// laid out wrong is marked broken, nothing is written outside it, and a
// parent inherits its child's fault.
TEST(BoxBufferTest, LayoutErrorsMarkTheBoxBroken) {
  auto closedBox = [] {
    BoxBuffer box("free");
    box.put32(0);
    box.close(12);
    return box;
  };
  const auto brokenBy = [](const std::function<void(BoxBuffer&)>& wrong, BoxBuffer box) {
    wrong(box);
    return box.broken();
  };
  EXPECT_EQ(closedBox().broken(), "");
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.close(12); }, BoxBuffer("free")),
            "box size differs from its layout");
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.patch32(9, 1); }, closedBox()),
            "patched field outside the box");
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.patch16(11, 1); }, closedBox()),
            "patched field outside the box");
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.patch16(~std::size_t{0}, 1); }, closedBox()),
            "patched field outside the box");
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.put8(1); }, closedBox()),
            "fields go before the children");
  EXPECT_EQ(brokenBy([&](BoxBuffer& b) { b.appendChild(closedBox()); }, BoxBuffer("moov")),
            "children are appended to closed boxes");
  BoxBuffer parent("moov");
  parent.close(8);
  parent.appendChild(BoxBuffer("free"));  // an open child
  EXPECT_EQ(parent.broken(), "children are appended to closed boxes");
  BoxBuffer child("trak");
  child.close(4);
  BoxBuffer top("moov");
  top.close(8);
  top.appendChild(child);
  EXPECT_EQ(top.broken(), "box size differs from its layout");
  EXPECT_EQ(closedBox().bytes(), test::Hex("0000000c 'free' 00000000"));
}

std::vector<std::uint8_t> Box(std::uint32_t size, std::string_view type,
                              std::vector<std::uint8_t> payload = {}) {
  std::vector<std::uint8_t> out = Hex("00000000 '" + std::string(type) + "'");
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(BoxWalkerTest, FindsByPathAndIndex) {
  auto trak = [](std::uint8_t n) { return Box(17, "trak", Box(9, "tkhd", {n})); };
  BoxWalker w(
      Join({Box(12, "ftyp", {1, 2, 3, 4}), Box(8 + 8 + 17 + 17, "moov"), Box(8, "mvhd"), trak(1),
            trak(2), Box(1, "mdat", Hex("00000000 00000012 07 08")), Box(0, "free", {5, 5})}));
  ASSERT_TRUE(w.problems().empty()) << w.outline();
  EXPECT_EQ(Tree(w.roots()), "ftyp moov(mvhd trak(tkhd) trak(tkhd)) mdat free");
  EXPECT_EQ(w.findAll("moov/trak").size(), 2u);
  EXPECT_EQ(w.findType("tkhd").size(), 2u);
  EXPECT_EQ(w.u8(w.find("moov/trak[1]/tkhd")->payloadOffset), 2u);
  EXPECT_EQ(w.u8(w.find("moov/trak[0]/tkhd")->payloadOffset), 1u);
  for (const char* missing : {"moov/trak[2]", "moov/trak[x]", "moov/trak[", "moov/nope", ""})
    EXPECT_EQ(w.find(missing), nullptr) << missing;
  const BoxNode& mdat = w.roots()[2];  // a largesize
  EXPECT_EQ(mdat.size, 18u);
  EXPECT_EQ(mdat.payloadOffset, mdat.offset + 16);
  EXPECT_EQ(w.roots()[3].size, 10u);  // size 0 runs to the end
  EXPECT_FALSE(w.read32(w.bytes().size() - 3));
  EXPECT_EQ(w.text(w.bytes().size() - 2, 10), "\x05\x05");
}

TEST(BoxWalkerTest, MalformedSizesStopTheLevel) {
  std::vector<std::uint8_t> deep;
  for (int i = 0; i < 200; ++i)
    deep = Join({Box(static_cast<std::uint32_t>(deep.size() + 8), "moov"), deep});
  const std::pair<std::vector<std::uint8_t>, std::size_t> cases[] = {
      // bytes, roots kept
      {Join({Box(8, "ftyp"), Box(4000, "moov", Box(8, "mvhd"))}), 2},  // past the end
      {Join({Box(8, "ftyp"), Box(4, "moov"), Box(8, "free")}), 1},     // below 8
      {Join({Box(8, "ftyp"), Box(1, "mdat", {0, 0})}), 1},             // largesize cut off
      {Box(1, "mdat", Hex("ffffffff fffffff0")), 1},                   // largesize past the end
      {Box(1, "mdat", Hex("00000000 00000009")), 0},                   // largesize below 16
      {Join({Box(8, "ftyp"), {0, 0, 0}}), 1},                          // stray bytes
      {Box(16, "moov", Box(12, "trak")), 1},                           // child past its parent
      {Box(12, "stsd", {0, 0, 0, 0}), 1},                              // too small for its fields
      {deep, 1},
  };
  for (const auto& [bytes, roots] : cases) {
    BoxWalker w(bytes);
    EXPECT_FALSE(w.problems().empty()) << w.outline();
    EXPECT_EQ(w.roots().size(), roots) << w.outline();
  }
  BoxWalker clamped(cases[0].first);
  EXPECT_EQ(clamped.roots()[1].size, clamped.bytes().size() - 8);
  EXPECT_TRUE(clamped.roots()[1].children.empty());
  EXPECT_EQ(BoxWalker::FromFile("/nonexistent/x.3gp").problems().size(), 1u);
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
    for (int i = 0, flips = 1 + static_cast<int>(random() % 8); i < flips; ++i)
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
