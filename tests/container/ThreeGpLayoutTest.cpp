// Every written file laid out box by box and byte by byte: the worked example
// in both kinds, and the track combinations, codecs and edge values.

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "container/ContainerFixtures.h"

namespace zel::test {
namespace {

struct Box {
  std::string path;
  std::string hex;  // what the box starts with (see Hex)
};

struct LayoutCase {
  const char* name;
  void (*fill)(Segment&);
  FileKind kind;
  ContainerMode mode;
  std::string tree;  // every box type in file order (see Tree)
  std::vector<Box> boxes;
};

const std::string V = "moov/trak[0]/", A = "moov/trak[1]/";
const std::string VS = V + "mdia/minf/stbl/", AS = A + "mdia/minf/stbl/";
const std::string kClocks = " c0ffee01 c0ffee01 ";
const std::string kMatrix =
    " 00010000 00000000 00000000 00000000 00010000 00000000 00000000 00000000 40000000 ";
const std::string kDinf =
    "00000024 'dinf' 0000001c 'dref' 00000000 00000001 0000000c 'url ' 00000001";
const std::string kStsc = "0000001c 'stsc' 00000000 00000001 00000001 00000001 00000001";
const std::string kVideoMdia =
    "mdia(mdhd hdlr minf(vmhd dinf(dref(url)) stbl(stsd(mp4v(esds)) stts stss stsc stsz stco)))";
const std::string kAudioMdia =
    "mdia(mdhd hdlr minf(smhd dinf(dref(url)) stbl(stsd(mp4a(esds)) stts stsc stsz stco)))";
const std::string kWorkedMdat =
    "0000011e 'mdat' 00000008 'wide' 00000000 'mdat' 10*100 11*50 12*70 a0*10 a1*12 a2*11 a3*9";

// Rate 1.0, volume 1.0, the unity matrix; durations in 90000 units.
std::string Mvhd(const std::string& duration, const std::string& nextTrackId) {
  return "0000006c 'mvhd' 00000000" + kClocks + "00015f90 " + duration + " 00010000 0100 00*10" +
         kMatrix + "00*24 " + nextTrackId;
}
// Flags 0xF; audio has volume 1.0, video its size in 16.16.
std::string Tkhd(const std::string& id, const std::string& duration, bool audio) {
  return "0000005c 'tkhd' 0000000f" + kClocks + id + " 00000000 " + duration + " 00*8 0000 0000 " +
         (audio ? "0100" : "0000") + " 0000" + kMatrix +
         (audio ? "00000000 00000000" : "00b00000 00900000");
}
// Language "eng".
std::string Mdhd(const std::string& timescale, const std::string& duration) {
  return "00000020 'mdhd' 00000000" + kClocks + timescale + " " + duration + " 15c7 0000";
}
// One entry over the whole movie, media time 0, rate 1.0.
std::string Edts(const std::string& duration) {
  return "00000024 'edts' 0000001c 'elst' 00000000 00000001 " + duration + " 00000000 00010000";
}

// The boxes of the worked example that a 3GP and a 3G2 file share.
std::vector<Box> WorkedExampleTables() {
  return {
      {"moov/mvhd", Mvhd("00004650", "00000003")},
      {V + "tkhd", Tkhd("00000001", "00004650", false)},
      {V + "mdia/mdhd", Mdhd("00015f90", "00004650")},
      {V + "mdia/hdlr", "0000002d 'hdlr' 00000000 00000000 'vide' 00*12 0c 'VideoHandler'"},
      {V + "mdia/minf/vmhd", "00000014 'vmhd' 00000001 0000 00*6"},
      {V + "mdia/minf/dinf", kDinf},
      // Decoder buffer 0x1800, bit rates 64000, the 20-byte configuration, SL predefined 2.
      {VS + "stsd",
       "0000009f 'stsd' 00000000 00000001 0000008f 'mp4v' 00*6 0001 00000000 'KLVR' 00000200 "
       "00000200 00b0 0090 00480000 00480000 00000000 0001 05 'mpeg4' 00*26 0018 ffff 00000039 "
       "'esds' 00000000 03 2b 0000 00 04 23 20 11 001800 0000fa00 0000fa00 05 14 "
       "40414243444546474849 4a4b4c4d4e4f50515253 06 01 02"},
      {VS + "stts", "00000018 'stts' 00000000 00000001 00000003 00001770"},
      {VS + "stss", "00000014 'stss' 00000000 00000001 00000001"},
      {VS + "stsc", kStsc},
      {VS + "stsz", "00000020 'stsz' 00000000 00000000 00000003 00000064 00000032 00000046"},
      {A + "tkhd", Tkhd("00000002", "00005a00", true)},
      {A + "mdia/mdhd", Mdhd("00003e80", "00001000")},
      {A + "mdia/hdlr", "00000034 'hdlr' 00000000 00000000 'soun' 00*12 13 'Sound Media Handler'"},
      {A + "mdia/minf/smhd", "00000010 'smhd' 00000000 0000 0000"},
      {A + "mdia/minf/dinf", kDinf},
      {AS + "stsd",
       "0000005b 'stsd' 00000000 00000001 0000004b 'mp4a' 00*6 0001 00*8 0001 0010 00000000 3e80 "
       "0000 00000027 'esds' 00000000 03 19 0000 00 04 11 40 15 001800 00007d00 00007d00 05 02 "
       "1408 06 01 02"},
      {AS + "stts", "00000018 'stts' 00000000 00000001 00000004 00000400"},
      {AS + "stsc", kStsc},
      {AS + "stsz",
       "00000024 'stsz' 00000000 00000000 00000004 0000000a 0000000c 0000000b 00000009"},
      {"mdat", kWorkedMdat},
  };
}

std::vector<Box> Plus(std::vector<Box> boxes, const std::vector<Box>& more) {
  boxes.insert(boxes.end(), more.begin(), more.end());
  return boxes;
}

void VideoOnly(Segment& s) { SetMpeg4Video(s), s.addVideo(100, true), s.addVideo(40, false); }
void AudioOnly(Segment& s) {
  SetAacAudio(s);
  for (int i = 0; i < 5; ++i) s.addAudio(20 + i);
}

// clang-format off
std::vector<LayoutCase> Cases() {
  using enum FileKind;
  using enum ContainerMode;
  return {
      // Chunk offsets after ftyp, moov and two free boxes; both tracks with an edit list.
      {"WorkedExample3gpOnly", FillWorkedExample, ThreeGp, ThreeGpOnly,
       "ftyp moov(mvhd drm(dcmd) trak(tkhd edts(elst) " + kVideoMdia + ") trak(tkhd edts(elst) " +
           kAudioMdia + ") udta(titl)) free free mdat",
       Plus(WorkedExampleTables(),
            {{"ftyp", "0000001c 'ftyp' 'mmp4' 00000001 'mmp4' '3gp5' '3gp4'"},
             {"moov/drm ", "00000012 'drm ' 0000000a 'dcmd' 0908"},
             {V + "edts", Edts("00004650")},
             {VS + "stco", "0000001c 'stco' 00000000 00000003 0000052e 00000592 000005c4"},
             {A + "edts", Edts("00005a00")},
             {AS + "stco", "00000020 'stco' 00000000 00000004 0000060a 00000614 00000620 0000062b"},
             {"moov/udta", "00000021 'udta' 00000019 'titl' 00000000 2a0e 'clip01.avi' 00"},
             {"free[0]", "00000008 'free'"},
             {"free[1]", "00000008 'free'"}})},
      // The media data right after ftyp, moov last; no edit list, drm or udta.
      {"WorkedExample3g2Only", FillWorkedExample, ThreeG2, ThreeG2Only,
       "ftyp mdat moov(mvhd trak(tkhd " + kVideoMdia + ") trak(tkhd " + kAudioMdia + "))",
       Plus(WorkedExampleTables(),
            {{"ftyp", "00000014 'ftyp' '3g2a' 00000200 '3g2a'"},
             {VS + "stco", "0000001c 'stco' 00000000 00000003 0000002c 00000090 000000c2"},
             {AS + "stco", "00000020 'stco' 00000000 00000004 00000108 00000112 0000011e "
                           "00000129"}})},
      {"VideoOnly3gp", VideoOnly, ThreeGp, Both,
       "ftyp moov(mvhd drm(dcmd) trak(tkhd " + kVideoMdia + ") udta(titl)) free free mdat",
       {{"moov/mvhd", Mvhd("00002ee0", "00000002")},
        {V + "tkhd", Tkhd("00000001", "00002ee0", false)},
        {VS + "stco", "00000018 'stco' 00000000 00000002 00000307 0000036b"},
        {"mdat", "000000a4 'mdat' 00000008 'wide' 00000000 'mdat' 10*100 11*40"}}},
      // 5 x 1024 samples at 16000 Hz are 28800 units.
      {"AudioOnly3gp", AudioOnly, ThreeGp, Both,
       "ftyp moov(mvhd drm(dcmd) trak(tkhd edts(elst) " + kAudioMdia +
           ") udta(titl)) free free mdat",
       {{"moov/mvhd", Mvhd("00007080", "00000002")},
        {V + "tkhd", Tkhd("00000001", "00007080", true)},
        {VS + "stco", "00000024 'stco' 00000000 00000005 000002ee 00000302 00000317 0000032d "
                      "00000344"},
        {"mdat", "00000086 'mdat' 00000008 'wide' 00000000 'mdat' a0*20 a1*21"}}},
      {"AudioOnly3g2", AudioOnly, ThreeG2, Both,
       "ftyp mdat moov(mvhd trak(tkhd " + kAudioMdia + "))",
       {{"moov/mvhd", Mvhd("00007080", "00000002")},
        {V + "tkhd", Tkhd("00000001", "00007080", true)},
        {VS + "stco", "00000024 'stco' 00000000 00000005 0000002c 00000040 00000055 0000006b "
                      "00000082"}}},
      {"H263", [](Segment& s) {
         SetMpeg4Video(s), s.video.kind = VideoKind::H263, s.video.stream.encoderName = "h263";
         s.addVideo(60, true);
       }, ThreeGp, Both,
       "ftyp moov(mvhd drm(dcmd) trak(tkhd mdia(mdhd hdlr minf(vmhd dinf(dref(url)) "
       "stbl(stsd(s263(d263)) stts stss stsc stsz stco)))) udta(titl)) free free mdat",
       {{VS + "stsd", "00000075 'stsd' 00000000 00000001 00000065 's263' 00*6 0001 00000000 'KLVR' "
                      "00000200 00000200 00b0 0090 00480000 00480000 00000000 0001 04 'h263' 00*27 "
                      "0018 ffff 0000000f 'd263' 'KLVR' 00 0a 00"}}},
      // 12.2 kbit/s frames are all taken as 32 bytes, but each keeps its own offset.
      {"Amr3g2", [](Segment& s) { SetAmrAudio(s), s.addAudio(32), s.addAudio(13), s.addAudio(32); },
       ThreeG2, Both,
       "ftyp mdat moov(mvhd trak(tkhd mdia(mdhd hdlr minf(smhd dinf(dref(url)) "
       "stbl(stsd(samr(damr)) stts stsc stsz stco)))))",
       {{"moov/mvhd", Mvhd("00001518", "00000002")},
        {V + "mdia/mdhd", Mdhd("00001f40", "000001e0")},
        {VS + "stsd", "00000045 'stsd' 00000000 00000001 00000035 'samr' 00*6 0001 00*8 0001 0010 "
                      "00000000 1f40 0000 00000011 'damr' 'appl' 01 0080 00 01"},
        {VS + "stts", "00000018 'stts' 00000000 00000001 00000003 000000a0"},
        {VS + "stsz", "00000014 'stsz' 00000000 00000020 00000003"},
        {VS + "stco", "0000001c 'stco' 00000000 00000003 0000002c 0000004c 00000059"}}},
      // 90000 / 7 = 12857.1, 10 frames 128571.4; 3072 samples at 22050 Hz
      // 12538.7 units; stereo sound.
      {"DurationsTruncate", [](Segment& s) {
         SetMpeg4Video(s), SetAacAudio(s);
         s.video.stream.frameRate = 7, s.audioParams.sampleRate = 22050, s.audioParams.channels = 2;
         for (int i = 0; i < 10; ++i) s.addVideo(3, i == 0);
         for (int i = 0; i < 3; ++i) s.addAudio(5);
       }, ThreeG2, Both,
       "ftyp mdat moov(mvhd trak(tkhd " + kVideoMdia + ") trak(tkhd " + kAudioMdia + "))",
       {{"moov/mvhd", Mvhd("0001f63b", "00000003")},
        {VS + "stts", "00000018 'stts' 00000000 00000001 0000000a 00003239"},
        {A + "tkhd", Tkhd("00000002", "000030fa", true)},
        {A + "mdia/mdhd", Mdhd("00005622", "00000c00")},
        {AS + "stsd", "0000005b 'stsd' 00000000 00000001 0000004b 'mp4a' 00*6 0001 00*8 0002 0010 "
                      "00000000 5622 0000"}}},
      // A present track without samples (and so without a key frame) keeps
      // empty tables; stsc has no entry naming a chunk that does not exist.
      {"EmptyVideoTrack3gp", [](Segment& s) { SetMpeg4Video(s), SetAacAudio(s), s.addAudio(12); },
       ThreeGp, Both,
       "ftyp moov(mvhd drm(dcmd) trak(tkhd " + kVideoMdia + ") trak(tkhd edts(elst) " + kAudioMdia +
           ") udta(titl)) free free mdat",
       {{"moov/mvhd", Mvhd("00000000", "00000003")},
        {VS + "stss", "00000010 'stss' 00000000 00000000"},
        {VS + "stsc", "00000010 'stsc' 00000000 00000000"},
        {VS + "stsz", "00000014 'stsz' 00000000 00000000 00000000"},
        {VS + "stco", "00000010 'stco' 00000000 00000000"},
        {AS + "stco", "00000014 'stco' 00000000 00000001 000004ca"},
        {"mdat", "00000024 'mdat' 00000008 'wide' 00000000 'mdat' a0*12"}}},
      // The dcmd value follows the parity of the file's size (1559 bytes here).
      {"OddSize3gp", [](Segment& s) { FillWorkedExample(s), s.addAudio(7); }, ThreeGp, Both, "",
       {{"moov/drm ", "00000012 'drm ' 0000000a 'dcmd' 0d0c"}}},
  };
}
// clang-format on

void PrintTo(const LayoutCase& c, std::ostream* out) { *out << c.name; }

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, BoxesByteForByte) {
  const LayoutCase& c = GetParam();
  TempDir dir;
  Segment s;
  c.fill(s);
  BoxWalker w = WriteAndWalk(s, dir.file("clip01.avi"), c.kind, c.mode);
  if (!c.tree.empty()) {
    EXPECT_EQ(Tree(w.roots()), c.tree);
  }
  for (const Box& box : c.boxes) EXPECT_TRUE(BoxStartsWith(w, box.path, box.hex));
}

INSTANTIATE_TEST_SUITE_P(Files, LayoutTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zel::test
