// The worked example, laid out box by box and field by field.

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "container/ContainerFixtures.h"

namespace zel::test {
namespace {

struct Expected {
  std::string type;
  std::uint64_t offset;
  std::uint64_t size;
};

void ExpectBoxes(const std::vector<BoxNode>& level, const std::vector<Expected>& expected) {
  ASSERT_EQ(level.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(level[i].type, expected[i].type) << i;
    EXPECT_EQ(level[i].offset, expected[i].offset) << expected[i].type;
    EXPECT_EQ(level[i].size, expected[i].size) << expected[i].type;
  }
}

class WorkedExampleTest : public ::testing::Test {
 protected:
  BoxWalker write(FileKind kind, ContainerMode mode) {
    std::string base = dir_.file("clip01.avi");
    std::uint32_t size = Write(*segment_, base, kind, mode);
    auto walker = BoxWalker::FromFile(ThreeGpOutputPath(base, kind));
    EXPECT_EQ(size, walker.bytes().size());
    EXPECT_TRUE(walker.problems().empty()) << walker.outline();
    return walker;
  }

  TempDir dir_;
  std::unique_ptr<Segment> segment_ = WorkedExample();
};

TEST_F(WorkedExampleTest, ThreeGpFileInThreeGpOnlyMode) {
  BoxWalker w = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  ASSERT_EQ(w.bytes().size(), 1588u);
  ExpectBoxes(w.roots(), {{"ftyp", 0, 28},
                          {"moov", 28, 1258},
                          {"free", 1286, 8},
                          {"free", 1294, 8},
                          {"mdat", 1302, 286}});
  ExpectBoxes(w.roots()[1].children, {{"mvhd", 36, 108},
                                      {"drm ", 144, 18},
                                      {"trak", 162, 584},
                                      {"trak", 746, 507},
                                      {"udta", 1253, 33}});
  EXPECT_EQ(Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stco")),
            (std::vector<std::uint32_t>{1326, 1426, 1476}));
  EXPECT_EQ(Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco")),
            (std::vector<std::uint32_t>{1546, 1556, 1568, 1579}));
  // Both tracks carry an edit list in this mode.
  EXPECT_EQ(ChildTypes(w.find("moov/trak[0]")), (std::vector<std::string>{"tkhd", "edts", "mdia"}));
  EXPECT_EQ(ChildTypes(w.find("moov/trak[1]")), (std::vector<std::string>{"tkhd", "edts", "mdia"}));
  EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), 18000u);
  EXPECT_EQ(w.u32(w.find("moov/trak[0]/tkhd")->payloadOffset + 20), 18000u);
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/tkhd")->payloadOffset + 20), 23040u);
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/mdia/mdhd")->payloadOffset + 16), 4096u);
  EXPECT_EQ(w.u16(w.find("moov/drm /dcmd")->payloadOffset), 0x0908u);
  EXPECT_EQ(w.u16(160), 0x0908u);  // the dcmd value's place in the file
}

TEST_F(WorkedExampleTest, ThreeG2FileInThreeG2OnlyMode) {
  BoxWalker w = write(FileKind::ThreeG2, ContainerMode::ThreeG2Only);
  ASSERT_EQ(w.bytes().size(), 1441u);
  ExpectBoxes(w.roots(), {{"ftyp", 0, 20}, {"mdat", 20, 286}, {"moov", 306, 1135}});
  ExpectBoxes(w.roots()[2].children, {{"mvhd", 314, 108}, {"trak", 422, 548}, {"trak", 970, 471}});
  EXPECT_EQ(Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stco")),
            (std::vector<std::uint32_t>{44, 144, 194}));
  EXPECT_EQ(Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco")),
            (std::vector<std::uint32_t>{264, 274, 286, 297}));
  EXPECT_TRUE(w.findType("edts").empty());
  EXPECT_TRUE(w.findType("drm ").empty());
  EXPECT_TRUE(w.findType("udta").empty());
}

TEST_F(WorkedExampleTest, ChunkOffsetsPointAtTheSamples) {
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    BoxWalker w = write(kind, ContainerMode::Both);
    auto video = Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stco"));
    auto audio = Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco"));
    ASSERT_EQ(video.size(), 3u);
    ASSERT_EQ(audio.size(), 4u);
    for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(w.u8(video[i]), 0x10 + i);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(w.u8(audio[i]), 0xA0 + i);
    EXPECT_EQ(w.u8(video[2] + 69), 0x12u);  // last byte of the last video frame
    EXPECT_EQ(w.u8(audio[3] + 8), 0xA3u);   // last byte of the file's media
  }
}

TEST_F(WorkedExampleTest, HeaderBoxesByteForByte) {
  BoxWalker g = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  const std::vector<std::uint8_t> ftyp3gp = {0,   0,   0,   28,  'f', 't', 'y', 'p', 'm', 'm',
                                             'p', '4', 0,   0,   0,   1,   'm', 'm', 'p', '4',
                                             '3', 'g', 'p', '5', '3', 'g', 'p', '4'};
  EXPECT_EQ(BoxBytes(g, g.find("ftyp")), ftyp3gp);
  EXPECT_EQ(BoxBytes(g, g.find("free[1]")),
            (std::vector<std::uint8_t>{0, 0, 0, 8, 'f', 'r', 'e', 'e'}));
  const std::vector<std::uint8_t> mdat = {0, 0, 1, 30, 'm', 'd', 'a', 't',
                                          0, 0, 0, 8,  'w', 'i', 'd', 'e',
                                          0, 0, 0, 0,  'm', 'd', 'a', 't'};
  EXPECT_EQ(std::vector<std::uint8_t>(g.bytes().begin() + 1302, g.bytes().begin() + 1326), mdat);
  const std::vector<std::uint8_t> drm = {0, 0, 0,  18,  'd', 'r', 'm', ' ', 0,
                                         0, 0, 10, 'd', 'c', 'm', 'd', 9,   8};
  EXPECT_EQ(BoxBytes(g, g.find("moov/drm ")), drm);
  std::vector<std::uint8_t> udta = {0,   0,   0,   33,  'u', 'd', 't', 'a', 0,   0,    0,
                                    25,  't', 'i', 't', 'l', 0,   0,   0,   0,   0x2A, 0x0E,
                                    'c', 'l', 'i', 'p', '0', '1', '.', 'a', 'v', 'i',  0};
  EXPECT_EQ(BoxBytes(g, g.find("moov/udta")), udta);

  BoxWalker t = write(FileKind::ThreeG2, ContainerMode::ThreeG2Only);
  const std::vector<std::uint8_t> ftyp3g2 = {0,   0,   0, 20, 'f', 't', 'y', 'p', '3', 'g',
                                             '2', 'a', 0, 0,  2,   0,   '3', 'g', '2', 'a'};
  EXPECT_EQ(BoxBytes(t, t.find("ftyp")), ftyp3g2);
}

TEST_F(WorkedExampleTest, MovieAndTrackHeaders) {
  BoxWalker w = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  const std::uint32_t matrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
  std::uint64_t m = w.find("moov/mvhd")->payloadOffset;
  EXPECT_EQ(w.u32(m), 0u);
  EXPECT_EQ(w.u32(m + 4), kFixedClock);
  EXPECT_EQ(w.u32(m + 8), kFixedClock);
  EXPECT_EQ(w.u32(m + 12), 90000u);
  EXPECT_EQ(w.u32(m + 20), 0x00010000u);
  EXPECT_EQ(w.u16(m + 24), 0x0100u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(w.u32(m + 36 + 4 * i), matrix[i]);
  EXPECT_EQ(w.u32(m + 96), 3u);  // next track ID

  for (int track = 0; track < 2; ++track) {
    std::uint64_t t = w.find(track == 0 ? "moov/trak[0]/tkhd" : "moov/trak[1]/tkhd")->payloadOffset;
    EXPECT_EQ(w.u32(t), 0x0000000Fu);
    EXPECT_EQ(w.u32(t + 4), kFixedClock);
    EXPECT_EQ(w.u32(t + 8), kFixedClock);
    EXPECT_EQ(w.u32(t + 12), track + 1u);
    EXPECT_EQ(w.u16(t + 36), track == 0 ? 0u : 0x0100u);  // volume
    for (int i = 0; i < 9; ++i) EXPECT_EQ(w.u32(t + 40 + 4 * i), matrix[i]);
    EXPECT_EQ(w.u32(t + 76), track == 0 ? 176u << 16 : 0u);
    EXPECT_EQ(w.u32(t + 80), track == 0 ? 144u << 16 : 0u);
  }
  for (const char* path : {"moov/trak[0]/edts/elst", "moov/trak[1]/edts/elst"}) {
    const BoxNode* elst = w.find(path);
    ASSERT_NE(elst, nullptr);
    EXPECT_EQ(elst->size, 28u);
    std::uint32_t duration = path[10] == '0' ? 18000 : 23040;
    EXPECT_EQ(Words(w, elst, 4, 4), (std::vector<std::uint32_t>{1, duration, 0, 0x00010000}));
  }
}

TEST_F(WorkedExampleTest, MediaHeadersAndHandlers) {
  BoxWalker w = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  std::uint64_t v = w.find("moov/trak[0]/mdia/mdhd")->payloadOffset;
  EXPECT_EQ(w.u32(v + 4), kFixedClock);
  EXPECT_EQ(w.u32(v + 12), 90000u);
  EXPECT_EQ(w.u32(v + 16), 18000u);
  EXPECT_EQ(w.u16(v + 20), 0x15C7u);
  std::uint64_t a = w.find("moov/trak[1]/mdia/mdhd")->payloadOffset;
  EXPECT_EQ(w.u32(a + 12), 16000u);
  EXPECT_EQ(w.u16(a + 20), 0x15C7u);

  const BoxNode* vh = w.find("moov/trak[0]/mdia/hdlr");
  const BoxNode* ah = w.find("moov/trak[1]/mdia/hdlr");
  EXPECT_EQ(vh->size, 45u);
  EXPECT_EQ(ah->size, 52u);
  EXPECT_EQ(w.text(vh->payloadOffset + 8, 4), "vide");
  EXPECT_EQ(w.text(ah->payloadOffset + 8, 4), "soun");
  EXPECT_EQ(w.text(vh->payloadOffset + 24, 13), "\x0cVideoHandler");
  EXPECT_EQ(w.text(ah->payloadOffset + 24, 20), "\x13Sound Media Handler");

  const BoxNode* vmhd = w.find("moov/trak[0]/mdia/minf/vmhd");
  EXPECT_EQ(BoxBytes(w, vmhd), (std::vector<std::uint8_t>{0, 0, 0, 20, 'v', 'm', 'h', 'd', 0, 0,
                                                          0, 1, 0, 0,  0,   0,   0,   0,   0, 0}));
  EXPECT_EQ(w.find("moov/trak[1]/mdia/minf/smhd")->size, 16u);
  const std::vector<std::uint8_t> dinf = {0,   0,   0,   36,  'd', 'i', 'n', 'f', 0, 0, 0, 28,
                                          'd', 'r', 'e', 'f', 0,   0,   0,   0,   0, 0, 0, 1,
                                          0,   0,   0,   12,  'u', 'r', 'l', ' ', 0, 0, 0, 1};
  EXPECT_EQ(BoxBytes(w, w.find("moov/trak[0]/mdia/minf/dinf")), dinf);
  EXPECT_EQ(BoxBytes(w, w.find("moov/trak[1]/mdia/minf/dinf")), dinf);
  EXPECT_EQ(ChildTypes(w.find("moov/trak[0]/mdia/minf/stbl")),
            (std::vector<std::string>{"stsd", "stts", "stss", "stsc", "stsz", "stco"}));
  EXPECT_EQ(ChildTypes(w.find("moov/trak[1]/mdia/minf/stbl")),
            (std::vector<std::string>{"stsd", "stts", "stsc", "stsz", "stco"}));
}

TEST_F(WorkedExampleTest, VisualSampleEntryAndEsds) {
  BoxWalker w = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  const BoxNode* entry = w.find("moov/trak[0]/mdia/minf/stbl/stsd/mp4v");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->size, 143u);
  std::uint64_t p = entry->payloadOffset;
  EXPECT_EQ(w.u16(p + 6), 1u);
  EXPECT_EQ(w.text(p + 12, 4), "KLVR");
  EXPECT_EQ(w.u32(p + 16), 512u);
  EXPECT_EQ(w.u32(p + 20), 512u);
  EXPECT_EQ(w.u16(p + 24), 176u);
  EXPECT_EQ(w.u16(p + 26), 144u);
  EXPECT_EQ(w.u32(p + 28), 0x00480000u);
  EXPECT_EQ(w.u32(p + 32), 0x00480000u);
  EXPECT_EQ(w.u16(p + 40), 1u);
  EXPECT_EQ(w.text(p + 42, 32), std::string("\x05mpeg4") + std::string(26, '\0'));
  EXPECT_EQ(w.u16(p + 74), 24u);
  EXPECT_EQ(w.u16(p + 76), 0xFFFFu);

  const BoxNode* esds = w.find("moov/trak[0]/mdia/minf/stbl/stsd/mp4v/esds");
  ASSERT_NE(esds, nullptr);
  EXPECT_EQ(esds->size, 57u);
  std::vector<std::uint8_t> expected = {
      0,    0,  0,    57,   'e',  's',  'd',  's', 0, 0,    0,    0, 0x03, 43,   0,    0,    0,
      0x04, 35, 0x20, 0x11, 0x00, 0x18, 0x00, 0,   0, 0xFA, 0x00, 0, 0,    0xFA, 0x00, 0x05, 20};
  auto config = Sequence(20, 0x40);
  expected.insert(expected.end(), config.begin(), config.end());
  expected.insert(expected.end(), {0x06, 1, 2});
  EXPECT_EQ(BoxBytes(w, esds), expected);
}

TEST_F(WorkedExampleTest, AudioSampleEntryAndEsds) {
  BoxWalker w = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  const BoxNode* entry = w.find("moov/trak[1]/mdia/minf/stbl/stsd/mp4a");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->size, 36u + 39u);
  std::vector<std::uint8_t> head = {0, 0, 0, 75, 'm', 'p', '4', 'a', 0,    0,    0, 0,
                                    0, 0, 0, 1,  0,   0,   0,   0,   0,    0,    0, 0,
                                    0, 1, 0, 16, 0,   0,   0,   0,   0x3E, 0x80, 0, 0};
  auto bytes = BoxBytes(w, entry);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 36), head);
  const std::vector<std::uint8_t> esds = {0,    0, 0,    39, 'e',  's',  'd',  's',  0,  0,
                                          0,    0, 0x03, 25, 0,    0,    0,    0x04, 17, 0x40,
                                          0x15, 0, 0x18, 0,  0,    0,    0x7D, 0,    0,  0,
                                          0x7D, 0, 0x05, 2,  0x14, 0x08, 0x06, 1,    2};
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 36, bytes.end()), esds);
}

TEST_F(WorkedExampleTest, SampleTables) {
  BoxWalker w = write(FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  const char* v = "moov/trak[0]/mdia/minf/stbl/";
  const char* a = "moov/trak[1]/mdia/minf/stbl/";
  auto at = [&](const char* prefix, const char* box) { return w.find(std::string(prefix) + box); };
  EXPECT_EQ(Words(w, at(v, "stts"), 4, 3), (std::vector<std::uint32_t>{1, 3, 6000}));
  EXPECT_EQ(Words(w, at(a, "stts"), 4, 3), (std::vector<std::uint32_t>{1, 4, 1024}));
  EXPECT_EQ(at(v, "stts")->size, 24u);
  EXPECT_EQ(Table(w, at(v, "stss")), (std::vector<std::uint32_t>{1}));
  for (const char* prefix : {v, a}) {
    EXPECT_EQ(at(prefix, "stsc")->size, 28u);
    EXPECT_EQ(Words(w, at(prefix, "stsc"), 4, 4), (std::vector<std::uint32_t>{1, 1, 1, 1}));
    EXPECT_EQ(w.u32(at(prefix, "stsd")->payloadOffset + 4), 1u);
    EXPECT_EQ(w.u32(at(prefix, "stsz")->payloadOffset + 4), 0u);  // sizes from the table
  }
  EXPECT_EQ(Table(w, at(v, "stsz"), 8), (std::vector<std::uint32_t>{100, 50, 70}));
  EXPECT_EQ(Table(w, at(a, "stsz"), 8), (std::vector<std::uint32_t>{10, 12, 11, 9}));
  EXPECT_EQ(at(v, "stsz")->size, 32u);
  EXPECT_EQ(at(a, "stco")->size, 32u);
}

}  // namespace
}  // namespace zel::test
