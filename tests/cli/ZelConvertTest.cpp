// zel-convert as a user runs it, hostile users included: options, exit
// status, messages, outputs, signals and what is left behind. What the
// conversions themselves give is checked in ConversionDriverTest.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>

#include "General/PathJoin.h"
#include "General/WorkFolder.h"
#include "cli/CliOptions.h"
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr const char* kSaved = "ファイルをフォルダ[";

// The text holds the part; a failure prints the whole text.
::testing::AssertionResult Holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

class ZelConvertTest : public ::testing::Test {
 protected:
  // The shell line that runs zel-convert in `out` with a private TMPDIR;
  // prefix goes before it (ulimit ...), suffix after it (a pipe). Leading
  // "--via WORDS... --" runs it under that command (timeout 30, setpriv ...).
  std::vector<std::string> Command(std::vector<std::string> args, const std::string& prefix = "",
                                   const std::string& suffix = "") {
    std::vector<std::string> argv = {"/bin/sh",
                                     "-c",
                                     prefix + "cd \"$1\" && export TMPDIR=\"$2\" && shift 2 && " +
                                         (suffix.empty() ? "exec \"$@\"" : "\"$@\" " + suffix),
                                     "sh",
                                     out.path().string(),
                                     tmp.path().string()};
    if (!args.empty() && args[0] == "--via") {
      const auto end = std::find(args.begin(), args.end(), "--");
      argv.insert(argv.end(), args.begin() + 1, end);
      args.erase(args.begin(), end + 1);
    }
    argv.push_back(ZEL_CONVERT_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  CommandResult Run(const std::vector<std::string>& args, const std::string& prefix = "",
                    const std::string& suffix = "") {
    return test::RunCommand(Command(args, prefix, suffix));
  }

  // Nothing temporary stays: no work folder, no half-written output.
  void ExpectNothingLeft() {
    EXPECT_TRUE(fs::is_empty(tmp.path()));
    for (const auto& entry : fs::directory_iterator(out.path())) {
      const fs::path name = entry.path().filename();
      EXPECT_TRUE(name.string()[0] != '.' && name.extension() != ".wav" &&
                  name.extension() != ".bmp")
          << name;
    }
  }

  TempDir out, tmp;
};

TEST_F(ZelConvertTest, HelpVersionAndUsageErrors) {
  std::ofstream(out.file("h263.ini")) << "[zel]\n3gpfile=1\nmpeg_video=1\nframesize=2\n";
  const char* h263Size =
      "zel-convert: H.263 video takes 128x96 or 176x144 (the frame size is 320x240); choose one "
      "with --size\n";
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* expect;
  } cases[] = {
      {{"--help"}, 0, "Usage: zel-convert [OPTIONS] INPUT..."},
      {{"--version"}, 0, "zel-convert "},
      {{"--audio", "mp3", "x.wmv"}, 2, "allowed: none, aac, amr"},
      {{"--rate", "44100", "x.wmv"}, 2, "allowed: 8000, 16000, 22050, 24000"},
      {{"--size", "640x480", "x.wmv"}, 2, "allowed: 128x96, 176x144, 320x240"},
      {{"--fps=31", "x.wmv"}, 2, "0 to 30"},
      {{"-j", "-1", "x.wmv"}, 2, "0 to 256; 0 is one per processor"},
      {{"--split", "-1", "x.wmv"}, 2, "0 to 30"},
      {{"--max-size", "4194304", "x.wmv"}, 2, "0 to 4194303 KiB"},
      {{"--container", "mp4", "x.wmv"}, 2, "both, 3gp, 3g2"},
      {{"--thumb", "32", "x.wmv"}, 2, "0 (source size), 64, 128"},
      {{"--start", "1:75", "x.wmv"}, 2, "m:ss.mmm"},
      {{"--start", "5", "--end", "2", "x.wmv"}, 2, "--end must lie after --start"},
      {{"--start", "3", "--end", "3", "x.wmv"}, 2, "the range would be empty"},
      {{"--bogus", "x.wmv"}, 2, "unknown option --bogus"},
      {{"--output"}, 2, "needs a folder"},
      {{"--output=", "x.wmv"}, 2, "invalid value '' for --output"},
      {{"--", "--report"}, 1, "--report: no such file"},
      {{}, 2, "no input file given"},
      {{"--audio", "amr", "--channels", "2", "x.wmv"}, 2, "AMR-NB takes --channels 1 only"},
      {{"--video", "h263", "--size", "320x240", "x.wmv"}, 2, "H.263 takes --size"},
      {{"--video", "h263", "x.wmv"}, 2, h263Size},
      {{"--settings", "h263.ini", "x.wmv"}, 2, h263Size},
      {{"--report", "a.wmv", "b.wmv"}, 2, "takes one input per run"},
      {{"-o", "missing", "x.wmv"}, 2, "output folder missing does not exist"},
  };
  for (const auto& c : cases) {
    const CommandResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.expect;
    EXPECT_NE((c.exitCode == 0 ? r.out : r.err).find(c.expect), std::string::npos) << r.err;
  }
}

// Every input that cannot be converted says what is wrong with which file,
// ends with the right status, and leaves nothing behind.
TEST_F(ZelConvertTest, InputsThatCannotBeConverted) {
  TempDir in;
  const auto put = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    test::WriteFileBytes(in.file(name), bytes);
    return in.file(name);
  };
  std::vector<std::uint8_t> noData = test::WavBytes(44100, 2, {});
  noData.resize(noData.size() - 8);
  fs::create_directory(in.path() / "folder.wmv");
  ASSERT_EQ(::mkfifo(in.file("pipe.wmv").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", in.path() / "zero.wmv");
  const std::string own =
      put("own.3g2",
          test::ReadFileBytes(Media(
              "mpeg4.3g2", test::Join({test::Video("176x144", "10", "1"), {"-c:v", "mpeg4"}}))));
  fs::create_symlink("own.3g2", in.path() / "own.avi");
  fs::create_symlink("loop.wmv", in.path() / "loop.wmv");
  ::chmod(put("locked.wma", test::ReadFileBytes(Media("song.wma"))).c_str(), 0);
  // root reads any file unless it gives up that right
  std::vector<std::string> unprivileged;
  if (::geteuid() == 0)
    unprivileged = {"--via", "setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"};
  const std::string outOfRange =
      "音声のサンプリングレート（1000～384000Hz）かチャンネル数（8まで）が"
      "扱える範囲を外れているため、変換できません[";
  const std::string outputIsInput =
      "出力ファイルが入力ファイルと同じになるため、変換できません。出力フォルダを変えてください[";
  const struct {
    std::string input;
    std::vector<std::string> options;
    int exitCode;
    std::string expect;
  } cases[] = {
      // clang-format off
      {Media("layer3.mpg"), {}, 2, "サポートしていないファイル形式です。\nmpeg1の場合は"},
      {Media("silent.mpg"), {}, 2, "サポートしていないファイル形式です。"},
      {put("song.mp3", {1, 2, 3}), {}, 2, "サポートしていないファイル形式です。"},
      {in.file("nothing.wmv"), {}, 1, "nothing.wmv: no such file"},
      {in.file("folder.wmv"), {}, 1, "folder.wmv: is a folder"},
      {in.file("pipe.wmv"), {}, 1, "pipe.wmv: is not a regular file"},
      {in.file("zero.wmv"), {}, 1, "zero.wmv: is not a regular file"},
      {put("noise.wmv", std::vector<std::uint8_t>(5000, 0x5a)), {}, 1,
       "noise.wmv: no sound or pictures that can be decoded"},
      {in.file("loop.wmv"), {}, 1, "loop.wmv: its symbolic links form a loop"},
      {in.file("locked.wma"), unprivileged, 1, "locked.wma: cannot be read: Permission denied"},
      {put("ch200.wav", test::WavBytes(8000, 200, std::vector<std::uint8_t>(200 * 2 * 8000))), {},
       2, outOfRange + in.file("ch200.wav") + "] (8000Hz, 200ch)"},
      // seconds of data that a rate of 1 Hz would make hours of sound
      {put("hz1.wav", test::WavBytes(1, 1, std::vector<std::uint8_t>(441000))), {}, 2,
       outOfRange + in.file("hz1.wav") + "] (1Hz, 1ch)"},
      {put("rate.wav", test::WavBytes(0x80000000u, 1, std::vector<std::uint8_t>(16000))), {}, 1,
       "rate.wav: no sound or pictures"},
      {put("nodata.wav", noData), {}, 1, "nodata.wav: no sound or pictures"},
      {Media("mono8k.wav"), {"--audio", "none"}, 1, "has only sound, and the audio setting is none"},
      {Media("video.wmv"), {"--video", "none"}, 1,
       "has only pictures, and the video setting is none"},
      {Media("clip.wmv"), {"--start", "10"}, 2, "lies at or beyond the end"},
      {Media("clip.wmv"), {"--start", "4.5", "--end", "6"}, 2, "clip.wmv lasts 4."},
      // converted into its own folder, its 3G2 output would be the input
      // itself, also through a link that makes it look like an AVI
      {own, {"--any-input", "-o", in.path().string()}, 1, outputIsInput + own + "]"},
      {in.file("own.avi"), {"-o", in.path().string()}, 1, outputIsInput + in.file("own.avi") + "]"},
      {Media("clip.wmv"), {"--report", "--pattern", "%999d"}, 2,
       "出力ファイルの名前が長すぎるため、変換できません["},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    std::vector<std::string> args = c.options;
    args.push_back(c.input);
    const CommandResult r = Run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_TRUE(Holds(r.err, c.expect));
    EXPECT_EQ(r.err.find(kSaved), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out.file("clip.3gp")));
    ExpectNothingLeft();
  }
}

// A failing input among several fails the run, the others are converted,
// also two at a time, where each message names its input; the 3G2 warning
// of 8000 Hz comes once per input, not per segment.
TEST_F(ZelConvertTest, OneFailingInputAmongSeveral) {
  // A second input of the same name is skipped: the first one's file stays.
  TempDir in;
  fs::copy_file(Media("song.wma"), in.file("clip.wma"));
  test::WriteFileBytes(in.file("noise.wmv"), std::vector<std::uint8_t>(5000, 0x5a));
  for (const std::string jobs : {"1", "2"}) {
    for (const auto& entry : fs::directory_iterator(out.path())) fs::remove(entry.path());
    const CommandResult r =
        Run({"-j", jobs, "--container", "3gp", out.file("missing.wmv"), Media("video.wmv"),
             in.file("noise.wmv"), Media("clip.wmv"), in.file("clip.wma")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Holds(r.err, "clip.wma: its outputs would replace those of "));
    EXPECT_TRUE(Holds(r.err, (jobs == "1" ? "\n" : in.file("noise.wmv") + ": ") +
                                 "変換できる音声も映像もありません。"));
    EXPECT_EQ(test::DecodeErrors(out.file("video.3gp")), "");
    EXPECT_EQ(test::Probe(out.file("clip.3gp"), "stream=codec_type"), "video audio");
    EXPECT_EQ(test::DecodeErrors(out.file("clip.3gp")), "");
    ExpectNothingLeft();
  }
  // split, a.wav's segment 100 and a1.wma's first one are both a100.3gp
  fs::copy_file(Media("song.wma"), in.file("a1.wma"));
  const CommandResult split = Run({"-j", "2", "--split", "1", "--container", "3gp",
                                   Media("a.wav", test::Tone(8000, "101.5")), in.file("a1.wma")});
  EXPECT_EQ(split.exitCode, 1);
  EXPECT_TRUE(Holds(split.err, "a1.wma: its outputs would replace those of "));
  EXPECT_TRUE(fs::exists(out.file("a100.3gp")));
  EXPECT_FALSE(fs::exists(out.file("a101.3gp")));
  const CommandResult warned = Run({"--split", "1", Media("clip.wmv"), Media("song.wma")});
  EXPECT_EQ(warned.exitCode, 0) << warned.err;
  std::size_t warnings = 0;
  for (std::size_t at = 0; (at = warned.err.find("au携帯", at)) != std::string::npos; ++at)
    ++warnings;
  EXPECT_EQ(warnings, 2u);  // once per job, before its first segment
}

// An AVI is transcoded into the work folder first; one without sound or
// without pictures is converted with what it has, and the user is told.
TEST_F(ZelConvertTest, AviInputsThroughThePreConversion) {
  const struct {
    std::string input;
    const char* streams;
    std::vector<const char*> messages;
  } cases[] = {
      {Media("clip.avi"), "video audio", {}},
      {Media("mute.avi", test::Join({test::Video("160x120", "10", "2"), {"-c:v", "mpeg4"}})),
       "video",
       {"オーディオ出力の処理に失敗しました。", "has no sound"}},
      {Media("blind.avi", test::Join({test::Tone(44100, "2"), {"-c:a", "pcm_s16le"}})),
       "audio",
       {"ビデオ出力ピンの検索に失敗しました。", "has no pictures"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const CommandResult r = Run({"--container", "3gp", c.input});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string result = out.file(fs::path(c.input).stem().string() + ".3gp");
    EXPECT_EQ(test::DecodeErrors(result), "");
    EXPECT_EQ(test::Probe(result, "stream=codec_type"), c.streams);
    for (const char* m : c.messages) EXPECT_TRUE(Holds(r.err, m));
    ExpectNothingLeft();
  }
}

// setup.ini is read, never written; one that is no settings file at all is
// named with what is wrong (which files those are is checked in
// ConversionSettingsTest), and the run goes on with the built-in settings
// (./setup.ini) or stops (--settings FILE). Options override what it says.
TEST_F(ZelConvertTest, SettingsFiles) {
  const std::string ini = out.file("setup.ini");
  const struct {
    const char* name;
    std::function<void()> make;
    std::vector<std::string> options;
    int exitCode;
    const char* expect;
  } cases[] = {
      // clang-format off
      {"fifo", [&] { ::mkfifo(ini.c_str(), 0600); }, {}, 0, "is not a regular file"},
      // every key read as 0: no container chosen either
      {"no section", [&] { std::ofstream(ini) << "[other]\nmpeg_video=2\n"; }, {}, 2,
       "has no [zel] section; every setting is 0\n変換するファイルが指定されていません"},
      {"--settings /dev/null", [] {}, {"--settings", "/dev/null"}, 2, "is not a regular file"},
      {"--settings missing", [] {}, {"--settings", "none.ini"}, 2, "none.ini not found"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(ini);
    c.make();
    struct stat before {};
    ::lstat(ini.c_str(), &before);
    // a hanging read must not hang the test
    std::vector<std::string> args = {"--via", "timeout", "30", "--"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(Media("song.wma"));
    const CommandResult r = Run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_TRUE(Holds(r.err, c.expect));
    EXPECT_EQ(fs::exists(out.file("song.3gp")), c.exitCode == 0);
    struct stat after {};
    ::lstat(ini.c_str(), &after);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ino, after.st_ino);
    fs::remove(out.file("song.3gp")), fs::remove(out.file("song.3g2"));
  }
  std::ofstream(ini) << "[zel]\n3g2file=1\nmpeg_video=2\n";
  const auto before = test::ReadFileBytes(ini);
  ASSERT_EQ(Run({"-q", "--size", "128x96", Media("video.wmv")}).exitCode, 0);
  EXPECT_FALSE(fs::exists(out.file("video.3gp")));
  EXPECT_EQ(test::Probe(out.file("video.3g2"), "stream=width"), "128");
  EXPECT_EQ(test::ReadFileBytes(ini), before);
}

// Output files are replaced whole or not at all: a run that fails (the
// sound's temporary WAV, or without sound the container file, outgrows the
// file size limit) leaves the earlier file as it was, and a link at the
// target is replaced, not followed.
TEST_F(ZelConvertTest, OutputsAreReplacedWholeOrNotAtAll) {
  test::WriteFileBytes(out.file("victim.txt"), {'v'});
  fs::create_symlink("victim.txt", out.path() / "clip.3g2");
  test::WriteFileBytes(out.file("clip.3gp"), {'o', 'l', 'd'});
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "テンポラリファイルの書き込みに失敗しました。"},
      {{"--audio", "none", "--size", "320x240", "--fps", "30"}, "3gp] (File too large)"},
  };
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(message);
    std::vector<std::string> args = options;
    args.push_back(Media("clip.wmv"));
    const CommandResult r = Run(args, "ulimit -f 64; ");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Holds(r.err, message));
    EXPECT_EQ(r.err.find(kSaved), std::string::npos);
    EXPECT_EQ(test::ReadFileText(out.file("clip.3gp")), "old");
    ExpectNothingLeft();
  }
  ASSERT_EQ(Run({"-q", Media("clip.wmv")}).exitCode, 0);
  EXPECT_EQ(test::ReadFileText(out.file("victim.txt")), "v");
  EXPECT_FALSE(fs::is_symlink(out.path() / "clip.3g2"));
  EXPECT_EQ(test::DecodeErrors(out.file("clip.3gp")), "");
}

// Two runs writing a report into one folder take turns: the second waits
// for the first, says so once, and its page holds its own blocks alone. A
// relative -o still gives a report whose links work where it stands; a name
// pattern that cannot be used is replaced by %06d, and the user is told.
TEST_F(ZelConvertTest, ReportsOfTwoRunsDoNotMix) {
  const TempDir logs;
  fs::create_directory(out.path() / "o");
  const std::string first = "\"" + logs.file("first") + "\"";
  const std::string second = "\"" + logs.file("second") + "\"";
  const CommandResult r =
      // The first run (a job of its own: set -m) is held still, its report
      // lock taken, until the second has said that it waits.
      Run({"-o", "o", "--report", "--split", "1", "--container", "3gp", Media("clip10.wmv")},
          "set -m; ",
          "2>" + first + " & pid=$!; until grep -q 'segment 1/' " + first +
              " || ! kill -0 $pid; do sleep 0.01; done; kill -STOP -$pid; cd \"$1\" && "
              "TMPDIR=\"$2\" " ZEL_CONVERT_EXE
              " -o o --report --pattern x%d%d --split 2 --container 3gp " +
              Media("clip.wmv") + " 2>" + second + " & p2=$!; until grep -q 'レポート' " + second +
              " || ! kill -0 $p2; do sleep 0.01; done; kill -CONT -$pid; wait $p2; echo $?;"
              " wait $pid; echo $?");
  EXPECT_EQ(r.out, "0\n0\n") << test::ReadFileText(logs.file("second"));
  const std::string waited = test::ReadFileText(logs.file("second"));
  const std::string wait = "同じフォルダに別の変換がレポートを書いています";
  EXPECT_TRUE(waited.find(wait) != std::string::npos && waited.find(wait) == waited.rfind(wait));
  EXPECT_TRUE(Holds(waited, "the name pattern x%d%d cannot name thumbnails"));
  const std::string report = test::ReadFileText(out.file("o/thumbnail.html"));
  EXPECT_TRUE(Holds(report, "o/clip00.wmv<BR>"));
  EXPECT_TRUE(Holds(report, "<img src=\"" + out.file("o/000001.jpg") + "\">"));
  EXPECT_EQ(report.find("clip10"), std::string::npos) << report;
}

// With --max-size every file stays within the limit and, where the limit
// holds the picture rate down, fills at least 85 % of it; the report and the
// progress name the rate used. A limit that the sound and the container alone
// exceed (pictures or none) fails before anything is written.
TEST_F(ZelConvertTest, SizeLimit) {
  const std::string input = Media("limit.wmv", test::Join({test::Video("640x480", "15", "30"),
                                                           test::Tone(44100, "30"),
                                                           {"-c:v", "wmv2", "-c:a", "wmav2"}}));
  const std::vector<std::string> aac = {"--audio", "aac",     "--rate", "16000",  "--channels",
                                        "1",       "--video", "mpeg4",  "--size", "320x240"};
  struct Job {
    std::vector<std::string> args;
    int limitKib;
    std::vector<std::string> files;
  };
  const Job jobs[] = {
      {test::Join({aac, {"--split", "10", "--report"}}),
       150,
       {"limit00.3gp", "limit00.3g2", "limit01.3gp", "limit01.3g2", "limit02.3gp", "limit02.3g2"}},
      {{"--audio", "amr", "--video", "h263", "--size", "176x144"}, 200, {"limit.3gp", "limit.3g2"}},
      {aac, 8, {}},
      {{"--video", "none"}, 8, {}},
  };
  for (const Job& job : jobs) {
    const std::string folder = out.file("kib" + std::to_string(job.limitKib) + job.args[1]);
    fs::create_directory(folder);
    const CommandResult r =
        Run(test::Join({job.args,
                        {"--max-size", std::to_string(job.limitKib), "--end", "30", "-o", folder},
                        {input}}));
    if (job.files.empty()) {
      EXPECT_EQ(r.exitCode, 1) << r.err;
      EXPECT_TRUE(
          Holds(r.err, "ファイルサイズの上限（8KB）に収まらないため、変換できません。最小でも"));
      EXPECT_TRUE(fs::is_empty(folder));
      continue;
    }
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::uint64_t limit = job.limitKib * 1024ull;
    for (const std::string& name : job.files) {
      const std::string file = JoinPath(folder, name);
      const std::uint64_t size = fs::file_size(file);
      EXPECT_LE(size, limit) << name;
      EXPECT_GE(size, limit * 85 / 100) << name;
      EXPECT_EQ(test::Probe(file, "stream=codec_type"), "video audio") << name;
      EXPECT_EQ(test::DecodeErrors(file), "") << name;
    }
    if (job.files.size() == 2) continue;
    // Each segment's rate, on its progress line and in the report.
    const std::string report = test::ReadFileText(JoinPath(folder, "thumbnail.html"));
    std::size_t at = 0;
    for (int segment = 0; segment < 3; ++segment) {
      at = r.err.find(", video ", at);
      ASSERT_NE(at, std::string::npos) << r.err;
      const int rate = std::stoi(r.err.substr(at += 8));
      EXPECT_LT(rate, 200000);
      EXPECT_TRUE(Holds(report, "bitrate " + std::to_string(rate) + "[bps]"));
    }
  }
}

// A phone's portrait recording (a landscape picture whose stream asks for a
// turn) comes out upright between side bars with --keep-aspect: its first
// picture matches the one ffmpeg shows, fitted into the frame (a picture on
// its side scores about 4 dB). Every angle of the turn is checked in the
// preview's tests, through the decoding the conversion shares.
TEST_F(ZelConvertTest, RecordingsStandAsPlayersShowThem) {
  const std::string input = test::Rotated("phone.mp4", "testsrc2=s=640x360:r=25:d=1", 90);
  const CommandResult r =
      Run({"--any-input", "--keep-aspect", "--container", "3gp", "--size", "320x240", input});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const CommandResult psnr = test::RunCommand(
      {"ffmpeg", "-hide_banner", "-nostats", "-i",
       out.file(fs::path(input).stem().string() + ".3gp"), "-i", input, "-filter_complex",
       "[0:v]trim=end_frame=1[a];[1:v]scale=136:240,pad=320:240:92:0,format=yuv420p,"
       "trim=end_frame=1[b];[a][b]psnr",
       "-f", "null", "-"});
  const std::size_t average = psnr.err.find("average:");
  ASSERT_NE(average, std::string::npos) << psnr.err;
  EXPECT_GE(std::stod(psnr.err.substr(average + 8)), 20.0);
}

// Ctrl-C, SIGTERM and SIGHUP stop the run cleanly: the unfinished segment is
// not written, the finished ones stay, nothing temporary remains. A second
// signal ends the program at once, still without leftovers.
TEST_F(ZelConvertTest, InterruptsLeaveNothingBehind) {
  const std::string input = Media("long.wmv", test::Join({test::Video("640x480", "25", "40"),
                                                          test::Tone(44100, "40"),
                                                          {"-c:v", "wmv2", "-c:a", "wmav2"}}));
  const TempDir logs, in;
  const std::string log = "\"" + logs.file("err") + "\"";
  fs::copy_file(input, in.file("other.wmv"));
  // signals, then the status the shell reports: 1, or 128 + the last signal;
  // the last stops two conversions running at once
  const std::tuple<const char*, const char*, bool> cases[] = {{"INT", "1", false},
                                                              {"TERM", "1", false},
                                                              {"HUP", "1", false},
                                                              {"INT TERM", "143", false},
                                                              {"INT", "1", true}};
  for (const auto& [signals, status, together] : cases) {
    SCOPED_TRACE(signals);
    // the previous run's log would let the signals come before this run is up
    fs::remove(logs.file("err"));
    std::vector<std::string> args = {"--split", "1", "--report", "--container", "3gp", input};
    if (together)
      args = {"-j", "2", "--split", "1", "--container", "3gp", input, in.file("other.wmv")};
    const CommandResult r =
        Run(args, "",
            "2>" + log + " & pid=$!; until [ $(grep -c 'segment 2/' " + log + ") -ge " +
                (together ? "2" : "1") + " ] || ! kill -0 $pid; do sleep 0.01; done; for s in " +
                signals + "; do kill -$s $pid; done; wait $pid; echo $?");
    EXPECT_EQ(r.out, std::string(status) + "\n");
    const std::string err = test::ReadFileText(logs.file("err"));
    EXPECT_EQ(err.find("変換を中断しました。") != std::string::npos, std::string(status) == "1");
    if (together) {
      EXPECT_TRUE(Holds(err, input + ": 変換を中断しました。"));
      EXPECT_TRUE(Holds(err, in.file("other.wmv") + ": 変換を中断しました。"));
    }
    EXPECT_TRUE(fs::exists(out.file("long01.3gp")));
    EXPECT_FALSE(fs::exists(out.file("long39.3gp")) || fs::exists(out.file("other39.3gp")));
    EXPECT_EQ(test::DecodeErrors(out.file("long01.3gp")), "");
    ExpectNothingLeft();
    for (const auto& entry : fs::directory_iterator(out.path())) fs::remove(entry.path());
  }
}

// A closed output stream does not kill the run: it finishes and cleans up.
TEST_F(ZelConvertTest, AClosedOutputStreamIsNoReasonToDie) {
  Run({"--split", "1", Media("clip10.wmv")}, "", "2>&1 | head -c10 >/dev/null");
  EXPECT_TRUE(fs::exists(out.file("clip1009.3gp")));
  ExpectNothingLeft();
}

// A work folder left by a killed run (its marker, unlocked) is removed by the
// next run. The pid in the name decides nothing: a user's folder of that
// name without the marker stays, and so does a live run's whose marker is
// locked, as by a run in another PID namespace sharing the folder.
TEST_F(ZelConvertTest, LeftoverWorkFoldersOfDeadProcessesGo) {
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string pid = std::to_string(dead);
  const fs::path stale = tmp.path() / ("zel-convert-" + pid + "-aB3dE9");
  const fs::path users = tmp.path() / ("zel-" + pid + "-photos");
  const fs::path alive = tmp.path() / ("zel-" + pid + "-xY7pQ2");
  for (const fs::path& folder : {stale, users, alive}) {
    fs::create_directories(folder / "inner");
    test::WriteFileBytes(folder / (folder == users ? "photo.jpg" : kWorkFolderMarker), {1});
  }
  const int lock = ::open((alive / kWorkFolderMarker).c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(Run({"-q", Media("song.wma")}).exitCode, 0);
  ::close(lock);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(users / "photo.jpg"));
  EXPECT_TRUE(fs::exists(alive / "inner"));
}

// The work folder at start: an empty TMPDIR is an unset one (/tmp), and a
// kill just after the folder is made finds the signals already blocked
// (zel-convert) or caught (the window), so the folder goes with the run.
TEST_F(ZelConvertTest, TheWorkFolderAtStart) {
  const CommandResult unset = test::RunCommand(
      {"env", "TMPDIR=", ZEL_CONVERT_EXE, "-q", "-o", out.path().string(), Media("song.wma")});
  EXPECT_EQ(unset.exitCode, 0) << unset.err;
  const std::string killed =
      "export LD_PRELOAD=" ZEL_KILL_SHIM " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0; ";
  // interrupted: a job long enough not to end before the interrupt is seen
  // on a loaded machine
  EXPECT_EQ(Run({"-q", Media("clip10.wmv")}, killed).exitCode, 1);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
#ifdef ZEL_WINDOW_EXE
  // (Qt makes its runtime folder there too)
  test::RunCommand({"/bin/sh", "-c",
                    killed +
                        "cd \"$1\" && TMPDIR=\"$2\" QT_QPA_PLATFORM=offscreen exec timeout 30 " +
                        ZEL_WINDOW_EXE,
                    "sh", out.path().string(), tmp.path().string()});
  for (const auto& entry : fs::directory_iterator(tmp.path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with("zel-")) << entry.path();
#endif
}

TEST(CliOptionsTest, ParsesTimes) {
  // clang-format off
  const std::pair<const char*, std::int64_t> valid[] = {
      {"0", 0}, {"12.5", 125000000}, {"75", 750000000}, {"1:02.5", 625000000},
      {"1:02:03.250", 37232500000}, {"0.0000001", 1}, {".5", 5000000}, {"3.", 30000000},
      {"0.12345678", 1234567},  // beyond 100 ns the digits go
      {"100000000", 1000000000000000}};
  // clang-format on
  for (auto [text, hns] : valid) EXPECT_EQ(cli::ParseTime(text), hns) << text;
  // more than about three years, fields out of range, signs and other forms
  for (const char* text : {"100000001", "1:60", "1:60:00", "1:2:3:4", "", ":5", "5:", "-1", "+1",
                           " 1", "1.2.3", "1e3", "."})
    EXPECT_EQ(cli::ParseTime(text), std::nullopt) << '"' << text << '"';
}

}  // namespace
}  // namespace zel
