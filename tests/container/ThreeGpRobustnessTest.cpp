// Inputs the plain layout does not cover: look-alike bytes, long stores, long
// decoder configurations, empty tracks and failing writes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "common/TestSupport.h"
#include "container/ContainerFixtures.h"
#include "container/ThreeGpBoxes.h"

namespace zel::test {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(RobustnessTest, LookAlikeTypesInTitleAndConfigAreLeftAlone) {
  TempDir dir;
  auto s = WorkedExample();
  auto trap = Bytes("stco\0\0\0\0st22dcmd\x99\x99stco");
  s->video.stream.decoderConfig = trap;
  s->audioParams.decoderConfig = trap;
  std::string base = dir.file("stco st22 dcmd.avi");
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    std::uint32_t size = Write(*s, base, kind, ContainerMode::Both);
    BoxWalker w = BoxWalker::FromFile(ThreeGpOutputPath(base, kind));
    ASSERT_EQ(size, w.bytes().size());
    EXPECT_TRUE(w.problems().empty());
    for (const char* esds : {"moov/trak[0]/mdia/minf/stbl/stsd/mp4v/esds",
                             "moov/trak[1]/mdia/minf/stbl/stsd/mp4a/esds"}) {
      const BoxNode* box = w.find(esds);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(w.text(box->payloadOffset + 26, trap.size()),
                std::string(trap.begin(), trap.end()));
    }
    auto video = Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stco"));
    auto audio = Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco"));
    std::uint32_t first = static_cast<std::uint32_t>(w.find("mdat")->offset) + 24;
    EXPECT_EQ(video, (std::vector<std::uint32_t>{first, first + 100, first + 150}));
    EXPECT_EQ(audio,
              (std::vector<std::uint32_t>{first + 220, first + 230, first + 242, first + 253}));
    if (kind == FileKind::ThreeGp) {
      const BoxNode* titl = w.find("moov/udta/titl");
      EXPECT_EQ(w.text(titl->payloadOffset + 6, 16), std::string("stco st22 dcmd.avi", 16));
      EXPECT_EQ(w.u16(w.find("moov/drm /dcmd")->payloadOffset), size % 2 ? 0x0D0Cu : 0x0908u);
    }
    EXPECT_TRUE(w.findType("st22").empty());
  }
}

TEST(RobustnessTest, MoreThan65535Samples) {
  TempDir dir;
  Segment s;
  SetMpeg4Video(s);
  SetAmrAudio(s);
  constexpr std::uint32_t kCount = 70001;
  for (std::uint32_t i = 0; i < kCount; ++i) s.addVideo(1 + i % 3, i % 100 == 0);
  for (std::uint32_t i = 0; i < kCount; ++i) s.addAudio(32);
  std::string base = dir.file("long.avi");
  std::uint32_t size = Write(s, base, FileKind::ThreeGp, ContainerMode::ThreeGpOnly);
  BoxWalker w = BoxWalker::FromFile(ThreeGpOutputPath(base, FileKind::ThreeGp));
  ASSERT_EQ(size, w.bytes().size());
  ASSERT_TRUE(w.problems().empty());
  auto video = Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stco"));
  auto audio = Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco"));
  ASSERT_EQ(video.size(), kCount);
  ASSERT_EQ(audio.size(), kCount);
  std::uint32_t videoBytes = s.video.samples.totalBytes();
  EXPECT_EQ(audio.front(), video.front() + videoBytes);
  EXPECT_EQ(audio.back() + 32, size);
  EXPECT_EQ(video.back() + s.video.samples.sampleSizes().back(), audio.front());
  EXPECT_EQ(Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stsz"), 8).size(), kCount);
  EXPECT_EQ(Table(w, w.find("moov/trak[0]/mdia/minf/stbl/stss")).size(), 701u);
  EXPECT_EQ(w.u32(w.find("moov/trak[0]/mdia/minf/stbl/stts")->payloadOffset + 8), kCount);
  EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), kCount * 6000u);
  EXPECT_EQ(w.u32(w.find("moov/trak[1]/mdia/mdhd")->payloadOffset + 16), kCount * 160u);
}

TEST(RobustnessTest, DescriptorLengths) {
  using boxes::DescriptorLength;
  EXPECT_EQ(DescriptorLength(0), (std::vector<std::uint8_t>{0x00}));
  EXPECT_EQ(DescriptorLength(127), (std::vector<std::uint8_t>{0x7F}));
  EXPECT_EQ(DescriptorLength(128), (std::vector<std::uint8_t>{0x81, 0x00}));
  EXPECT_EQ(DescriptorLength(200), (std::vector<std::uint8_t>{0x81, 0x48}));
  EXPECT_EQ(DescriptorLength(16383), (std::vector<std::uint8_t>{0xFF, 0x7F}));
  EXPECT_EQ(DescriptorLength(16384), (std::vector<std::uint8_t>{0x81, 0x80, 0x00}));
}

// The esds of a config of n bytes: sizes and the three descriptor lengths.
struct EsdsCase {
  std::size_t n;
  std::uint64_t esdsSize;
  std::vector<std::uint8_t> esLength, dcdLength, dsiLength;
};

TEST(RobustnessTest, LongDecoderConfigUsesMultiByteLengths) {
  for (const EsdsCase& c :
       {EsdsCase{20, 57, {43}, {35}, {20}}, EsdsCase{104, 141, {127}, {119}, {104}},
        EsdsCase{105, 143, {0x81, 0x00}, {120}, {105}},
        EsdsCase{113, 152, {0x81, 0x09}, {0x80 | 1, 0}, {113}},
        EsdsCase{200, 240, {0x81, 0x61}, {0x81, 0x58}, {0x81, 0x48}}}) {
    SCOPED_TRACE(c.n);
    TempDir dir;
    Segment s;
    SetMpeg4Video(s, c.n);
    s.addVideo(10, true);
    SetAacAudio(s);
    s.audioParams.decoderConfig = Sequence(c.n, 0x90);
    s.addAudio(10);
    std::uint32_t size = Write(s, dir.file("a.avi"), FileKind::ThreeGp, ContainerMode::Both);
    BoxWalker w = BoxWalker::FromFile(dir.file("a.3gp"));
    ASSERT_EQ(size, w.bytes().size());
    ASSERT_TRUE(w.problems().empty()) << w.outline();
    for (const char* path : {"moov/trak[0]/mdia/minf/stbl/stsd/mp4v/esds",
                             "moov/trak[1]/mdia/minf/stbl/stsd/mp4a/esds"}) {
      const BoxNode* esds = w.find(path);
      ASSERT_NE(esds, nullptr);
      EXPECT_EQ(esds->size, c.esdsSize);
      auto bytes = BoxBytes(w, esds);
      std::size_t at = 12;
      auto expectDescriptor = [&](std::uint8_t tag, const std::vector<std::uint8_t>& length) {
        ASSERT_LT(at + length.size(), bytes.size());
        EXPECT_EQ(bytes[at], tag);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + at + 1,
                                            bytes.begin() + at + 1 + length.size()),
                  length);
        at += 1 + length.size();
      };
      expectDescriptor(0x03, c.esLength);
      at += 3;
      expectDescriptor(0x04, c.dcdLength);
      at += 13;
      expectDescriptor(0x05, c.dsiLength);
      at += c.n;
      EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + at, bytes.end()),
                (std::vector<std::uint8_t>{0x06, 1, 2}));
    }
    EXPECT_EQ(w.find("moov/trak[0]/mdia/minf/stbl/stsd/mp4v")->size, 86 + c.esdsSize);
  }
}

TEST(RobustnessTest, EmptyTrackKeepsItsTrakWithoutStscEntry) {
  TempDir dir;
  Segment s;
  SetMpeg4Video(s);
  SetAacAudio(s);
  s.addAudio(12);
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    std::uint32_t size = Write(s, dir.file("e.avi"), kind, ContainerMode::Both);
    BoxWalker w = BoxWalker::FromFile(ThreeGpOutputPath(dir.file("e.avi"), kind));
    ASSERT_EQ(size, w.bytes().size());
    ASSERT_EQ(w.findAll("moov/trak").size(), 2u);
    const BoxNode* stsc = w.find("moov/trak[0]/mdia/minf/stbl/stsc");
    EXPECT_EQ(BoxBytes(w, stsc),
              (std::vector<std::uint8_t>{0, 0, 0, 16, 's', 't', 's', 'c', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(w.find("moov/trak[0]/mdia/minf/stbl/stco")->size, 16u);
    EXPECT_EQ(w.find("moov/trak[0]/mdia/minf/stbl/stsz")->size, 20u);
    EXPECT_EQ(w.find("moov/trak[1]/mdia/minf/stbl/stsc")->size, 28u);
    auto audio = Table(w, w.find("moov/trak[1]/mdia/minf/stbl/stco"));
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0], w.find("mdat")->offset + 24);
    EXPECT_EQ(w.u32(w.find("moov/mvhd")->payloadOffset + 16), 0u);  // the video's duration
  }
}

TEST(RobustnessTest, NoTrackWritesNothing) {
  TempDir dir;
  Segment s;
  RecordingNotifier notifier;
  EXPECT_EQ(Write(s, dir.file("n.avi"), FileKind::ThreeGp, ContainerMode::Both, &notifier), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_TRUE(notifier.messages().empty());
}

TEST(RobustnessTest, MissingFolderIsReported) {
  TempDir dir;
  auto s = WorkedExample();
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    RecordingNotifier notifier;
    std::string base = dir.file("missing/clip01.avi");
    EXPECT_EQ(Write(*s, base, kind, ContainerMode::Both, &notifier), 0u);
    std::string path = ThreeGpOutputPath(base, kind);
    EXPECT_EQ(notifier.messages(), std::vector<std::string>{"ファイル書き込み失敗[" + path + "]"});
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

// Runs the writer in a child whose file size limit is `limit` bytes; the exit
// code says what went wrong (0: returned 0, told the user, left no file).
int WriteUnderSizeLimit(const Segment& s, const std::string& base, FileKind kind, rlim_t limit) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(10);
    RecordingNotifier notifier;
    std::uint32_t result = Write(s, base, kind, ContainerMode::Both, &notifier);
    std::string path = ThreeGpOutputPath(base, kind);
    int code = 0;
    if (result != 0) code |= 1;
    if (notifier.messages() != std::vector<std::string>{"ファイル書き込み失敗[" + path + "]"})
      code |= 2;
    if (::access(path.c_str(), F_OK) == 0) code |= 4;
    ::_exit(code);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(RobustnessTest, FileSizeLimitIsReportedAndPartialFileRemoved) {
  TempDir dir;
  auto s = WorkedExample();
  s->addVideo(3000, true);
  for (FileKind kind : {FileKind::ThreeGp, FileKind::ThreeG2}) {
    EXPECT_EQ(WriteUnderSizeLimit(*s, dir.file("big.avi"), kind, 1000), 0)
        << static_cast<int>(kind);
    // The same write with room to spare succeeds in the same set-up.
    EXPECT_EQ(WriteUnderSizeLimit(*s, dir.file("big.avi"), kind, 1 << 20), 1 | 2 | 4)
        << static_cast<int>(kind);
    EXPECT_TRUE(std::filesystem::exists(ThreeGpOutputPath(dir.file("big.avi"), kind)));
  }
}

TEST(RobustnessTest, ALinkAtTheTargetIsReplacedNotFollowed) {
  auto s = WorkedExample();
  RecordingNotifier notifier;
  TempDir dir;
  std::string link = dir.file("full.3gp");
  std::filesystem::create_symlink("/dev/full", link);
  EXPECT_NE(Write(*s, dir.file("full.avi"), FileKind::ThreeGp, ContainerMode::Both, &notifier), 0u);
  EXPECT_TRUE(notifier.messages().empty());
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(link)));
}

}  // namespace
}  // namespace zel::test
