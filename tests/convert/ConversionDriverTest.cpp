// Whole conversions through the driver on files made at test time; every
// output is decoded by ffmpeg and measured by ffprobe. And what a job starts
// from (the settings resolved to parameters) and leaves (the report's blocks).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "common/BoxWalker.h"
#include "common/ConversionJob.h"
#include "common/MediaFixtures.h"
#include "convert/Report.h"
#include "source/AviTranscoder.h"

// Fault injection: the libav call that gFailing names fails when this
// program (our code, not libav itself) makes it, as it would without memory
// or with a file that cannot be read.
namespace {
std::atomic<const char*> gFailing{nullptr};

bool Fails(const char* call, const void* returnAddress) {
  const char* failing = gFailing.load();
  Dl_info caller{}, program{};
  return failing != nullptr && std::strcmp(failing, call) == 0 &&
         ::dladdr(returnAddress, &caller) != 0 &&
         ::dladdr(reinterpret_cast<void*>(&Fails), &program) != 0 &&
         caller.dli_fbase == program.dli_fbase;
}

template <typename F>
F Real(const char* call) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, call));
}
}  // namespace

extern "C" int avcodec_send_packet(AVCodecContext* codec, const AVPacket* packet) {
  static const auto real = Real<decltype(&avcodec_send_packet)>("avcodec_send_packet");
  if (Fails("avcodec_send_packet", __builtin_return_address(0))) return AVERROR(ENOMEM);
  return real(codec, packet);
}

extern "C" int av_frame_ref(AVFrame* to, const AVFrame* from) {
  static const auto real = Real<decltype(&av_frame_ref)>("av_frame_ref");
  if (Fails("av_frame_ref", __builtin_return_address(0))) return AVERROR(ENOMEM);
  return real(to, from);
}

extern "C" int sws_scale(SwsContext* c, const std::uint8_t* const from[], const int fromStride[],
                         int y, int h, std::uint8_t* const to[], const int toStride[]) {
  static const auto real = Real<decltype(&sws_scale)>("sws_scale");
  if (Fails("sws_scale", __builtin_return_address(0))) return AVERROR(EINVAL);
  return real(c, from, fromStride, y, h, to, toStride);
}

extern "C" int av_read_frame(AVFormatContext* input, AVPacket* packet) {
  static const auto real = Real<decltype(&av_read_frame)>("av_read_frame");
  if (!Fails("av_read_frame", __builtin_return_address(0))) return real(input, packet);
  input->pb->error = AVERROR(EIO);  // as the file protocol tells a failed read
  return AVERROR(EIO);
}

namespace zel {
namespace {

namespace fs = std::filesystem;
using namespace test;

// The file decodes cleanly, its streams are `streams` (the video's codec,
// the sound's "codec,rate,channels"), its tracks last `seconds`.
struct Output {
  const char* name;
  double seconds;
  const char* streams;
};

void ExpectGood(const Job& j, const Output& o) {
  test::ExpectTracksLast(j.out.file(o.name), o.seconds);
  EXPECT_EQ(test::Probe(j.out.file(o.name), "stream=codec_name,sample_rate,channels"), o.streams);
}

struct Case {
  const char* name;
  const char* input;  // see Media
  void (*set)(Job&);
  ConversionOutcome outcome;
  std::vector<Output> outputs;      // the container files the folder holds afterwards
  std::string message = "";         // the start of a failed job's message
  std::vector<std::string> make{};  // ffmpeg arguments of an input of this test's own
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ConversionDriverTest : public ::testing::TestWithParam<Case> {};

// Completed jobs say where their files went; an old report stays while the
// report is off. Failed ones end on why and never say "saved"; the files of earlier
// segments stay. Nothing is left in the work folder.
TEST_P(ConversionDriverTest, Converts) {
  const Case& c = GetParam();
  Job j;
  test::WriteFileBytes(j.out.file("thumbnail.html"), {'o', 'l', 'd'});
  c.set(j);
  const ConversionOutcome outcome = j.Convert(Media(c.input, c.make));
  gFailing = nullptr;
  ASSERT_EQ(outcome, c.outcome);
  std::set<std::string> names;
  for (const Output& o : c.outputs) names.insert(o.name), ExpectGood(j, o);
  EXPECT_EQ(j.Outputs(), names);
  const auto segments = std::count_if(names.begin(), names.end(),
                                      [](const std::string& n) { return n.ends_with(".3gp"); });
  EXPECT_TRUE(fs::is_empty(j.work.path()));
  const std::vector<std::string> told = j.notifier.messages();
  if (c.outcome == ConversionOutcome::Completed) {
    EXPECT_EQ(told.back(), kSaved + j.settings.result + "]に保存しました。");
    EXPECT_EQ(test::ReadFileText(j.out.file("thumbnail.html")), "old");
    // 3G2 at 8000 Hz warns once, not per segment
    EXPECT_EQ(std::count_if(told.begin(), told.end(), [](auto& m) { return m.starts_with("au"); }),
              j.settings.file3g2 ? 1 : 0);
    EXPECT_EQ(j.summary.segments, segments);
    EXPECT_EQ(j.state.segmentIndex, segments);
  } else {
    for (const std::string& m : told) EXPECT_EQ(m.find(kSaved), std::string::npos) << m;
    EXPECT_TRUE(told.back().starts_with(c.message)) << told.back();
  }
}

using enum ConversionOutcome;
// Longer than one picture's decoding, shorter than the decoding up to a
// distant start. A sanitizer makes each picture many times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr auto kSlowWorkStall = std::chrono::milliseconds(1000);
#else
constexpr auto kSlowWorkStall = std::chrono::milliseconds(300);
#endif
const char* kAac = "mpeg4 aac,8000,1";
const char* kUnread = "入力ファイルを読み込めませんでした[";
// The libav call fails from the job's first progress on.
void FailFrom(Job& j, const char* call) {
  j.notifier.atProgress = [call](const ConversionProgress&) { gFailing = call; };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Jobs, ConversionDriverTest,
    ::testing::Values(
        // a split interval longer than the range still numbers the files
        Case{"WmvToBothKinds", "clip.wmv",
             [](Job& j) { j.settings.file3g2 = 1, j.settings.splittime = 300000000; }, Completed,
             {{"clip00.3gp", 4.1, kAac}, {"clip00.3g2", 4.1, kAac}}},
        Case{"MarksSelectTheRange", "clip.wmv",
             [](Job& j) { j.range.start = 10000000, j.range.end = 30000000; }, Completed,
             {{"clip.3gp", 2, kAac}}},
        // segments of 1, 1 and 0.7 s, each with the chosen rate and channels;
        // the last one, shorter than a second, has an empty sound track
        Case{"SplittingNamesAndCutsSegments", "clip.wmv", [](Job& j) {
               j.settings.splittime = 10000000, j.range.start = 5000000, j.range.end = 32000000;
             }, Completed,
             {{"clip00.3gp", 1, kAac}, {"clip01.3gp", 1, kAac}, {"clip02.3gp", 0.7, kAac}}},
        Case{"AudioOnly", "song.wma", [](Job&) {}, Completed, {{"song.3gp", 3, "aac,8000,1"}}},
        Case{"MonoWav", "mono8k.wav", [](Job&) {}, Completed, {{"mono8k.3gp", 3, "aac,8000,1"}}},
        Case{"MpegLayerTwo", "layer2.mpg", [](Job&) {}, Completed, {{"layer2.3gp", 3, kAac}}},
        // Decoding from a key frame 23 s before the start delivers nothing for
        // longer than the stall period; it is work all the same, not a stall.
        Case{"SlowWorkIsNoStall", "distant.wmv", [](Job& j) {
               j.range.start = 235000000, j.job.stallPeriod = kSlowWorkStall;
             }, Completed, {{"distant.3gp", 1.5, "mpeg4"}}, "",
             test::Join({test::Video("1280x720", "25", "25"), {"-c:v", "wmv2", "-g", "1000"}})},
        // A decoder that shows nothing for longer than the stall period (one
        // big picture against 1 ms) ends the job.
        Case{"AStallFailsTheJob", "big.avi",
             [](Job& j) { j.job.stallPeriod = std::chrono::milliseconds(1); }, Failed, {},
             "デコードが進まなくなったため、変換を中止しました。",
             test::Join({test::Video("1920x1080", "25", "2"), {"-c:v", "mpeg4", "-q:v", "2"}})},
        Case{"StartBeyondTheEnd", "clip.wmv", [](Job& j) { j.range.start = 990000000; }, Failed,
             {}, "変換する範囲がありません。開始と終了の位置を確かめてください。"},
        Case{"NeitherSoundNorPictures", "clip.wmv",
             [](Job& j) { j.settings.mpeg_audio = j.settings.mpeg_video = 0; }, Failed, {},
             "変換できる音声も映像もありません。"},
        // less than a second of sound gives an empty track: no file is made
        // of a segment that holds nothing, and a job without files is no
        // success, which says why
        Case{"NothingButAnEmptyTrack", "blip.wav", [](Job&) {}, Failed, {},
             "音声が1秒より短いため、変換できる音声がありません。", test::Tone(8000, "0.9")},
        Case{"H263AtAnUnlistedSize", "clip.wmv",
             [](Job& j) { j.settings.mpeg_video = 1, j.settings.framesize = 2; }, Failed, {},
             "h263:128x96,176x144,352x288,704x576,1408x1152\n"},
        Case{"NoContainerChosen", "clip.wmv", [](Job& j) { j.settings.file3gp = 0; }, Refused, {},
             "変換するファイルが指定されていません。"},
        Case{"UnwritableOutput", "clip.wmv", [](Job& j) { j.settings.result += "/gone"; }, Failed,
             {}, "ファイル書き込み失敗["},
        Case{"MissingWorkFolder", "clip.wmv", [](Job& j) { j.workPath += "/gone"; }, Failed, {},
             "Can not Open Temporary wav file!"},
        // a folder where the second thumbnail or the report should go
        Case{"ThumbnailFailureFailsTheJob", "clip.wmv", [](Job& j) {
               j.settings.logfile = 1, j.settings.splittime = 20000000;
               fs::create_directory(j.out.file("sample_01.jpg"));
             }, Failed, {{"clip00.3gp", 2, kAac}, {"clip01.3gp", 2, kAac}},
             "サムネイル画像の書き込みに失敗しました["},
        Case{"ReportFailureFailsTheJob", "clip.wmv", [](Job& j) {
               j.settings.logfile = 1, j.settings.splittime = 20000000;
               fs::remove(j.out.file("thumbnail.html"));
               fs::create_directory(j.out.file("thumbnail.html"));
             }, Failed, {{"clip00.3gp", 2, kAac}}, "レポートの書き込みに失敗しました["},
        // Refused before anything is written: a name the folder cannot hold,
        // pictures too large, a file longer than its 32-bit durations hold,
        // more segments than a job takes.
        Case{"NamesTheFolderCannotHold", "clip.wmv", [](Job& j) {
               j.settings.logfile = 1, j.settings.edit = "%999d";
             }, Refused, {}, "出力ファイルの名前が長すぎるため、変換できません["},
        Case{"PicturesLargerThan8192", "wide.nut", [](Job&) {}, Refused, {},
             "映像のサイズが扱える範囲（8192x8192まで）を超えているため、変換できません[",
             test::Join({test::Video("8200x16", "1", "1"), {"-c:v", "rawvideo"}})},
        Case{"LongerThanTheDurationsHold", "hours.nut", [](Job&) {}, Refused, {},
             "1つの出力ファイルが13時間15分を超えるため、変換できません。",
             test::Join({test::Video("32x32", "1/3600", "54000"), {"-c:v", "rawvideo"}})},
        Case{"MoreSegmentsThanAJobTakes", "hours.nut", [](Job& j) { j.settings.splittime = 5000000; },
             Refused, {}, "分割するとファイルが100000個を超えるため、変換できません。",
             test::Join({test::Video("32x32", "1/3600", "54000"), {"-c:v", "rawvideo"}})},
        // A call that fails, or an exception, from the job's first progress
        // on fails the job with a message.
        Case{"ASendPacketThatFails", "clip.wmv", [](Job& j) { FailFrom(j, "avcodec_send_packet"); },
             Failed, {}, kUnread},
        Case{"AFrameRefThatFails", "clip.wmv", [](Job& j) {
               j.settings.splittime = 20000000, FailFrom(j, "av_frame_ref");
             }, Failed, {}, kUnread},
        Case{"AScalingThatFails", "video.wmv", [](Job& j) { FailFrom(j, "sws_scale"); }, Failed, {},
             kUnread},
        Case{"AReadThatFails", "clip.wmv", [](Job& j) { FailFrom(j, "av_read_frame"); }, Failed, {},
             kUnread},
        Case{"AnExceptionOnTheConversionThread", "clip.wmv", [](Job& j) {
               j.notifier.atProgress = [](const ConversionProgress&) { throw std::bad_alloc(); };
             }, Failed, {}, "メモリが足りないため、変換を中止しました。"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// An abort at the start of segment 2 of 5 keeps the files, thumbnails and
// report blocks of the finished segments; one inside a long segment stops its
// decoding (the video path takes no frame after the flag) and writes nothing.
// An old report goes when the job starts; a user's file named like the
// thumbnails' intermediate BMP stays (the BMP is made in the work folder).
TEST(ConversionDriverAbort, AbortKeepsOnlyFinishedSegmentsAndTheirReport) {
  Job j;
  j.settings.logfile = 1;
  j.settings.file3g2 = 1;
  j.settings.capturesize = 1;  // 64x48
  j.settings.splittime = 20000000;
  j.notifier.abortAt = 2;
  test::WriteFileBytes(j.out.file("thumbnail.html"), {'o', 'l', 'd'});
  test::WriteFileBytes(j.out.file("sample_00.bmp"), {'m', 'i', 'n', 'e'});
  ASSERT_EQ(j.Convert(Media("clip10.wmv")), Aborted);
  EXPECT_EQ(j.notifier.messages().back(), "変換を中断しました。");
  EXPECT_EQ(j.Outputs(), (std::set<std::string>{"clip1000.3gp", "clip1000.3g2", "clip1001.3gp",
                                                "clip1001.3g2"}));
  for (const char* kept : {"clip1000.3gp", "clip1001.3g2"}) ExpectGood(j, {kept, 2.0, kAac});
  const std::string report = test::ReadFileText(j.out.file("thumbnail.html"));
  EXPECT_TRUE(report.starts_with("input file " + j.out.file("clip1000.wmv") + "<BR>")) << report;
  for (const char* part : {"starttime 00:02.000 endtime 00:04.000<BR>", "framesize 320x240<BR>",
                           "samplerate 44100[Hz]<BR>channels STEREO<BR>"})
    EXPECT_NE(report.find(part), std::string::npos) << part;
  for (const char* image : {"sample_00", "sample_01"}) {
    EXPECT_NE(report.find("<img src=\"" + j.out.file(image) + ".jpg\">"), std::string::npos);
    EXPECT_EQ(test::Probe(j.out.file(image) + ".jpg", "stream=width,height"), "64,48");
  }
  EXPECT_EQ(test::ReadFileText(j.out.file("sample_00.bmp")), "mine");
  std::size_t blocks = 0;
  for (std::size_t at = 0; (at = report.find("<HR><HR>", at)) != std::string::npos; at += 8)
    ++blocks;
  // the aborted segment, never written, has neither thumbnail nor block
  EXPECT_EQ(blocks, 2u);
  EXPECT_FALSE(fs::exists(j.out.file("sample_02.jpg")));
  EXPECT_TRUE(fs::is_empty(j.work.path()));

  // An abort while pictures decode and encode stops that segment's decoding
  // (the video path takes no frame after the flag) and writes nothing; one
  // once a segment is written while the next one decodes ahead keeps that
  // segment. Either stops every thread and leaves no work file (nor the next
  // segment's WAV file).
  for (const bool between : {false, true}) {
    Job k;
    k.settings.splittime = 20000000;
    if (between) {
      k.notifier.atProgress = [&k](const ConversionProgress& p) {
        if (p.segmentFinished) k.state.abortRequested = true;
      };
    } else {
      // the first picture's caption: a 2-s segment may be decoded before any
      // progress tells a position
      k.notifier.abortAt = -1;
    }
    ASSERT_EQ(k.Convert(Media("clip10.wmv")), Aborted);
    EXPECT_EQ(k.Outputs(),
              between ? std::set<std::string>{"clip1000.3gp"} : std::set<std::string>{});
    if (!between) {
      EXPECT_LT(k.notifier.captions().size(), 30u);
      EXPECT_LT(k.source.deliveredFrames(), 30u);
    }
    EXPECT_TRUE(fs::is_empty(k.work.path()));
  }
}

// The file's bytes but its clock fields (creation and modification times of
// the movie, its tracks and their media), which tell when it was written.
std::vector<std::uint8_t> WithoutClocks(const std::string& path) {
  BoxWalker walker = BoxWalker::FromFile(path);
  std::vector<std::uint8_t> bytes = walker.bytes();
  for (std::string box : {"moov/mvhd", "moov/trak[0]/tkhd", "moov/trak[0]/mdia/mdhd",
                          "moov/trak[1]/tkhd", "moov/trak[1]/mdia/mdhd"}) {
    if (const BoxNode* node = walker.find(box))
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(node->payloadOffset + 4), 8, 0);
  }
  return bytes;
}

// Pictures decoded on one thread and encoded on another, with each next
// segment decoded ahead, give the very files of the job run on one thread.
TEST(ConversionDriverOverlap, FilesMatchTheSingleThreadedJob) {
  // mpeg_video 2: MPEG-4, 1: H.263
  for (const auto& [video, split] : {std::pair{2, 0}, {2, 1}, {1, 0}, {1, 1}}) {
    std::map<std::string, std::vector<std::uint8_t>> files[2];
    for (const int single : {0, 1}) {
      single ? ::setenv("ZEL_SINGLE_THREAD", "1", 1) : ::unsetenv("ZEL_SINGLE_THREAD");
      Job j;
      j.settings.file3g2 = 1;
      j.settings.mpeg_video = video;
      j.settings.splittime = split * 10000000;
      ASSERT_EQ(j.Convert(Media("clip.wmv")), Completed);
      for (const std::string& name : j.Outputs())
        files[single][name] = WithoutClocks(j.out.file(name));
    }
    ::unsetenv("ZEL_SINGLE_THREAD");
    EXPECT_GE(files[0].size(), split ? 8u : 2u);
    EXPECT_TRUE(files[0] == files[1]) << "mpeg_video " << video << " split " << split;
  }
}

// A segment's files are written while the next segment already decodes: when
// writing fails (a folder holds the file's name), its message is the job's
// last word, the next segment shows no progress and nothing temporary stays.
TEST(ConversionDriverOverlap, AFailedWriteStopsTheJobBeforeTheNextSegmentShows) {
  Job j;
  j.settings.splittime = 10000000;
  fs::create_directory(j.out.file("clip01.3gp"));
  int lastSegment = -1;
  j.notifier.atProgress = [&](const ConversionProgress& p) { lastSegment = p.segmentIndex; };
  ASSERT_EQ(j.Convert(Media("clip.wmv")), Failed);
  EXPECT_TRUE(j.notifier.messages().back().starts_with("ファイル書き込み失敗["));
  EXPECT_EQ(lastSegment, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(j.out.path()), {}), 2);
  EXPECT_TRUE(fs::is_regular_file(j.out.file("clip00.3gp")));
  EXPECT_TRUE(fs::is_empty(j.out.file("clip01.3gp")));
  EXPECT_TRUE(fs::is_empty(j.work.path()));
}

// The AVI's pre-conversion fails too when a picture cannot be scaled.
TEST(ConversionDriverFailingCalls, AviTranscodingStopsWhenScalingFails) {
  test::TempDir dir;
  AviTranscoder transcoder(Media("clip.avi"), dir.file("clip.wmv"));
  gFailing = "sws_scale";
  EXPECT_FALSE(transcoder.Run());
  gFailing = nullptr;
}

// A file emptied or cut while it is converted fails the job: its data ends
// well before the length the job was planned with, which is not the sound
// of silence.
TEST(ConversionDriverCut, AFileCutWhileConvertingFailsTheJob) {
  for (const std::uintmax_t keep : {0, 60000}) {
    Job j;
    test::TempDir in;
    const std::string input = in.file("clip10.wmv");
    fs::copy_file(Media("clip10.wmv"), input);
    j.settings.splittime = 10000000;
    j.notifier.atProgress = [&](const ConversionProgress& p) {
      if (p.segmentIndex == 2) fs::resize_file(input, keep);
    };
    EXPECT_EQ(j.Convert(input), Failed);
    EXPECT_TRUE(j.notifier.messages().back().starts_with(
        "入力ファイルのデータが予定の長さより前で終わっています。"))
        << j.notifier.messages().back();
  }
}

// Sound whose every packet fails to decode gives only the silence that
// fills its gaps: the job makes no files of it, whole or split, and says
// that there was nothing to convert.
TEST(ConversionDriverDamage, SoundThatNeverDecodesGivesNoFiles) {
  std::vector<std::uint8_t> song = test::ReadFileBytes(Media("song.wma"));
  // wmav2, 2 channels, 44100 Hz: its header's flags (after the 18 bytes of
  // the format and 4 of its extra data) claim a bit reservoir, which the
  // packets do not have.
  const std::uint8_t format[] = {0x61, 0x01, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00};
  const auto at = std::search(song.begin(), song.end(), std::begin(format), std::end(format));
  ASSERT_LT(at + 22, song.end());
  at[22] |= 0x02;
  test::TempDir in;
  const std::string input = in.file("mute.wma");
  test::WriteFileBytes(input, song);
  for (const int split : {0, 12000000}) {  // the last of 1.2 s segments is shorter than 1 s
    Job j;
    j.settings.splittime = split;
    EXPECT_EQ(j.Convert(input), Failed);
    EXPECT_TRUE(j.Outputs().empty());
    EXPECT_EQ(j.notifier.messages().back(), "変換できる音声も映像もありません。");
  }
}

// 65.25 s from a 44100 Hz stereo, 320x240, 29.97 fps input to AAC 8000 Hz mono
// and MPEG-4 176x144 at 15 fps.
ReportSegment TripSegment(const std::string& folder) {
  // clang-format off
  return {folder + "/trip.wmv", 652500000, 0, 652500000,
          true, 44100, 2, 8000, 1, 32000,
          true, 29, 320, 240, 15, 176, 144, 200000,
          true, folder + "/sample_00"};
  // clang-format on
}

std::string TripBlock(const std::string& folder, const std::string& link = "") {
  return "input file " + folder +
         "/trip.wmv<BR>01:05.250<BR>audio<BR>samplerate 44100[Hz]<BR>channels STEREO<BR>"
         "video<BR>framerate 29[fps]<BR>framesize 320x240<BR><HR>"
         "starttime 00:00.000 endtime 01:05.250<BR>audio<BR>samplerate 08000[Hz]<BR>"
         "channels MONO<BR>bitrate 32000[bps]<BR>video<BR>framerate 15[fps]<BR>"
         "framesize 176x144<BR>bitrate 200000[bps]<BR><img src=\"" +
         (link.empty() ? folder : link) + "/sample_00.jpg\"><BR><HR><HR>";
}

std::string ReportOf(const ReportSegment& s) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  EXPECT_TRUE(AppendReport(report, s));
  return ReadFileText(report);
}

// The block byte for byte. Paths are text of the page and of its img attribute: printf conversions
// print as they stand, and the four characters that would break the page are
// entities; every other byte stays. In the link, what a browser would read
// as a fragment, a query or an escape is percent-encoded.
TEST(ReportTest, PathsArePrintedSafely) {
  struct Case {
    const char* folder;
    const char* printed;
    const char* link = "";
  } cases[] = {
      {"/out", "/out"},
      {"/out/100%s%n%d", "/out/100%s%n%d", "/out/100%25s%25n%25d"},
      {"/o\"ut<a>&b", "/o&quot;ut&lt;a&gt;&amp;b"},
      {"/ｆｏｌｄｅｒ\\x", "/ｆｏｌｄｅｒ\\x"},
      {"/take #2?", "/take #2?", "/take %232%3F"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReportOf(TripSegment(c.folder)), TripBlock(c.printed, c.link)) << c.folder;
}

TEST(ReportTest, SegmentsWithoutOneKindOrWithoutImage) {
  ReportSegment audioOnly = TripSegment("/out");
  audioOnly.hasVideo = false;
  audioOnly.inputDurationHns = audioOnly.endHns = 30000000;
  EXPECT_EQ(ReportOf(audioOnly),
            "input file /out/trip.wmv<BR>00:03.000<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels STEREO<BR><HR>starttime 00:00.000 endtime 00:03.000<BR>audio<BR>"
            "samplerate 08000[Hz]<BR>channels MONO<BR>bitrate 32000[bps]<BR>"
            "<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");

  ReportSegment videoOnly = TripSegment("/out");
  videoOnly.hasAudio = false;
  videoOnly.targetFrameRate = 5;
  EXPECT_EQ(ReportOf(videoOnly),
            "input file /out/trip.wmv<BR>01:05.250<BR>video<BR>framerate 29[fps]<BR>"
            "framesize 320x240<BR><HR>starttime 00:00.000 endtime 01:05.250<BR>video<BR>"
            "framerate 05[fps]<BR>framesize 176x144<BR>bitrate 200000[bps]<BR>"
            "<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");

  ReportSegment noImage = audioOnly;
  noImage.sourceChannels = 1;
  noImage.targetChannels = 2;
  noImage.audioBitRate = 48000;
  noImage.containerSelected = false;
  EXPECT_EQ(ReportOf(noImage),
            "input file /out/trip.wmv<BR>00:03.000<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels MONO<BR><HR>starttime 00:00.000 endtime 00:03.000<BR>audio<BR>"
            "samplerate 08000[Hz]<BR>channels STEREO<BR>bitrate 48000[bps]<BR><HR><HR>");
}

// A block follows what the file holds without anything between them (that
// the first block of a job replaces it, the abort's job shows); a report that
// cannot be written leaves the file as it was.
TEST(ReportTest, AppendingStartingAndFailing) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  test::WriteFileBytes(report, {'o', 'l', 'd'});
  ASSERT_TRUE(AppendReport(report, TripSegment("/a")));
  EXPECT_EQ(ReadFileText(report), "old" + TripBlock("/a"));

  EXPECT_FALSE(AppendReport(dir.file("missing/thumbnail.html"), TripSegment("/out")));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
  std::filesystem::create_directory(dir.path() / "folder.html");
  EXPECT_FALSE(AppendReport(dir.file("folder.html"), TripSegment("/out")));
  // nothing half-written stays beside the report
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(ReportTest, FormatsTimes) {
  constexpr std::int64_t kMinute = 60 * 10000000;
  // clang-format off
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "00:00.000"}, {599999999, "00:59.999"}, {9999, "00:00.000"}, {10000, "00:00.001"},
      {59 * kMinute + 599990000, "59:59.999"}, {100 * kMinute, "100:00.000"},
      {12345 * kMinute + 70000, "12345:00.007"}, {-652500000, "00:00.000"}};
  // clang-format on
  for (const auto& [hns, text] : cases) EXPECT_EQ(FormatReportTime(hns), text) << hns;
}

struct ParamsCase {
  const char* name;
  void (*change)(ConversionSettings&);
  AudioKind audio;
  int rate, channels;
  VideoKind video;
  int width, height, frameRate;
  ContainerMode mode = ContainerMode::Both;
  int thumbWidth = 0, thumbHeight = 0;
  bool report = false;
};

// Every index resolves through its list; one outside a list takes the first
// entry. The rate and channel lists follow the audio format, the frame sizes
// come from the MPEG-4 list for both video formats.
TEST(ConversionParametersTest, SettingsResolveThroughTheLists) {
  const auto Aac = AudioKind::Aac, AmrNb = AudioKind::AmrNb, NoAudio = AudioKind::None;
  const auto Mpeg4 = VideoKind::Mpeg4, H263 = VideoKind::H263, NoVideo = VideoKind::None;
  using enum ContainerMode;
  using S = ConversionSettings;
  // clang-format off
  const ParamsCase cases[] = {
      {"fresh start", [](S&) {}, Aac, 8000, 1, Mpeg4, 320, 240, 0},
      {"amr is 8000 Hz mono", [](S& s) { s.mpeg_audio = 2, s.samplerate = 3, s.channels = 1; },
       AmrNb, 8000, 1, Mpeg4, 320, 240, 0},
      {"no audio, no video", [](S& s) { s.mpeg_audio = s.mpeg_video = 0, s.samplerate = 2; },
       NoAudio, 0, 0, NoVideo, 0, 0, 0},
      {"unknown formats", [](S& s) { s.mpeg_audio = -3, s.mpeg_video = 7; },
       NoAudio, 0, 0, NoVideo, 0, 0, 0},
      {"h263 176x144 at 15 fps", [](S& s) { s.mpeg_video = s.framesize = 1, s.framerate = 15; },
       Aac, 8000, 1, H263, 176, 144, 15},
      {"h263 320x240", [](S& s) { s.mpeg_video = 1; },
       Aac, 8000, 1, H263, 320, 240, 0},
      {"indexes outside their lists", [](S& s) {
         s.samplerate = 99, s.channels = -3, s.framesize = 9, s.framerate = -4;
         s.capturesize = INT_MIN;
       }, Aac, 8000, 1, Mpeg4, 128, 96, 0},
      {"3gp only, 64x48 report", [](S& s) { s.file3g2 = 0, s.capturesize = s.logfile = 1; },
       Aac, 8000, 1, Mpeg4, 320, 240, 0, ThreeGpOnly, 64, 48, true},
      {"3g2 only, 128x96", [](S& s) { s.file3gp = 0, s.capturesize = 2; },
       Aac, 8000, 1, Mpeg4, 320, 240, 0, ThreeG2Only, 128, 96},
      {"any non-zero flag", [](S& s) { s.file3gp = 5, s.file3g2 = -1, s.capturesize = 3; },
       Aac, 8000, 1, Mpeg4, 320, 240, 0, Both, 0, 0},
  };
  // clang-format on
  for (const ParamsCase& c : cases) {
    SCOPED_TRACE(c.name);
    // The settings after a start without setup.ini, changed by the case.
    ConversionSettings s;
    ApplyDefaultSettings(s);
    c.change(s);
    ConversionParameters r;
    AudioParameterBlock audio;
    audio.bitRate = 12345;  // must be cleared by the reset
    VideoEncoderContext video;
    ASSERT_EQ(PrepareConversion(s, r, EncoderBlocks{video, audio}).kind, FaultKind::kNone);
    EXPECT_EQ(
        std::make_tuple(r.audioKind, r.sampleRate, r.channels, r.videoKind, r.width, r.height),
        std::make_tuple(c.audio, c.rate, c.channels, c.video, c.width, c.height));
    EXPECT_EQ(
        std::make_tuple(r.frameRate, r.containerMode, r.thumbWidth, r.thumbHeight, r.reportEnabled),
        std::make_tuple(c.frameRate, c.mode, c.thumbWidth, c.thumbHeight, c.report));
    // Handed on: the reset cleared the audio block, then rate and channels went in.
    EXPECT_EQ(std::make_tuple(audio.sampleRate, audio.channels, audio.bitRate),
              std::make_tuple(c.rate, c.channels, 0));
    ASSERT_NE(video.get(), nullptr);
    EXPECT_EQ(std::make_tuple(video.kind(), video.get()->width, video.get()->height),
              std::make_tuple(c.video == H263 ? H263 : Mpeg4, c.width, c.height));
  }
}

}  // namespace
}  // namespace zel
