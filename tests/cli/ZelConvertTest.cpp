// zel-convert as a user runs it: options, exit status, messages, outputs.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::TempDir;

class ZelConvertTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fixtures_ = std::make_unique<TempDir>(); }
  static void TearDownTestSuite() { fixtures_.reset(); }
  static std::string Fixture(const std::string& name) {
    return test::MakeFixture(fixtures_->path().string(), name);
  }

  // Runs zel-convert inside the folder `cwd` (default: out).
  CommandResult Run(std::vector<std::string> args, const fs::path* cwd = nullptr) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"",
                                     (cwd ? *cwd : out.path()).string(), ZEL_CONVERT_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunCommand(argv);
  }

  static std::unique_ptr<TempDir> fixtures_;
  TempDir out;
};

std::unique_ptr<TempDir> ZelConvertTest::fixtures_;

TEST_F(ZelConvertTest, HelpAndVersion) {
  CommandResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: zel-convert [OPTIONS] INPUT...", 0), 0u);
  for (const char* option : {"--output", "--start", "--end", "--audio", "--rate", "--channels",
                             "--video", "--size", "--fps", "--split", "--container", "--report",
                             "--pattern", "--thumb", "--quiet", "--settings", "Exit status"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
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
      {{"--start", "5", "--end", "2", "x.wmv"}, "--end lies before --start"},
      {{"--bogus", "x.wmv"}, "unknown option --bogus"},
      {{"--output"}, "needs a folder"},
      {{}, "no input file given"},
      {{"--audio", "amr", "--channels", "2", "x.wmv"}, "AMR-NB takes --channels 1 only"},
      {{"--video", "h263", "--size", "320x240", "x.wmv"}, "H.263 takes --size"},
  };
  for (const Case& c : cases) {
    CommandResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.expect;
    EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
  }
}

TEST_F(ZelConvertTest, ReportTakesOneInputAndTempFolderMustExist) {
  CommandResult report = Run({"--report", Fixture("video.wmv"), Fixture("song.wma")});
  EXPECT_EQ(report.exitCode, 2);
  EXPECT_NE(report.err.find("takes one input per run"), std::string::npos) << report.err;
  EXPECT_FALSE(fs::exists(out.file("video.3gp")));

  CommandResult noTemp = test::RunCommand(
      {"env", "TMPDIR=" + out.file("missing"), ZEL_CONVERT_EXE, "-q", "-o", out.path().string(),
       Fixture("video.wmv")});
  EXPECT_EQ(noTemp.exitCode, 1);
  EXPECT_NE(noTemp.err.find("cannot create a temporary folder"), std::string::npos) << noTemp.err;
}

TEST_F(ZelConvertTest, RefusedAndMissingInputs) {
  CommandResult mp3 = Run({Fixture("layer3.mpg")});
  EXPECT_EQ(mp3.exitCode, 2);
  EXPECT_NE(mp3.err.find("サポートしていないファイル形式です。\nmpeg1の場合は、音声コーデックにmp3"
                         "が使用されているファイルは変換できません。"),
            std::string::npos);
  CommandResult silent = Run({Fixture("silent.mpg")});
  EXPECT_EQ(silent.exitCode, 2);
  test::WriteFileBytes(out.file("song.mp3"), {1, 2, 3});
  EXPECT_EQ(Run({out.file("song.mp3")}).exitCode, 2);
  CommandResult missing = Run({out.file("nothing.wmv")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("nothing.wmv"), std::string::npos);
  // garbage with a known extension: no crash, a failed conversion
  test::WriteFileBytes(out.file("noise.wmv"), std::vector<std::uint8_t>(5000, 0x5a));
  CommandResult noise = Run({"-q", out.file("noise.wmv")});
  EXPECT_EQ(noise.exitCode, 1) << noise.err;
}

TEST_F(ZelConvertTest, ConvertsAviThroughThePreConversion) {
  CommandResult r =
      Run({"-q", "--container", "3gp", "--size", "176x144", "--fps", "15", Fixture("clip.avi")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string result = out.file("clip.3gp");
  EXPECT_EQ(test::DecodeErrors(result), "");
  test::FileFacts f = test::ProbeFile(result);
  ASSERT_EQ(f.video.size(), 1u);
  ASSERT_EQ(f.audio.size(), 1u);
  EXPECT_NEAR(f.video[0].duration, 3.0, 1.0 / 15 + 1e-3);
  EXPECT_NE(r.err.find("ファイルをフォルダ[" + out.path().string() + "]に保存しました。"),
            std::string::npos);
}

TEST_F(ZelConvertTest, SettingsAreReadButNeverWritten) {
  // setup.ini asks for 3G2 only; the command line overrides the frame size
  test::WriteFileBytes(out.file("setup.ini"),
                       {'[',  'z', 'e', 'l', ']', '\n', '3', 'g', '2', 'f', 'i', 'l', 'e', '=', '1',
                        '\n', 'm', 'p', 'e', 'g', '_',  'v', 'i', 'd', 'e', 'o', '=', '2', '\n'});
  auto before = test::ReadFileBytes(out.file("setup.ini"));
  CommandResult r = Run({"-q", "--size", "128x96", Fixture("video.wmv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(out.file("video.3g2")));
  EXPECT_FALSE(fs::exists(out.file("video.3gp")));
  EXPECT_NE(test::Probe(out.file("video.3g2"), {"-show_entries", "stream=width"}).find("width=128"),
            std::string::npos);
  EXPECT_EQ(test::ReadFileBytes(out.file("setup.ini")), before);
}

TEST_F(ZelConvertTest, ProgressLinesWithoutATerminal) {
  fs::create_directory(out.path() / "o");
  CommandResult r = Run({"--split", "1", "--container", "3gp", "-o", out.file("o"), "--start",
                         "0.5", "--end", "0:02.5", Fixture("clip.wmv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("segment 1/2 done"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("segment 2/2 done"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(out.file("o/clip00.3gp")));
  EXPECT_TRUE(fs::exists(out.file("o/clip01.3gp")));
  EXPECT_FALSE(fs::exists(out.file("o/clip02.3gp")));
  // nothing temporary is left in the current folder
  for (const auto& entry : fs::directory_iterator(out.path())) {
    EXPECT_NE(entry.path().extension(), ".wav") << entry.path();
  }
}

}  // namespace
}  // namespace zel
