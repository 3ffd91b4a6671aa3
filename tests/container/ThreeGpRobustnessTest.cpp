// The box buffer's byte layout, marks and checks; and what the plain layout
// does not cover: look-alike bytes, long stores, long decoder configurations,
// names, the clock and failing writes.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>

#include "common/TestSupport.h"
#include "container/BoxBuffer.h"
#include "container/ContainerFixtures.h"
#include "container/ThreeGpBoxes.h"

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
  const std::pair<std::function<void(BoxBuffer&)>, const char*> wrongs[] = {
      {[](BoxBuffer& b) { b.patch32(9, 1); }, "patched field outside the box"},
      {[](BoxBuffer& b) { b.patch16(11, 1); }, "patched field outside the box"},
      {[](BoxBuffer& b) { b.patch16(~std::size_t{0}, 1); }, "patched field outside the box"},
      {[](BoxBuffer& b) { b.put8(1); }, "fields go before the children"},
  };
  for (const auto& [wrong, reason] : wrongs) EXPECT_EQ(brokenBy(wrong, closedBox()), reason);
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.close(12); }, BoxBuffer("free")),
            "box size differs from its layout");
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

const std::string kVideoStbl = "moov/trak[0]/mdia/minf/stbl/";
const std::string kAudioStbl = "moov/trak[1]/mdia/minf/stbl/";

// Patched fields are found by structure: bytes that look like box types or
// the dcmd placeholder, in the title and both configurations, stay as given.
TEST(RobustnessTest, LookAlikeTypesInTitleAndConfigAreLeftAlone) {
  TempDir dir;
  auto s = WorkedExample();
  const std::string trap("stco\0\0\0\0st22dcmd\x99\x99stco", 22);
  s->video.stream.decoderConfig.assign(trap.begin(), trap.end());
  s->audioParams.decoderConfig.assign(trap.begin(), trap.end());
  std::string base = dir.file("stco st22 dcmd.avi");
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    BoxWalker w = WriteAndWalk(*s, base, kind);
    for (const std::string& esds : {kVideoStbl + "stsd/mp4v/esds", kAudioStbl + "stsd/mp4a/esds"})
      EXPECT_EQ(w.text(w.find(esds)->payloadOffset + 26, trap.size()), trap);
    std::uint32_t first = static_cast<std::uint32_t>(w.find("mdat")->offset) + 24;
    EXPECT_EQ(Table(w, w.find(kVideoStbl + "stco")),
              (std::vector<std::uint32_t>{first, first + 100, first + 150}));
    EXPECT_EQ(Table(w, w.find(kAudioStbl + "stco")),
              (std::vector<std::uint32_t>{first + 220, first + 230, first + 242, first + 253}));
    if (kind == FileKind::ThreeGp) {
      EXPECT_EQ(w.text(w.find("moov/udta/titl")->payloadOffset + 6, 19),
                std::string("stco st22 dcmd.avi\0", 19));
      EXPECT_EQ(w.u16(w.find("moov/drm /dcmd")->payloadOffset),
                w.bytes().size() % 2 ? 0x0D0Cu : 0x0908u);
    }
  }
}

// 32-bit fields and 64-bit intermediates: 70001 frames at 15 fps last
// 420006000 units, whose product with 90000 passes 32 bits.
TEST(RobustnessTest, MoreThan65535Samples) {
  TempDir dir;
  Segment s;
  SetMpeg4Video(s);
  SetAmrAudio(s);
  constexpr std::uint32_t kCount = 70001;
  for (std::uint32_t i = 0; i < kCount; ++i) s.addVideo(1 + i % 3, i % 100 == 0);
  for (std::uint32_t i = 0; i < kCount; ++i) s.addAudio(32);
  BoxWalker w =
      WriteAndWalk(s, dir.file("long.avi"), FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  auto video = Table(w, w.find(kVideoStbl + "stco"));
  auto audio = Table(w, w.find(kAudioStbl + "stco"));
  ASSERT_EQ(video.size(), kCount);
  ASSERT_EQ(audio.size(), kCount);
  EXPECT_EQ(video.back() + s.video.samples.sampleSizes().back(), audio.front());
  EXPECT_EQ(audio.front(), video.front() + s.video.samples.totalBytes());
  EXPECT_EQ(audio.back() + 32, w.bytes().size());
  EXPECT_EQ(Table(w, w.find(kVideoStbl + "stsz"), 8).size(), kCount);
  EXPECT_EQ(Table(w, w.find(kVideoStbl + "stss")).size(), 701u);
  EXPECT_EQ(Field(w, kVideoStbl + "stts", 8), kCount);
  EXPECT_EQ(Field(w, "moov/mvhd", 16), kCount * 6000u);
  EXPECT_EQ(Field(w, "moov/trak[1]/mdia/mdhd", 16), kCount * 160u);
}

TEST(RobustnessTest, DescriptorLengths) {
  // clang-format off
  const std::pair<std::uint32_t, std::vector<std::uint8_t>> cases[] = {
      {0, {0x00}}, {127, {0x7F}}, {128, {0x81, 0x00}}, {16383, {0xFF, 0x7F}},
      {16384, {0x81, 0x80, 0x00}}};
  // clang-format on
  for (const auto& [length, bytes] : cases) EXPECT_EQ(boxes::DescriptorLength(length), bytes);
}

// The esds of a configuration of n bytes: its size and the descriptor lengths
// (ES, decoder configuration, decoder specific info), each one byte up to 127
// and two beyond; the audio's has the same lengths.
TEST(RobustnessTest, LongDecoderConfigUsesMultiByteLengths) {
  for (auto [n, size, es, dcd, dsi] : {std::tuple{20, "39", "2b", "23", "14"},
                                       {104, "8d", "7f", "77", "68"},
                                       {105, "8f", "8100", "78", "69"},
                                       {113, "98", "8109", "8100", "71"},
                                       {200, "f0", "8161", "8158", "8148"}}) {
    TempDir dir;
    Segment s;
    SetMpeg4Video(s, n);
    s.addVideo(10, true);
    SetAacAudio(s);
    s.audioParams.decoderConfig = Sequence(n, 0x90);
    s.addAudio(10);
    BoxWalker w = WriteAndWalk(s, dir.file("a.avi"), FileKind::ThreeGp);
    const std::string esds = kVideoStbl + "stsd/mp4v/esds";
    EXPECT_TRUE(BoxStartsWith(w, esds,
                              std::string("000000") + size + " 'esds' 00000000 03 " + es +
                                  " 0000 00 04 " + dcd + " 20 11 001800 0000fa00 0000fa00 05 " +
                                  dsi));
    EXPECT_EQ(BoxBytes(w, w.find(esds)).size(),
              BoxBytes(w, w.find(kAudioStbl + "stsd/mp4a/esds")).size());
  }
}

// Only "/" separates folders: a backslash is part of a Linux file name.
TEST(ThreeGpNamesTest, OutputPathAndTitle) {
  struct Case {
    const char *base, *threeGp, *threeG2, *title;
  };
  for (Case c :
       {Case{"/out/clip01.avi", "/out/clip01.3gp", "/out/clip01.3g2", "clip01.avi"},
        Case{"/out/clip.part.wmv", "/out/clip.part.3gp", "/out/clip.part.3g2", "clip.part.wmv"},
        Case{"/out.d/clip01", "/out.d/clip01.3gp", "/out.d/clip01.3g2", "clip01"},
        // a backslash is part of a Linux file name
        Case{"x.y\\clip", "x.3gp", "x.3g2", "x.y\\clip"},
        Case{"/o/C:\\out\\clip01.avi", "/o/C:\\out\\clip01.3gp", "/o/C:\\out\\clip01.3g2",
             "C:\\out\\clip01.avi"},
        Case{"/out/映像.wmv", "/out/映像.3gp", "/out/映像.3g2", "映像.wmv"}}) {
    EXPECT_EQ(ThreeGpOutputPath(c.base, FileKind::ThreeGp), c.threeGp);
    EXPECT_EQ(ThreeGpOutputPath(c.base, FileKind::ThreeG2), c.threeG2);
    EXPECT_EQ(ThreeGpTitle(c.base), c.title);
  }
}

// Seconds from 1970 plus 2082902400; unset in the options, the system clock,
// read once for every field.
TEST(ThreeGpClockTest, SystemClockPlus2082902400) {
  EXPECT_EQ(ThreeGpClockValue(0), 2082902400u);
  EXPECT_EQ(ThreeGpClockValue(1700000000), 3782902400u);
  TempDir dir;
  auto s = WorkedExample();
  std::uint32_t before = ThreeGpClockValue(std::time(nullptr));
  ASSERT_NE(ThreeGpWriter(s->audio, s->video, dir.file("a.avi"), FileKind::ThreeGp), 0u);
  std::uint32_t after = ThreeGpClockValue(std::time(nullptr));
  BoxWalker w = BoxWalker::FromFile(dir.file("a.3gp"));
  std::uint32_t clock = Field(w, "moov/mvhd", 4);
  EXPECT_GE(clock, before);
  EXPECT_LE(clock, after);
  for (const BoxNode* box : w.findType("tkhd")) EXPECT_EQ(w.u32(box->payloadOffset + 8), clock);
  for (const BoxNode* box : w.findType("mdhd")) EXPECT_EQ(w.u32(box->payloadOffset + 4), clock);
}

std::vector<std::string> WriteFailure(const std::string& path) {
  return {"ファイル書き込み失敗[" + path + "]"};
}

// Without a track nothing is written, silently; a missing folder is told.
TEST(RobustnessTest, NoTrackOrNoFolder) {
  TempDir dir;
  RecordingNotifier silent;
  EXPECT_EQ(Write(Segment(), dir.file("n.avi"), FileKind::ThreeGp, ContainerMode::Both, &silent),
            0u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_TRUE(silent.messages().empty());
  auto s = WorkedExample();
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    RecordingNotifier notifier;
    std::string base = dir.file("missing/clip01.avi");
    EXPECT_EQ(Write(*s, base, kind, ContainerMode::Both, &notifier), 0u);
    std::string path = ThreeGpOutputPath(base, kind);
    EXPECT_EQ(notifier.messages(), WriteFailure(path));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

// A store whose samples add up to more than 4 GiB cannot be written: its
// offsets would wrap. The total must be seen whole, not cut to 32 bits (here
// it would be cut to 48 bytes and pass).
TEST(RobustnessTest, MoreThanFourGibibytesOfSamplesIsRefused) {
  Segment s;
  SetMpeg4Video(s);
  constexpr std::size_t kBig = 0xFFFFFFF0u;
  s.video.samples.prepareAppend(kBig + 64);
  s.video.samples.commitSample(kBig);
  s.addVideo(64, false);
  ASSERT_EQ(s.video.samples.totalBytes(), std::uint64_t{kBig} + 64);
  TempDir dir;
  RecordingNotifier notifier;
  EXPECT_EQ(Write(s, dir.file("huge.wmv"), FileKind::ThreeGp, ContainerMode::Both, &notifier), 0u);
  EXPECT_EQ(notifier.messages(), WriteFailure(dir.file("huge.3gp")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace zel::test
