// Track combinations, codecs, container modes, names and the dcmd rule.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "common/TestSupport.h"
#include "container/ContainerFixtures.h"

namespace zel::test {
namespace {

class EdgeCaseTest : public ::testing::Test {
 protected:
  BoxWalker write(const Segment& s, FileKind kind, ContainerMode mode = ContainerMode::Both) {
    std::string base = dir_.file("clip01.avi");
    std::uint32_t size = Write(s, base, kind, mode);
    auto walker = BoxWalker::FromFile(ThreeGpOutputPath(base, kind));
    EXPECT_EQ(size, walker.bytes().size());
    EXPECT_TRUE(walker.problems().empty()) << walker.outline();
    return walker;
  }

  TempDir dir_;
};

TEST_F(EdgeCaseTest, VideoOnlyThreeGp) {
  Segment s;
  SetMpeg4Video(s);
  s.addVideo(100, true);
  s.addVideo(40, false);
  BoxWalker w = write(s, FileKind::ThreeGp);
  EXPECT_EQ(w.findAll("moov/trak").size(), 1u);
  EXPECT_EQ(ChildTypes(w.find("moov")), (std::vector<std::string>{"mvhd", "drm ", "trak", "udta"}));
  EXPECT_EQ(w.u32(w.find("moov/trak/tkhd")->payloadOffset + 12), 1u);
  EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 96), 2u);
  EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), 12000u);
  std::uint32_t first = 28 + static_cast<std::uint32_t>(w.find("moov")->size) + 40;
  EXPECT_EQ(Table(w, w.find("moov/trak/mdia/minf/stbl/stco")),
            (std::vector<std::uint32_t>{first, first + 100}));
  EXPECT_EQ(w.find("mdat")->size, 24u + 140u);
}

TEST_F(EdgeCaseTest, AudioOnlyFiles) {
  Segment s;
  SetAacAudio(s);
  for (int i = 0; i < 5; ++i) s.addAudio(20 + i);
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    BoxWalker w = write(s, kind);
    ASSERT_EQ(w.findAll("moov/trak").size(), 1u);
    EXPECT_EQ(w.text(w.find("moov/trak/mdia/hdlr")->payloadOffset + 8, 4), "soun");
    EXPECT_EQ(w.u32(w.find("moov/trak/tkhd")->payloadOffset + 12), 1u);
    EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 96), 2u);
    // 5 x 1024 samples at 16000 Hz in 90000 units
    EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), 28800u);
    std::uint32_t first = kind == FileKind::ThreeGp
                              ? 28 + static_cast<std::uint32_t>(w.find("moov")->size) + 40
                              : 20 + 24;
    EXPECT_EQ(Table(w, w.find("moov/trak/mdia/minf/stbl/stco")).front(), first);
    EXPECT_EQ(w.u8(first), 0xA0u);
  }
}

TEST_F(EdgeCaseTest, BothTracksAudioFollowsVideo) {
  auto s = WorkedExample();
  s->addVideo(33, true);
  BoxWalker w = write(*s, FileKind::ThreeG2);
  EXPECT_EQ(Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco")).front(), 44u + 253u);
  EXPECT_EQ(Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stss")),
            (std::vector<std::uint32_t>{1, 4}));
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/tkhd")->payloadOffset + 12), 2u);
}

TEST_F(EdgeCaseTest, H263Video) {
  Segment s;
  SetMpeg4Video(s);
  s.video.kind = VideoKind::H263;
  s.video.stream.encoderName = "h263";
  s.addVideo(60, true);
  BoxWalker w = write(s, FileKind::ThreeGp);
  const BoxNode* entry = w.find("moov/trak/mdia/minf/stbl/stsd/s263");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->size, 101u);
  EXPECT_EQ(w.text(entry->payloadOffset + 42, 6), std::string("\x04h263\0", 6));
  EXPECT_EQ(
      BoxBytes(w, w.find("moov/trak/mdia/minf/stbl/stsd/s263/d263")),
      (std::vector<std::uint8_t>{0, 0, 0, 15, 'd', '2', '6', '3', 'K', 'L', 'V', 'R', 0, 10, 0}));
  EXPECT_TRUE(w.findType("esds").empty());
}

TEST_F(EdgeCaseTest, AmrAudio) {
  Segment s;
  SetAmrAudio(s);
  for (std::size_t n : {32, 13, 32}) s.addAudio(n);  // a short frame still gets its own offset
  BoxWalker w = write(s, FileKind::ThreeG2);
  const BoxNode* entry = w.find("moov/trak/mdia/minf/stbl/stsd/samr");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->size, 36u + 17u);
  EXPECT_EQ(BoxBytes(w, w.find("moov/trak/mdia/minf/stbl/stsd/samr/damr")),
            (std::vector<std::uint8_t>{0, 0, 0, 17, 'd', 'a', 'm', 'r', 'a', 'p', 'p', 'l', 1, 0,
                                       0x80, 0, 1}));
  EXPECT_EQ(w.u32(entry->payloadOffset + 24), 8000u << 16);
  EXPECT_EQ(Words(w, w.find("moov/trak/mdia/minf/stbl/stts"), 4, 3),
            (std::vector<std::uint32_t>{1, 3, 160}));
  const BoxNode* stsz = w.find("moov/trak/mdia/minf/stbl/stsz");
  EXPECT_EQ(stsz->size, 20u);
  EXPECT_EQ(Words(w, stsz, 4, 2), (std::vector<std::uint32_t>{32, 3}));
  EXPECT_EQ(Table(w, w.find("moov/trak/mdia/minf/stbl/stco")),
            (std::vector<std::uint32_t>{44, 76, 89}));
  EXPECT_EQ(w.u32(w.find("moov/trak/mdia/mdhd")->payloadOffset + 12), 8000u);
  EXPECT_EQ(w.u32(w.find("moov/trak/mdia/mdhd")->payloadOffset + 16), 480u);
  EXPECT_TRUE(w.findType("esds").empty());
}

TEST_F(EdgeCaseTest, EditListsFollowTheContainerMode) {
  auto s = WorkedExample();
  struct Case {
    FileKind kind;
    ContainerMode mode;
    bool videoEdts, audioEdts;
  };
  for (Case c : {Case{FileKind::ThreeGp, ContainerMode::Both, false, true},
                 Case{FileKind::ThreeG2, ContainerMode::Both, false, false},
                 Case{FileKind::ThreeGp, ContainerMode::ThreeGpOnly, true, true},
                 Case{FileKind::ThreeG2, ContainerMode::ThreeG2Only, false, false}}) {
    BoxWalker w = write(*s, c.kind, c.mode);
    SCOPED_TRACE(static_cast<int>(c.mode) * 10 + static_cast<int>(c.kind));
    EXPECT_EQ(w.find("moov/trak[0]/edts") != nullptr, c.videoEdts);
    EXPECT_EQ(w.find("moov/trak[1]/edts") != nullptr, c.audioEdts);
    bool threeGp = c.kind == FileKind::ThreeGp;
    EXPECT_EQ(w.find("moov/drm ") != nullptr, threeGp);
    EXPECT_EQ(w.find("moov/udta") != nullptr, threeGp);
  }
}

TEST_F(EdgeCaseTest, SameSampleTablesInBothKinds) {
  auto s = WorkedExample();
  BoxWalker g = write(*s, FileKind::ThreeGp);
  BoxWalker t = write(*s, FileKind::ThreeG2);
  for (const char* trak : {"moov/trak[0]", "moov/trak[1]"}) {
    const BoxNode* gs = g.find(std::string(trak) + "/mdia/minf/stbl");
    const BoxNode* ts = t.find(std::string(trak) + "/mdia/minf/stbl");
    ASSERT_NE(gs, nullptr);
    ASSERT_NE(ts, nullptr);
    ASSERT_EQ(gs->children.size(), ts->children.size());
    for (std::size_t i = 0; i < gs->children.size(); ++i) {
      if (gs->children[i].type == "stco") {
        EXPECT_NE(BoxBytes(g, &gs->children[i]), BoxBytes(t, &ts->children[i]));
        continue;
      }
      EXPECT_EQ(BoxBytes(g, &gs->children[i]), BoxBytes(t, &ts->children[i]))
          << gs->children[i].type;
    }
  }
}

TEST_F(EdgeCaseTest, DcmdFollowsTheParityOfTheFileSize) {
  auto s = WorkedExample();
  BoxWalker even = write(*s, FileKind::ThreeGp);
  EXPECT_EQ(even.bytes().size() % 2, 0u);
  EXPECT_EQ(BoxBytes(even, even.find("moov/drm /dcmd")),
            (std::vector<std::uint8_t>{0, 0, 0, 10, 'd', 'c', 'm', 'd', 0x09, 0x08}));
  s->addAudio(7);
  BoxWalker odd = write(*s, FileKind::ThreeGp);
  EXPECT_EQ(odd.bytes().size() % 2, 1u);
  EXPECT_EQ(BoxBytes(odd, odd.find("moov/drm /dcmd")),
            (std::vector<std::uint8_t>{0, 0, 0, 10, 'd', 'c', 'm', 'd', 0x0D, 0x0C}));
}

TEST_F(EdgeCaseTest, WindowsStylePathGivesTitleAndName) {
  auto s = WorkedExample();
  std::string base = dir_.file("C:\\out\\clip01.avi");
  ASSERT_NE(Write(*s, base, FileKind::ThreeGp, ContainerMode::Both), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("C:\\out\\clip01.3gp")));
  BoxWalker w = BoxWalker::FromFile(dir_.file("C:\\out\\clip01.3gp"));
  const BoxNode* titl = w.find("moov/udta/titl");
  ASSERT_NE(titl, nullptr);
  // a backslash is part of a Linux file name
  EXPECT_EQ(w.text(titl->payloadOffset + 6, titl->end() - titl->payloadOffset - 6),
            std::string("C:\\out\\clip01.avi\0", 18));
  EXPECT_EQ(ThreeGpOutputPath("C:\\out\\clip01.avi", FileKind::ThreeGp), "C:\\out\\clip01.3gp");
  EXPECT_EQ(ThreeGpTitle("C:\\out\\clip01.avi"), "C:\\out\\clip01.avi");
}

TEST(ThreeGpNamesTest, OutputPathAndTitle) {
  struct Case {
    const char* base;
    const char* threeGp;
    const char* threeG2;
    const char* title;
  };
  for (Case c :
       {Case{"/out/clip01.avi", "/out/clip01.3gp", "/out/clip01.3g2", "clip01.avi"},
        Case{"/out/clip.part.wmv", "/out/clip.part.3gp", "/out/clip.part.3g2", "clip.part.wmv"},
        Case{"/out.d/clip01", "/out.d/clip01.3gp", "/out.d/clip01.3g2", "clip01"},
        Case{"x.y\\clip", "x.3gp", "x.3g2", "x.y\\clip"},
        Case{"clip01_02", "clip01_02.3gp", "clip01_02.3g2", "clip01_02"},
        Case{"/out/映像.wmv", "/out/映像.3gp", "/out/映像.3g2", "映像.wmv"}}) {
    EXPECT_EQ(ThreeGpOutputPath(c.base, FileKind::ThreeGp), c.threeGp);
    EXPECT_EQ(ThreeGpOutputPath(c.base, FileKind::ThreeG2), c.threeG2);
    EXPECT_EQ(ThreeGpTitle(c.base), c.title);
  }
}

TEST_F(EdgeCaseTest, NoKeyFrameStillHasStss) {
  Segment s;
  SetMpeg4Video(s);
  s.addVideo(30, false);
  s.addVideo(30, false);
  BoxWalker w = write(s, FileKind::ThreeGp);
  const BoxNode* stss = w.find("moov/trak/mdia/minf/stbl/stss");
  ASSERT_NE(stss, nullptr);
  EXPECT_EQ(stss->size, 16u);
  EXPECT_EQ(w.u32(stss->payloadOffset + 4), 0u);
}

TEST_F(EdgeCaseTest, FifteenFramesPerSecond) {
  Segment s;
  SetMpeg4Video(s);
  for (int i = 0; i < 300; ++i) s.addVideo(3, i % 15 == 0);
  BoxWalker w = write(s, FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  EXPECT_EQ(Words(w, w.find("moov/trak/mdia/minf/stbl/stts"), 4, 3),
            (std::vector<std::uint32_t>{1, 300, 6000}));
  EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), 1800000u);
  EXPECT_EQ(w.u32(w.find("moov/trak/tkhd")->payloadOffset + 20), 1800000u);
  EXPECT_EQ(w.u32(w.find("moov/trak/mdia/mdhd")->payloadOffset + 16), 1800000u);
  EXPECT_EQ(w.u32(w.find("moov/trak/edts/elst")->payloadOffset + 8), 1800000u);
  EXPECT_EQ(Table(w, w.find("moov/trak/mdia/minf/stbl/stss")).size(), 20u);
}

TEST_F(EdgeCaseTest, DurationsTruncate) {
  Segment s;
  SetMpeg4Video(s);
  s.video.stream.frameRate = 7;  // 90000 / 7 = 12857.14
  for (int i = 0; i < 10; ++i) s.addVideo(3, i == 0);
  SetAacAudio(s);
  s.audioParams.sampleRate = 22050;
  for (int i = 0; i < 3; ++i) s.addAudio(5);
  BoxWalker w = write(s, FileKind::ThreeG2);
  EXPECT_EQ(w.u32(w.find("moov/trak[0]/mdia/minf/stbl/stts")->payloadOffset + 12), 12857u);
  EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), 128571u);  // 10 * 90000 / 7
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/tkhd")->payloadOffset + 20),
            12538u);  // 3072 * 90000 / 22050
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/mdia/mdhd")->payloadOffset + 16), 3072u);
  // 16.16 sample rate: 22050 in the high half
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/mdia/minf/stbl/stsd/mp4a")->payloadOffset + 24),
            22050u << 16);
}

TEST(ThreeGpClockTest, SecondsFrom1970Plus2082902400) {
  EXPECT_EQ(ThreeGpClockValue(0), 2082902400u);
  EXPECT_EQ(ThreeGpClockValue(1700000000), 3782902400u);
  // Unset in the options: the system clock, read once for every field.
  TempDir dir;
  auto s = WorkedExample();
  std::uint32_t before = ThreeGpClockValue(std::time(nullptr));
  ASSERT_NE(ThreeGpWriter(s->audio, s->video, dir.file("a.avi"), FileKind::ThreeGp), 0u);
  std::uint32_t after = ThreeGpClockValue(std::time(nullptr));
  BoxWalker w = BoxWalker::FromFile(dir.file("a.3gp"));
  std::uint32_t clock = w.u32(w.find("moov/mvhd")->payloadOffset + 4);
  EXPECT_GE(clock, before);
  EXPECT_LE(clock, after);
  for (const BoxNode* box : w.findType("tkhd")) EXPECT_EQ(w.u32(box->payloadOffset + 8), clock);
  for (const BoxNode* box : w.findType("mdhd")) EXPECT_EQ(w.u32(box->payloadOffset + 4), clock);
}

}  // namespace
}  // namespace zel::test
