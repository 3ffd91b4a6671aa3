// The container writer: every written file laid out box by box and byte by
// byte (the worked example in both kinds, the track combinations, codecs and
// edge values); the box buffer's layout checks; and what the plain
// layout does not cover: look-alike bytes, long stores, long decoder
// configurations, names, the clock and refused writes.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>

#include "common/BoxWalker.h"
#include "common/TestSupport.h"
#include "container/BoxBuffer.h"
#include "container/ThreeGpBoxes.h"
#include "container/ThreeGpWriter.h"
#include "container/TrackBuffers.h"

namespace zel::test {
namespace {

constexpr std::uint32_t kFixedClock = 0xC0FFEE01;

// Both stores of one segment. Held by pointer: the audio store points at the
// parameter block.
struct Segment {
  AudioParameterBlock audioParams;
  AudioTrackBuffer audio;
  VideoTrackBuffer video;

  Segment() { audio.params = &audioParams; }
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;

  // Sample bytes carry their track and number so tests can find them again.
  void addVideo(std::size_t n, bool key) {
    std::vector<std::uint8_t> bytes(n,
                                    static_cast<std::uint8_t>(0x10 + video.samples.sampleCount()));
    video.appendFrame(bytes.data(), bytes.size(), key);
  }
  void addAudio(std::size_t n) {
    std::vector<std::uint8_t> bytes(n,
                                    static_cast<std::uint8_t>(0xA0 + audio.samples.sampleCount()));
    audio.samples.appendSample(bytes.data(), bytes.size());
  }
};

void SetMpeg4Video(Segment& s, std::size_t configBytes = 20) {
  s.video.present = true;
  s.video.kind = VideoKind::Mpeg4;
  s.video.stream = {"mpeg4", 64000, 15, 176, 144, Sequence(configBytes, 0x40)};
}

void SetAacAudio(Segment& s) {
  s.audio.present = true;
  s.audio.kind = AudioKind::Aac;
  s.audioParams = {32000, 16000, 1, 1024, {0x14, 0x08}};  // AAC-LC, 16000 Hz, mono
}

void SetAmrAudio(Segment& s) {
  s.audio.present = true;
  s.audio.kind = AudioKind::AmrNb;
  s.audioParams = {48000, 8000, 1, 160, {}};
}

// Three MPEG-4 Visual frames of 100, 50 and 70 bytes (the first a key frame)
// and four AAC frames of 10, 12, 11 and 9 bytes.
void FillWorkedExample(Segment& s) {
  SetMpeg4Video(s);
  SetAacAudio(s);
  s.addVideo(100, true);
  s.addVideo(50, false);
  s.addVideo(70, false);
  for (std::size_t n : {10, 12, 11, 9}) s.addAudio(n);
}

std::uint32_t Write(const Segment& s, const std::string& base, FileKind kind, ContainerMode mode,
                    Notifier* notifier = nullptr) {
  WriterOptions options;
  options.containerMode = mode;
  options.clockValue = kFixedClock;
  const WrittenFile file = ThreeGpWriter(s.audio, s.video, base, kind, options);
  if (notifier) test::Told(*notifier, file.fault);
  return file.size;
}

// Writes and walks the file; the returned size and a clean walk are checked.
BoxWalker WriteAndWalk(const Segment& s, const std::string& base, FileKind kind,
                       ContainerMode mode = ContainerMode::Both) {
  std::uint32_t size = Write(s, base, kind, mode);
  BoxWalker w = BoxWalker::FromFile(ThreeGpOutputPath(base, kind));
  EXPECT_EQ(size, w.bytes().size());
  // The size told without writing is the written file's.
  EXPECT_EQ(ThreeGpFileSize(s.audio, s.video, base, kind, {mode, {}}), w.bytes().size());
  EXPECT_TRUE(w.problems().empty()) << w.tree();
  return w;
}

// The box at path starts with these bytes. Its size word is among them, so
// the whole box of a leaf is compared, and the header of a parent.
::testing::AssertionResult BoxStartsWith(const BoxWalker& w, std::string_view path,
                                         std::string_view hex) {
  const BoxNode* box = w.find(path);
  if (!box) return ::testing::AssertionFailure() << "no " << path << " in\n" << w.tree();
  const std::vector<std::uint8_t> want = Hex(hex);
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (i < box->size && w.u8(box->offset + i) == want[i]) continue;
    return ::testing::AssertionFailure() << path << " differs at byte " << i << ": "
                                         << w.u8(box->offset + i) << " instead of " << +want[i];
  }
  return ::testing::AssertionSuccess();
}

// The entries of a full box's table that starts after version/flags and a
// 32-bit count (stco, stss), or after two words (stsz).
std::vector<std::uint32_t> Table(const BoxWalker& w, const BoxNode* box,
                                 std::uint64_t countAt = 4) {
  std::vector<std::uint32_t> out;
  if (!box) return out;
  std::uint32_t count = w.u32(box->payloadOffset + countAt);
  for (std::uint32_t i = 0; i < count && i < 1000000; ++i)
    out.push_back(w.u32(box->payloadOffset + countAt + 4 + 4 * std::uint64_t{i}));
  return out;
}

// A 32-bit field of a box's payload; 0 when there is no such box.
std::uint32_t Field(const BoxWalker& w, std::string_view path, std::uint64_t at) {
  const BoxNode* box = w.find(path);
  return box ? w.u32(box->payloadOffset + at) : 0;
}

struct Box {
  std::string path;
  std::string hex;  // what the box starts with (see Hex)
};

struct LayoutCase {
  const char* name;
  void (*fill)(Segment&);
  FileKind kind;
  ContainerMode mode;
  std::string tree;  // every box type in file order (see BoxWalker::Tree)
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
      // 24000/1001: a frame lasts 3753.75 units, the deltas alternate and
      // five frames last 18768.75 (at 30000/1001 one delta of 3003 does).
      {"FractionalRate", [](Segment& s) {
         SetMpeg4Video(s), s.video.stream.frameRateNum = 24000, s.video.stream.frameRateDen = 1001;
         for (int i = 0; i < 5; ++i) s.addVideo(3, i == 0);
       }, ThreeG2, Both, "",
       {{"moov/mvhd", Mvhd("00004950", "00000002")},
        {VS + "stts", "00000028 'stts' 00000000 00000003 00000001 00000ea9 00000003 00000eaa "
                      "00000001 00000ea9"}}},
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
    EXPECT_EQ(w.tree(), c.tree);
  }
  for (const Box& box : c.boxes) EXPECT_TRUE(BoxStartsWith(w, box.path, box.hex));
}

INSTANTIATE_TEST_SUITE_P(Files, LayoutTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

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
  const auto closed = [](const char* type, std::size_t size) {
    BoxBuffer box(type);
    box.close(size);
    return box;
  };
  EXPECT_EQ(brokenBy([](BoxBuffer& b) { b.appendChild(BoxBuffer("free")); }, closed("moov", 8)),
            "children are appended to closed boxes");  // an open child
  EXPECT_EQ(brokenBy([&](BoxBuffer& b) { b.appendChild(closed("trak", 4)); }, closed("moov", 8)),
            "box size differs from its layout");
  EXPECT_EQ(closedBox().bytes(), test::Hex("0000000c 'free' 00000000"));
}

// Patched fields are found by structure: bytes that look like box types or
// the dcmd placeholder, in the title and both configurations, stay as given.
TEST(RobustnessTest, LookAlikeTypesInTitleAndConfigAreLeftAlone) {
  TempDir dir;
  Segment s;
  FillWorkedExample(s);
  const std::string trap("stco\0\0\0\0st22dcmd\x99\x99stco", 22);
  s.video.stream.decoderConfig.assign(trap.begin(), trap.end());
  s.audioParams.decoderConfig.assign(trap.begin(), trap.end());
  std::string base = dir.file("stco st22 dcmd.avi");
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    BoxWalker w = WriteAndWalk(s, base, kind);
    for (const std::string& esds : {VS + "stsd/mp4v/esds", AS + "stsd/mp4a/esds"})
      EXPECT_EQ(w.text(w.find(esds)->payloadOffset + 26, trap.size()), trap);
    std::uint32_t first = static_cast<std::uint32_t>(w.find("mdat")->offset) + 24;
    EXPECT_EQ(Table(w, w.find(VS + "stco")),
              (std::vector<std::uint32_t>{first, first + 100, first + 150}));
    EXPECT_EQ(Table(w, w.find(AS + "stco")),
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
  auto video = Table(w, w.find(VS + "stco"));
  auto audio = Table(w, w.find(AS + "stco"));
  ASSERT_EQ(video.size(), kCount);
  ASSERT_EQ(audio.size(), kCount);
  EXPECT_EQ(video.back() + s.video.samples.sampleSizes().back(), audio.front());
  EXPECT_EQ(audio.front(), video.front() + s.video.samples.totalBytes());
  EXPECT_EQ(audio.back() + 32, w.bytes().size());
  EXPECT_EQ(Table(w, w.find(VS + "stsz"), 8).size(), kCount);
  EXPECT_EQ(Table(w, w.find(VS + "stss")).size(), 701u);
  EXPECT_EQ(Field(w, VS + "stts", 8), kCount);
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
// and two beyond (20 bytes: the worked example); the audio's has the same lengths.
TEST(RobustnessTest, LongDecoderConfigUsesMultiByteLengths) {
  for (auto [n, size, es, dcd, dsi] : {std::tuple{104, "8d", "7f", "77", "68"},
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
    const std::string esds = VS + "stsd/mp4v/esds";
    EXPECT_TRUE(BoxStartsWith(w, esds,
                              std::string("000000") + size + " 'esds' 00000000 03 " + es +
                                  " 0000 00 04 " + dcd + " 20 11 001800 0000fa00 0000fa00 05 " +
                                  dsi));
    EXPECT_EQ(w.find(esds)->size, w.find(AS + "stsd/mp4a/esds")->size);
  }
}

// Only "/" separates folders: a backslash is part of a Linux file name.
TEST(ThreeGpNamesTest, OutputPathAndTitle) {
  // the base, the outputs without their extension, the title
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"/out/clip01.avi", "/out/clip01", "clip01.avi"},
      {"x.y\\clip", "x", "x.y\\clip"},
      {"/o/C:\\out\\clip01.avi", "/o/C:\\out\\clip01", "C:\\out\\clip01.avi"},
      {"/out/映像.wmv", "/out/映像", "映像.wmv"}};
  for (const auto& [base, stem, title] : cases) {
    EXPECT_EQ(ThreeGpOutputPath(base, FileKind::ThreeGp), stem + ".3gp");
    EXPECT_EQ(ThreeGpOutputPath(base, FileKind::ThreeG2), stem + ".3g2");
    EXPECT_EQ(ThreeGpTitle(base), title);
  }
}

// Seconds from 1970 plus 2082902400; unset in the options, the system clock,
// read once for every field.
TEST(ThreeGpClockTest, SystemClockPlus2082902400) {
  EXPECT_EQ(ThreeGpClockValue(0), 2082902400u);
  EXPECT_EQ(ThreeGpClockValue(1700000000), 3782902400u);
  TempDir dir;
  Segment s;
  FillWorkedExample(s);
  std::uint32_t before = ThreeGpClockValue(std::time(nullptr));
  ASSERT_NE(ThreeGpWriter(s.audio, s.video, dir.file("a.avi"), FileKind::ThreeGp).size, 0u);
  std::uint32_t after = ThreeGpClockValue(std::time(nullptr));
  BoxWalker w = BoxWalker::FromFile(dir.file("a.3gp"));
  std::uint32_t clock = Field(w, "moov/mvhd", 4);
  EXPECT_GE(clock, before);
  EXPECT_LE(clock, after);
  for (const std::string trak : {"moov/trak[0]/", "moov/trak[1]/"}) {
    EXPECT_EQ(Field(w, trak + "tkhd", 8), clock);
    EXPECT_EQ(Field(w, trak + "mdia/mdhd", 4), clock);
  }
}

std::vector<std::string> WriteFailure(const std::string& path, const char* reason) {
  return {"ファイル書き込み失敗[" + path + "] (" + reason + ")"};
}

// Without a track nothing is written, silently; a missing folder is told.
TEST(RobustnessTest, NoTrackOrNoFolder) {
  TempDir dir;
  RecordingNotifier silent;
  EXPECT_EQ(Write(Segment(), dir.file("n.avi"), FileKind::ThreeGp, ContainerMode::Both, &silent),
            0u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_TRUE(silent.messages().empty());
  Segment s;
  FillWorkedExample(s);
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    RecordingNotifier notifier;
    std::string base = dir.file("missing/clip01.avi");
    EXPECT_EQ(Write(s, base, kind, ContainerMode::Both, &notifier), 0u);
    std::string path = ThreeGpOutputPath(base, kind);
    EXPECT_EQ(notifier.messages(), WriteFailure(path, "No such file or directory"));
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
  EXPECT_EQ(notifier.messages(), WriteFailure(dir.file("huge.3gp"), "File too large"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace zel::test
