// zel-convert as a user runs it, hostile users included: options, exit
// status, messages, outputs, signals and what is left behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::TempDir;

constexpr const char* kSaved = "ファイルをフォルダ[";

class ZelConvertTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fixtures_ = std::make_unique<TempDir>(); }
  static void TearDownTestSuite() { fixtures_.reset(); }
  static std::string Fixture(const std::string& name) {
    return test::MakeFixture(fixtures_->path().string(), name);
  }
  // A fixture of this file's own, made once.
  static std::string Made(const std::string& name, std::vector<std::string> args) {
    const std::string path = fixtures_->file(name);
    if (!fs::exists(path)) {
      args.push_back(path);
      test::MakeMedia(args);
    }
    return path;
  }

  // The shell line that runs zel-convert in `out` with a private TMPDIR;
  // prefix goes before it (ulimit ...), suffix after it (a pipe).
  std::vector<std::string> Command(const std::vector<std::string>& args,
                                   const std::string& prefix = "", const std::string& suffix = "") {
    std::vector<std::string> argv = {"/bin/sh",
                                     "-c",
                                     prefix + "cd \"$1\" && export TMPDIR=\"$2\" && shift 2 && " +
                                         (suffix.empty() ? "exec \"$@\"" : "\"$@\" " + suffix),
                                     "sh",
                                     out.path().string(),
                                     tmp.path().string()};
    // "--timeout N" first: run under timeout(1)
    auto from = args.begin();
    if (args.size() >= 2 && args[0] == "--timeout") {
      argv.insert(argv.end(), {"timeout", args[1]});
      from += 2;
    }
    argv.push_back(ZEL_CONVERT_EXE);
    argv.insert(argv.end(), from, args.end());
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
      EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
      EXPECT_NE(entry.path().extension(), ".wav") << entry.path();
      EXPECT_NE(entry.path().extension(), ".bmp") << entry.path();
    }
  }

  static std::unique_ptr<TempDir> fixtures_;
  TempDir out, tmp;
};

std::unique_ptr<TempDir> ZelConvertTest::fixtures_;

TEST_F(ZelConvertTest, HelpAndVersion) {
  CommandResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: zel-convert [OPTIONS] INPUT...", 0), 0u);
  EXPECT_NE(help.out.find("--verbose"), std::string::npos);
  CommandResult version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("zel-convert ", 0), 0u);
}

TEST_F(ZelConvertTest, UsageErrorsNameTheAllowedValues) {
  struct Case {
    std::vector<std::string> args;
    const char* expect;
  } cases[] = {
      {{"--audio", "mp3", "x.wmv"}, "allowed: none, aac, amr"},
      {{"--rate", "44100", "x.wmv"}, "allowed: 8000, 16000, 22050, 24000"},
      {{"--size", "640x480", "x.wmv"}, "allowed: 128x96, 176x144, 320x240"},
      {{"--fps", "31", "x.wmv"}, "0 to 30"},
      {{"--split", "-1", "x.wmv"}, "0 to 30"},
      {{"--container", "mp4", "x.wmv"}, "both, 3gp, 3g2"},
      {{"--thumb", "32", "x.wmv"}, "0 (source size), 64, 128"},
      {{"--start", "1:75", "x.wmv"}, "m:ss.mmm"},
      {{"--start", "5", "--end", "2", "x.wmv"}, "--end must lie after --start"},
      {{"--start", "3", "--end", "3", "x.wmv"}, "the range would be empty"},
      {{"--bogus", "x.wmv"}, "unknown option --bogus"},
      {{"--output"}, "needs a folder"},
      {{}, "no input file given"},
      {{"--audio", "amr", "--channels", "2", "x.wmv"}, "AMR-NB takes --channels 1 only"},
      {{"--video", "h263", "--size", "320x240", "x.wmv"}, "H.263 takes --size"},
      {{"--report", "a.wmv", "b.wmv"}, "takes one input per run"},
      {{"-o", "missing", "x.wmv"}, "output folder missing does not exist"},
  };
  for (const Case& c : cases) {
    CommandResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.expect;
    EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
  }
}

// Every input that cannot be converted says what is wrong with which file,
// ends with the right status, and leaves nothing behind.
TEST_F(ZelConvertTest, InputsThatCannotBeConverted) {
  TempDir in;
  const auto wav = [&](const std::string& name, int channels, std::uint32_t rate, bool data) {
    std::vector<std::uint8_t> b = {'R', 'I', 'F', 'F', 0,   0,  0, 0, 'W', 'A', 'V',
                                   'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,   1,   0};
    const auto put = [&b](std::uint32_t v, int n) {
      for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(channels, 2);
    put(rate, 4);
    put(rate * channels * 2, 4);
    put(channels * 2, 2);
    put(16, 2);
    if (data) {
      b.insert(b.end(), {'d', 'a', 't', 'a'});
      put(channels * 2 * 8000, 4);
      b.resize(b.size() + channels * 2 * 8000, 0);
    }
    test::WriteFileBytes(in.file(name), b);
    return in.file(name);
  };
  fs::create_directory(in.path() / "folder.wmv");
  ASSERT_EQ(::mkfifo(in.file("pipe.wmv").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", in.path() / "zero.wmv");
  test::WriteFileBytes(in.file("noise.wmv"), std::vector<std::uint8_t>(5000, 0x5a));
  test::WriteFileBytes(in.file("song.mp3"), {1, 2, 3});
  struct Case {
    std::string input;
    std::vector<std::string> options;
    int exitCode;
    std::string expect;
  } cases[] = {
      {Fixture("layer3.mpg"), {}, 2, "サポートしていないファイル形式です。\nmpeg1の場合は"},
      {Fixture("silent.mpg"), {}, 2, "サポートしていないファイル形式です。"},
      {in.file("song.mp3"), {}, 2, "サポートしていないファイル形式です。"},
      {in.file("nothing.wmv"), {}, 1, "nothing.wmv: no such file"},
      {in.file("folder.wmv"), {}, 1, "folder.wmv: is a folder"},
      {in.file("pipe.wmv"), {}, 1, "pipe.wmv: is not a regular file"},
      {in.file("zero.wmv"), {}, 1, "zero.wmv: is not a regular file"},
      {in.file("noise.wmv"), {}, 1, "noise.wmv: no sound or pictures that can be decoded"},
      {wav("ch200.wav", 200, 8000, true),
       {},
       1,
       "音声をデコードできません[" + in.file("ch200.wav")},
      {wav("rate.wav", 1, 0x80000000u, true), {}, 1, "rate.wav: no sound or pictures"},
      {wav("nodata.wav", 2, 44100, false), {}, 1, "nodata.wav: no sound or pictures"},
      {Fixture("clip.wmv"), {"--start", "10"}, 2, "lies at or beyond the end"},
      {Fixture("clip.wmv"), {"--start", "4.5", "--end", "6"}, 2, "clip.wmv lasts 4."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::vector<std::string> args = c.options;
    args.push_back(c.input);
    CommandResult r = Run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kSaved), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out.file("clip.3gp")));
    ExpectNothingLeft();
  }
}

TEST_F(ZelConvertTest, OneFailingInputAmongSeveral) {
  CommandResult r = Run(
      {"--container", "3gp", out.file("missing.wmv"), Fixture("video.wmv"), Fixture("song.wma")});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_TRUE(fs::exists(out.file("video.3gp")));
  EXPECT_TRUE(fs::exists(out.file("song.3gp")));
  // the 3G2 warning of 8000 Hz is not repeated per input or segment
  CommandResult warned = Run({"--split", "1", Fixture("clip.wmv"), Fixture("song.wma")});
  EXPECT_EQ(warned.exitCode, 0) << warned.err;
  std::size_t warnings = 0;
  for (std::size_t at = 0; (at = warned.err.find("au携帯", at)) != std::string::npos; ++at) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 1u);
}

// An AVI is transcoded into the work folder first; one without sound or
// without pictures is converted with what it has, and the user is told.
TEST_F(ZelConvertTest, AviInputsThroughThePreConversion) {
  struct Case {
    std::string input;
    bool video, audio;
    std::vector<const char*> messages;
  } cases[] = {
      {Fixture("clip.avi"), true, true, {}},
      {Made("mute.avi", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=2", "-an",
                         "-c:v", "mpeg4"}),
       true,
       false,
       {"オーディオ出力の処理に失敗しました。", "has no sound"}},
      {Made("blind.avi", {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "pcm_s16le"}),
       false,
       true,
       {"ビデオ出力ピンの検索に失敗しました。", "has no pictures"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    CommandResult r = Run({"--container", "3gp", c.input});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string result = out.file(fs::path(c.input).stem().string() + ".3gp");
    EXPECT_EQ(test::DecodeErrors(result), "");
    const test::FileFacts f = test::ProbeFile(result);
    EXPECT_EQ(f.video.size(), c.video ? 1u : 0u);
    EXPECT_EQ(f.audio.size(), c.audio ? 1u : 0u);
    for (const char* m : c.messages) EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
    ExpectNothingLeft();
  }
}

// setup.ini is read, never written; one that is no settings file at all is
// named with what is wrong, and the run goes on with the built-in settings
// (./setup.ini) or stops (--settings FILE).
TEST_F(ZelConvertTest, SettingsFiles) {
  const std::string ini = out.file("setup.ini");
  struct Case {
    const char* name;
    std::function<void()> make;
    std::vector<std::string> options;
    int exitCode;
    const char* expect;
  } cases[] = {
      {"folder", [&] { fs::create_directory(ini); }, {}, 0, "setup.ini is a folder"},
      {"device", [&] { fs::create_symlink("/dev/zero", ini); }, {}, 0, "is not a regular file"},
      {"fifo", [&] { ::mkfifo(ini.c_str(), 0600); }, {}, 0, "is not a regular file"},
      {"huge",
       [&] { std::ofstream(ini) << std::string(2 << 20, '\n'); },
       {},
       0,
       "is larger than 1 MiB"},
      {"no section",
       [&] { std::ofstream(ini) << "[other]\nmpeg_video=2\n"; },
       {},
       2,
       "has no [zel] section"},
      {"--settings /dev/null", [] {}, {"--settings", "/dev/null"}, 2, "is not a regular file"},
      {"--settings missing", [] {}, {"--settings", "none.ini"}, 2, "none.ini not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(ini);
    c.make();
    struct stat before {};
    ::lstat(ini.c_str(), &before);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--container", "3gp", Fixture("song.wma")});
    args.insert(args.begin(), {"--timeout", "30"});  // a hanging read must not hang the test
    CommandResult r = Run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
    EXPECT_EQ(fs::exists(out.file("song.3gp")), c.exitCode == 0);
    struct stat after {};
    ::lstat(ini.c_str(), &after);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ino, after.st_ino);
    fs::remove(out.file("song.3gp"));
  }
  // a file without [zel] gives zeros: no container chosen, and the reason
  fs::remove_all(ini);
  std::ofstream(ini) << "[other]\n";
  EXPECT_NE(Run({Fixture("song.wma")}).err.find("変換するファイルが指定されていません"),
            std::string::npos);
}

TEST_F(ZelConvertTest, SettingsAreReadAndOptionsOverrideThem) {
  std::ofstream(out.file("setup.ini")) << "[zel]\n3g2file=1\nmpeg_video=2\n";
  auto before = test::ReadFileBytes(out.file("setup.ini"));
  CommandResult r = Run({"-q", "--size", "128x96", Fixture("video.wmv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(out.file("video.3g2")));
  EXPECT_FALSE(fs::exists(out.file("video.3gp")));
  EXPECT_NE(test::Probe(out.file("video.3g2"), {"-show_entries", "stream=width"}).find("width=128"),
            std::string::npos);
  EXPECT_EQ(test::ReadFileBytes(out.file("setup.ini")), before);
}

// Output files are replaced whole or not at all: a run that fails leaves the
// earlier file as it was, and a link at the target is replaced, not followed.
TEST_F(ZelConvertTest, OutputsAreReplacedWholeOrNotAtAll) {
  test::WriteFileBytes(out.file("victim.txt"), {'v'});
  fs::create_symlink("victim.txt", out.path() / "clip.3g2");
  test::WriteFileBytes(out.file("clip.3gp"), {'o', 'l', 'd'});
  struct Case {
    const char* name;
    std::vector<std::string> options;
    const char* message;
  } cases[] = {
      // the sound's temporary WAV outgrows the limit first
      {"wav", {}, "テンポラリファイルの書き込みに失敗しました。"},
      // without sound the container file does
      {"container",
       {"--audio", "none", "--size", "320x240", "--fps", "30"},
       "ファイル書き込み失敗["},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.options;
    args.push_back(Fixture("clip.wmv"));
    CommandResult r = Run(args, "ulimit -f 64; ");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kSaved), std::string::npos);
    EXPECT_EQ(test::ReadFileText(out.file("clip.3gp")), "old");
    ExpectNothingLeft();
  }
  ASSERT_EQ(Run({"-q", Fixture("clip.wmv")}).exitCode, 0);
  EXPECT_EQ(test::ReadFileText(out.file("victim.txt")), "v");
  EXPECT_FALSE(fs::is_symlink(out.path() / "clip.3g2"));
  EXPECT_EQ(test::DecodeErrors(out.file("clip.3gp")), "");
}

// A relative -o still gives a report whose links work where it stands; the
// thumbnails' intermediate BMPs never touch the output folder.
TEST_F(ZelConvertTest, ReportWithARelativeOutputFolder) {
  fs::create_directory(out.path() / "o");
  test::WriteFileBytes(out.file("o/sample_00.bmp"), {'m', 'i', 'n', 'e'});
  CommandResult r = Run({"-o", "o", "--report", "--split", "2", Fixture("clip.wmv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string report = test::ReadFileText(out.file("o/thumbnail.html"));
  EXPECT_NE(report.find("<img src=\"" + out.file("o/sample_01.jpg") + "\">"), std::string::npos)
      << report;
  EXPECT_EQ(test::ReadFileText(out.file("o/sample_00.bmp")), "mine");
  EXPECT_NE(r.err.find("segment 1/"), std::string::npos) << r.err;
}

// Names are Linux file names (a backslash is part of one); the frame rate of
// a 60 fps source is kept as 60.
TEST_F(ZelConvertTest, NamesAndRates) {
  const std::string source = Made(
      "fast.wmv",
      {"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=60:duration=2", "-an", "-c:v", "wmv2"});
  fs::copy_file(source, out.file("back\\slash.wmv"));
  CommandResult r =
      Run({"--container", "3gp", "--fps", "0", "--size", "176x144", out.file("back\\slash.wmv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const test::FileFacts f = test::ProbeFile(out.file("back\\slash.3gp"));
  ASSERT_EQ(f.video.size(), 1u);
  EXPECT_EQ(f.video[0].frames, 120);
  EXPECT_FALSE(fs::exists(out.file("slash.3gp")));
}

// A process of zel-convert running in the background.
struct Running {
  pid_t pid = -1;
  std::string errPath;
  int Wait() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }
  // Waits until stderr holds text (or 60 s passed).
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 6000; ++i) {
      if (test::ReadFileText(errPath).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

Running Start(const std::vector<std::string>& argv, const std::string& errPath) {
  Running run;
  run.errPath = errPath;
  run.pid = ::fork();
  if (run.pid == 0) {
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return run;
}

// Ctrl-C, SIGTERM and SIGHUP stop the run cleanly: the unfinished segment is
// not written, the finished ones stay, nothing temporary remains. A second
// signal ends the program at once, still without leftovers.
TEST_F(ZelConvertTest, InterruptsLeaveNothingBehind) {
  const std::string input =
      Made("long.wmv", {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=40", "-f",
                        "lavfi", "-i", "sine=duration=40", "-c:v", "wmv2", "-c:a", "wmav2"});
  struct Case {
    std::vector<int> signals;
    bool killed;  // ends by the last signal instead of exiting with status 1
  } cases[] = {{{SIGINT}, false}, {{SIGTERM}, false}, {{SIGHUP}, false}, {{SIGINT, SIGTERM}, true}};
  TempDir logs;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signals.back());
    std::vector<std::string> argv =
        Command({"--split", "1", "--report", "--container", "3gp", input});
    Running run = Start(argv, logs.file("err" + std::to_string(++n) + ".txt"));
    ASSERT_TRUE(run.WaitFor("segment 2/"));
    for (int s : c.signals) ::kill(run.pid, s);
    const int status = run.Wait();
    if (c.killed) {
      ASSERT_TRUE(WIFSIGNALED(status));
      EXPECT_EQ(WTERMSIG(status), c.signals.back());
    } else {
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_NE(test::ReadFileText(run.errPath).find("変換を中断しました。"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(out.file("long39.3gp")));
    EXPECT_EQ(test::DecodeErrors(out.file("long01.3gp")), "");
    ExpectNothingLeft();
    for (const auto& entry : fs::directory_iterator(out.path())) fs::remove(entry.path());
  }
}

// A closed output stream does not kill the run: it finishes and cleans up.
TEST_F(ZelConvertTest, AClosedOutputStreamIsNoReasonToDie) {
  Run({"--split", "1", Fixture("clip10.wmv")}, "", "2>&1 | head -c10 >/dev/null");
  EXPECT_TRUE(fs::exists(out.file("clip1009.3gp")));
  ExpectNothingLeft();
}

// A work folder left by a killed run is removed by the next run; one of a
// process that still lives stays.
TEST_F(ZelConvertTest, LeftoverWorkFoldersOfDeadProcessesGo) {
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const fs::path stale = tmp.path() / ("zel-convert-" + std::to_string(dead) + "-aB3dE9");
  const fs::path alive = tmp.path() / ("zel-" + std::to_string(::getpid()) + "-xY7pQ2");
  fs::create_directories(stale / "inner");
  fs::create_directory(alive);
  ASSERT_EQ(Run({"-q", Fixture("song.wma")}).exitCode, 0);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(alive));
}

}  // namespace
}  // namespace zel
