// Whole conversions through the driver on files made at test time; every
// output is decoded by ffmpeg and measured by ffprobe.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "convert/ConversionDriver.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"
#include "settings/ConversionSettings.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::FileFacts;
using test::MakeFixture;
using test::ProbeFile;
using test::RecordingNotifier;
using test::TempDir;

constexpr const char* kSaved = "ファイルをフォルダ[";
constexpr const char* kAborted = "変換を中断しました。";

// Raises the abort flag when the driver starts segment `at`.
class AbortingNotifier : public RecordingNotifier {
 public:
  std::atomic<bool>* flag = nullptr;
  int at = -1;
  void reportProgress(const ConversionProgress& p) override {
    if (flag && p.segmentIndex == at) flag->store(true);
  }
};

// Raises the abort flag at the first progress caption of the video path.
class AbortAtFirstFrame : public RecordingNotifier {
 public:
  std::atomic<bool>* flag = nullptr;
  void setCaption(std::string_view text) override {
    RecordingNotifier::setCaption(text);
    if (flag) flag->store(true);
  }
};

class ConversionDriverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fixtures_ = std::make_unique<TempDir>(); }
  static void TearDownTestSuite() { fixtures_.reset(); }
  static std::string Fixture(const std::string& name) {
    return MakeFixture(fixtures_->path().string(), name);
  }

  void SetUp() override {
    ApplyDefaultSettings(settings);
    settings.result = out.path().string();
    settings.framesize = 1;  // 176x144
    settings.framerate = 15;
  }

  ConversionOutcome Convert(const std::string& input, RecordingNotifier& notifier,
                            const std::function<void(ConversionJob&)>& adjust = {}) {
    ConversionJob job{settings, params, state, range, videoContext, audioBlock, source, notifier};
    if (adjust) adjust(job);
    state.converting = true;
    ConversionOutcome outcome =
        ConvertThreadBody(input, &notifier, work.path().string(), job, &summary);
    state.converting = false;
    return outcome;
  }
  ConversionOutcome Convert(const std::string& input) { return Convert(input, notifier); }

  std::string Out(const std::string& name) const { return out.file(name); }

  // The file decodes without an error line and its streams last `seconds`
  // within one frame of video (1/fps) and of audio (frame/rate). A segment
  // that runs to the end of a WMV also carries the source's last audio
  // frame: wmav2 decodes whole 2048-sample frames, so the sound lasts up to
  // 0.1 s longer than the pictures (and the container says so too).
  void ExpectGood(const std::string& path, double seconds, bool video, bool audio,
                  bool atEnd = false) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(test::DecodeErrors(path), "");
    FileFacts f = ProbeFile(path);
    ASSERT_TRUE(f.readable);
    ASSERT_EQ(f.video.size(), video ? 1u : 0u);
    ASSERT_EQ(f.audio.size(), audio ? 1u : 0u);
    if (video) {
      double frame = 1.0 / params.frameRate;
      EXPECT_NEAR(f.video[0].duration, seconds, frame + 1e-3);
    }
    if (audio && seconds >= 1.0) {
      double frame = (params.audioKind == AudioKind::AmrNb ? 160.0 : 1024.0) / params.sampleRate;
      double tail = atEnd ? 0.1 : 0.0;
      EXPECT_GT(f.audio[0].frames, 0) << "a segment of a second or more keeps its sound";
      EXPECT_GE(f.audio[0].duration, seconds - frame - 1e-3);
      EXPECT_LE(f.audio[0].duration, seconds + tail + frame + 1e-3);
    }
  }

  static std::unique_ptr<TempDir> fixtures_;
  TempDir out, work;
  ConversionSettings settings;
  ConversionParameters params;
  ConversionState state;
  MarkedRange range;
  VideoEncoderContext videoContext;
  AudioParameterBlock audioBlock;
  MediaSource source;
  RecordingNotifier notifier;
  ConversionSummary summary;
};

std::unique_ptr<TempDir> ConversionDriverTest::fixtures_;

TEST_F(ConversionDriverTest, WmvToBothContainers) {
  std::string input = Fixture("clip.wmv");
  ASSERT_EQ(Convert(input), ConversionOutcome::Completed);
  ExpectGood(Out("clip.3gp"), 4.0, true, true, true);
  ExpectGood(Out("clip.3g2"), 4.0, true, true, true);
  FileFacts f = ProbeFile(Out("clip.3gp"));
  EXPECT_EQ(f.video[0].codec, "mpeg4");
  EXPECT_EQ(f.audio[0].codec, "aac");
  // 3G2 at 8000 Hz warns once for the one segment, then the folder is reported
  int warnings = 0;
  for (const auto& m : notifier.messages()) warnings += m.rfind("au携帯", 0) == 0;
  EXPECT_EQ(warnings, 1);
  EXPECT_EQ(notifier.messages().back(),
            std::string(kSaved) + settings.result + "]に保存しました。");
  // the temporary WAV is gone
  EXPECT_TRUE(fs::is_empty(work.path()));
  EXPECT_NEAR(static_cast<double>(range.duration), 40000000.0, 1000000.0);
}

TEST_F(ConversionDriverTest, MarksSelectTheRange) {
  settings.file3g2 = 0;
  range.start = 10000000;  // 1 s
  range.end = 30000000;    // 3 s
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Completed);
  ExpectGood(Out("clip.3gp"), 2.0, true, true);
  EXPECT_FALSE(fs::exists(Out("clip.3g2")));
}

TEST_F(ConversionDriverTest, SplittingNamesAndCutsSegments) {
  settings.file3g2 = 0;
  settings.splittime = 10000000;  // 1 s
  range.start = 5000000;          // 0.5 s
  range.end = 32000000;           // 3.2 s: segments of 1, 1 and 0.7 s
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Completed);
  ExpectGood(Out("clip00.3gp"), 1.0, true, true);
  ExpectGood(Out("clip01.3gp"), 1.0, true, true);
  ExpectGood(Out("clip02.3gp"), 0.7, true, true);  // less than a second: an empty audio track
  // every segment gets the chosen rate and channels, not only the first
  for (const char* name : {"clip00.3gp", "clip01.3gp", "clip02.3gp"}) {
    EXPECT_NE(test::Probe(Out(name), {"-show_entries", "stream=sample_rate,channels"})
                  .find("sample_rate=8000\nchannels=1"),
              std::string::npos)
        << name;
  }
  EXPECT_FALSE(fs::exists(Out("clip03.3gp")));
  EXPECT_EQ(summary.segments, 3);
  EXPECT_EQ(state.segmentIndex, 3);
}

TEST_F(ConversionDriverTest, SplitLongerThanTheRangeStillNumbers) {
  settings.file3g2 = 0;
  settings.splittime = 300000000;  // 30 s
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Completed);
  ExpectGood(Out("clip00.3gp"), 4.0, true, true, true);
}

// Nothing to convert is a failure, never a "saved" folder of empty files.
TEST_F(ConversionDriverTest, EmptyRangesAndEmptyInputsSaveNothing) {
  struct Case {
    const char* name;
    std::int64_t start;
    int audioFormat, videoFormat;
    const char* message;
  } cases[] = {
      {"start beyond the end", 990000000, 1, 2,
       "変換する範囲がありません。開始と終了の位置を確かめてください。"},
      {"both kinds none", 0, 0, 0, "変換できる音声も映像もありません。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingNotifier told;
    range = {};
    range.start = c.start;
    settings.mpeg_audio = c.audioFormat;
    settings.mpeg_video = c.videoFormat;
    ASSERT_EQ(Convert(Fixture("clip.wmv"), told), ConversionOutcome::Failed);
    EXPECT_TRUE(told.sawMessage(c.message));
    for (const auto& m : told.messages()) EXPECT_EQ(m.find(kSaved), std::string::npos) << m;
    EXPECT_FALSE(fs::exists(Out("clip.3gp")));
    EXPECT_FALSE(fs::exists(Out("clip.3g2")));
  }
}

TEST_F(ConversionDriverTest, H263AndAmr) {
  settings.mpeg_video = 1;  // h263
  settings.framesize = 0;   // 128x96
  settings.mpeg_audio = 2;  // amr
  settings.file3g2 = 0;
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Completed);
  ExpectGood(Out("clip.3gp"), 4.0, true, true, true);
  FileFacts f = ProbeFile(Out("clip.3gp"));
  EXPECT_EQ(f.video[0].codec, "h263");
  EXPECT_EQ(f.audio[0].codec, "amr_nb");
}

TEST_F(ConversionDriverTest, H263AtAnUnlistedSizeFailsWithoutSavedMessage) {
  settings.mpeg_video = 1;  // h263
  settings.framesize = 2;   // 320x240 is not an H.263 size
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Failed);
  EXPECT_TRUE(notifier.sawMessage("h263:128x96,176x144,352x288,704x576,1408x1152\n"));
  for (const auto& m : notifier.messages()) EXPECT_EQ(m.find(kSaved), std::string::npos) << m;
  EXPECT_FALSE(fs::exists(Out("clip.3gp")));
}

TEST_F(ConversionDriverTest, NoContainerChosenIsRefused) {
  settings.file3gp = settings.file3g2 = 0;
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Refused);
  EXPECT_EQ(notifier.messages(),
            std::vector<std::string>{"変換するファイルが指定されていません。"});
}

TEST_F(ConversionDriverTest, UnwritableOutputIsReportedAsFailure) {
  settings.result = out.file("missing-folder");
  settings.file3g2 = 0;
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Failed);
  EXPECT_TRUE(
      notifier.sawMessage("ファイル書き込み失敗[" + out.file("missing-folder") + "/clip.3gp]"));
}

TEST_F(ConversionDriverTest, MissingWorkingDirectoryFails) {
  settings.file3g2 = 0;
  ConversionJob job{settings, params, state, range, videoContext, audioBlock, source, notifier};
  ASSERT_EQ(ConvertThreadBody(Fixture("clip.wmv"), &notifier, work.file("gone"), job),
            ConversionOutcome::Failed);
  EXPECT_TRUE(notifier.sawMessage("Can not Open Temporary wav file!"));
}

TEST_F(ConversionDriverTest, ReportAndThumbnails) {
  settings.logfile = 1;
  settings.capturesize = 1;  // 64x48
  settings.splittime = 20000000;
  settings.file3g2 = 0;
  // an old report goes when the job starts; a user's file named like the
  // thumbnails' intermediate BMP stays (the BMP is made in the work folder)
  test::WriteFileBytes(Out("thumbnail.html"), {'o', 'l', 'd'});
  test::WriteFileBytes(Out("sample_00.bmp"), {'m', 'i', 'n', 'e'});
  ASSERT_EQ(Convert(Fixture("clip.wmv")), ConversionOutcome::Completed);
  std::string report = test::ReadFileText(Out("thumbnail.html"));
  EXPECT_EQ(report.rfind("input file " + Out("clip00.wmv") + "<BR>", 0), 0u) << report;
  EXPECT_NE(report.find("<img src=\"" + Out("sample_00") + ".jpg\">"), std::string::npos);
  EXPECT_NE(report.find("<img src=\"" + Out("sample_01") + ".jpg\">"), std::string::npos);
  EXPECT_NE(report.find("starttime 00:02.000 endtime 00:04.000<BR>"), std::string::npos);
  EXPECT_NE(report.find("framesize 320x240<BR>"), std::string::npos);
  EXPECT_NE(report.find("samplerate 44100[Hz]<BR>channels STEREO<BR>"), std::string::npos);
  ASSERT_TRUE(fs::exists(Out("sample_00.jpg")));
  EXPECT_NE(test::Probe(Out("sample_01.jpg"), {"-show_entries", "stream=width,height"})
                .find("width=64\nheight=48"),
            std::string::npos);
  EXPECT_EQ(test::ReadFileText(Out("sample_00.bmp")), "mine");
  EXPECT_TRUE(fs::is_empty(work.path()));
}

TEST_F(ConversionDriverTest, ReportOffLeavesAnOldReport) {
  settings.file3g2 = 0;
  test::WriteFileBytes(Out("thumbnail.html"), {'o', 'l', 'd'});
  ASSERT_EQ(Convert(Fixture("video.wmv")), ConversionOutcome::Completed);
  EXPECT_EQ(test::ReadFileText(Out("thumbnail.html")), "old");
}

TEST_F(ConversionDriverTest, AbortDuringSegmentTwoOfFive) {
  settings.logfile = 1;
  settings.splittime = 20000000;  // 2 s of 10 s: five segments
  AbortingNotifier aborting;
  aborting.flag = &state.abortRequested;
  aborting.at = 2;
  ASSERT_EQ(Convert(Fixture("clip10.wmv"), aborting), ConversionOutcome::Aborted);
  EXPECT_EQ(aborting.messages().back(), kAborted);
  for (const char* kept : {"clip1000.3gp", "clip1000.3g2", "clip1001.3gp", "clip1001.3g2"}) {
    ExpectGood(Out(kept), 2.0, true, true);
  }
  for (const char* gone : {"clip1002.3gp", "clip1002.3g2", "clip1003.3gp"}) {
    EXPECT_FALSE(fs::exists(Out(gone))) << gone;
  }
  std::string report = test::ReadFileText(Out("thumbnail.html"));
  std::size_t blocks = 0;
  for (std::size_t at = 0; (at = report.find("<HR><HR>", at)) != std::string::npos; at += 8)
    ++blocks;
  EXPECT_EQ(blocks, 3u);
}

TEST_F(ConversionDriverTest, AbortInsideALongSegmentStopsItsDecoding) {
  AbortAtFirstFrame aborting;
  aborting.flag = &state.abortRequested;
  ASSERT_EQ(Convert(Fixture("clip10.wmv"), aborting), ConversionOutcome::Aborted);
  // The 300 frames of the segment were not all decoded: the streaming threads
  // stop at the flag, and the video path takes no frame after it.
  EXPECT_LT(aborting.captions().size(), 30u);
  EXPECT_LT(source.deliveredFrames(), 30u);
  EXPECT_FALSE(fs::exists(Out("clip10.3gp")));
  EXPECT_FALSE(fs::exists(Out("clip10.3g2")));
  EXPECT_EQ(aborting.messages().back(), kAborted);
  EXPECT_TRUE(fs::is_empty(work.path()));
}

// A file of its own in the fixtures folder, made once.
std::string MakeOnce(const std::string& folder, const std::string& name,
                     std::vector<std::string> args) {
  const std::string path = folder + "/" + name;
  if (!fs::exists(path)) {
    args.push_back(path);
    test::MakeMedia(args);
  }
  return path;
}

// Pictures missing from 2.44 s to 2.95 s, and sound missing from 5 s to 7 s.
std::string GapFile(const std::string& folder) {
  return MakeOnce(folder, "gaps.wmv",
                  {"-f",        "lavfi",
                   "-i",        "testsrc2=size=320x240:rate=25:duration=9",
                   "-f",        "lavfi",
                   "-i",        "sine=frequency=440:duration=9:sample_rate=44100",
                   "-vf",       "select='not(between(t,2.44,2.95))'",
                   "-af",       "aselect='not(between(t,5,7))'",
                   "-fps_mode", "vfr",
                   "-c:v",      "wmv2",
                   "-b:v",      "800k",
                   "-c:a",      "wmav2"});
}

TEST_F(ConversionDriverTest, SegmentsAcrossGapsKeepTheirPicturesAndSound) {
  settings.file3g2 = 0;
  settings.splittime = 10000000;  // 1 s
  range.start = 5000000;          // 0.5 s: segment 2 is 2.5 to 3.5 s, inside the picture gap
  ASSERT_EQ(Convert(GapFile(fixtures_->path().string())), ConversionOutcome::Completed);
  // Segment 2 carries the pictures from 3.0 s on, the late first one placed
  // at its start as in any segment; every segment has its whole second of
  // sound, those inside the sound gap as silence.
  for (const char* name : {"gaps01.3gp", "gaps04.3gp", "gaps05.3gp", "gaps06.3gp"}) {
    ExpectGood(Out(name), 1.0, true, true);
  }
  const FileFacts late = ProbeFile(Out("gaps02.3gp"));
  ASSERT_EQ(late.video.size(), 1u);
  EXPECT_NEAR(late.video[0].duration, 0.53, 0.07);
  ASSERT_EQ(late.audio.size(), 1u);
  EXPECT_NEAR(late.audio[0].duration, 1.0, 0.13);
  EXPECT_FALSE(notifier.sawMessage("m_prev_buffer_sizeサイズが0です"));
}

TEST_F(ConversionDriverTest, AStallFailsTheJobButSlowWorkDoesNot) {
  settings.file3g2 = 0;
  // Decoding from a key frame 11 s before the start delivers nothing for a
  // while; it is work all the same, not a stall.
  const std::string distant =
      MakeOnce(fixtures_->path().string(), "distant.wmv",
               {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=13", "-c:v", "wmv2",
                "-g", "300", "-an"});
  range.start = 115000000;
  const auto slowJob = [&](ConversionJob& job) {
    job.stallPeriod = std::chrono::milliseconds(100);
  };
  ASSERT_EQ(Convert(distant, notifier, slowJob), ConversionOutcome::Completed);
  ExpectGood(Out("distant.3gp"), 1.5, true, false);

  // A decoder that shows nothing for longer than the stall period (here a
  // single big picture against a period of 1 ms) ends the job as failed.
  const std::string big =
      MakeOnce(fixtures_->path().string(), "big.avi",
               {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=2", "-c:v", "mpeg4",
                "-q:v", "2", "-an"});
  RecordingNotifier told;
  range = {};
  const auto stalling = [&](ConversionJob& job) { job.stallPeriod = std::chrono::milliseconds(1); };
  ASSERT_EQ(Convert(big, told, stalling), ConversionOutcome::Failed);
  EXPECT_TRUE(told.sawMessage("デコードが進まなくなったため、変換を中止しました。"));
  for (const auto& m : told.messages()) EXPECT_EQ(m.find(kSaved), std::string::npos) << m;
  EXPECT_FALSE(fs::exists(Out("big.3gp")));
}

// A thumbnail or a report that cannot be written fails the job at that
// segment; the files of earlier segments stay.
TEST_F(ConversionDriverTest, ThumbnailAndReportFailuresFailTheJob) {
  struct Case {
    const char* blocked;  // a folder where the file should go
    const char* message;
    const char* kept;
  } cases[] = {
      {"sample_01.jpg", "サムネイル画像の書き込みに失敗しました[", "clip00.3gp"},
      {"thumbnail.html", "レポートの書き込みに失敗しました[", nullptr},
  };
  settings.file3g2 = 0;
  settings.logfile = 1;
  settings.splittime = 20000000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocked);
    TempDir folder;
    settings.result = folder.path().string();
    fs::create_directory(folder.path() / c.blocked);
    RecordingNotifier told;
    ASSERT_EQ(Convert(Fixture("clip.wmv"), told), ConversionOutcome::Failed);
    bool shown = false;
    for (const auto& m : told.messages()) {
      EXPECT_EQ(m.find(kSaved), std::string::npos) << m;
      shown |= m.rfind(c.message, 0) == 0;
    }
    EXPECT_TRUE(shown);
    if (c.kept) {
      EXPECT_TRUE(fs::exists(folder.path() / c.kept));
    }
    EXPECT_TRUE(fs::is_empty(work.path()));
  }
}

TEST_F(ConversionDriverTest, VideoOnlyAndAudioOnlyInputs) {
  settings.file3g2 = 0;
  ASSERT_EQ(Convert(Fixture("video.wmv")), ConversionOutcome::Completed);
  ExpectGood(Out("video.3gp"), 3.0, true, false);
  ASSERT_EQ(Convert(Fixture("song.wma")), ConversionOutcome::Completed);
  ExpectGood(Out("song.3gp"), 3.0, false, true, true);
}

struct WavCase {
  const char* fixture;
  int rateIndex;  // aac list
  int channelIndex;
  int expectRate;
};

class WavInputs : public ConversionDriverTest, public ::testing::WithParamInterface<WavCase> {};

TEST_P(WavInputs, ConvertToAac) {
  const WavCase& c = GetParam();
  settings.samplerate = c.rateIndex;
  settings.channels = c.channelIndex;
  settings.file3g2 = 0;
  ASSERT_EQ(Convert(Fixture(c.fixture)), ConversionOutcome::Completed);
  std::string name = fs::path(c.fixture).stem().string() + ".3gp";
  ExpectGood(Out(name), 3.0, false, true);
  EXPECT_NE(test::Probe(Out(name), {"-show_entries", "stream=sample_rate"})
                .find("sample_rate=" + std::to_string(c.expectRate)),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Formats, WavInputs,
                         ::testing::Values(WavCase{"mono8k.wav", 0, 0, 8000},
                                           WavCase{"stereo44.wav", 2, 1, 22050},
                                           WavCase{"surround.wav", 1, 1, 16000},
                                           WavCase{"deep24.wav", 3, 0, 24000}),
                         [](const ::testing::TestParamInfo<WavCase>& info) {
                           return fs::path(info.param.fixture).stem().string();
                         });

TEST_F(ConversionDriverTest, MpegLayerTwoConverts) {
  settings.file3g2 = 0;
  ASSERT_EQ(Convert(Fixture("layer2.mpg")), ConversionOutcome::Completed);
  ExpectGood(Out("layer2.3gp"), 3.0, true, true);
}

}  // namespace
}  // namespace zel
