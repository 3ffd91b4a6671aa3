// setup.ini that is not what it should be: each load says why, and a file
// that is no settings file is never replaced.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "common/TestSupport.h"
#include "settings/ConversionSettings.h"
#include "settings/NamePattern.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Outcome = SettingsLoad::Outcome;

TEST(SettingsFileTest, EveryKindOfFileLoadsWithItsReason) {
  test::TempDir dir;
  const fs::path ini = SettingsFilePath(dir.path());
  struct Case {
    const char* name;
    std::function<void()> make;
    Outcome outcome;
    const char* reason;
    int mpegVideo;  // 2: the defaults; 0: every key read as 0
  } cases[] = {
      {"missing", [] {}, Outcome::Missing, "", 2},
      {"folder", [&] { fs::create_directory(ini); }, Outcome::Refused, " is a folder;", 2},
      {"device", [&] { fs::create_symlink("/dev/zero", ini); }, Outcome::Refused,
       " is not a regular file;", 2},
      {"fifo", [&] { ::mkfifo(ini.c_str(), 0600); }, Outcome::Refused, " is not a regular file;",
       2},
      {"too large", [&] { std::ofstream(ini) << std::string((1 << 20) + 1, ';'); },
       Outcome::Refused, " is larger than 1 MiB;", 2},
      {"no section", [&] { std::ofstream(ini) << "[Other]\nmpeg_video=1\n"; }, Outcome::NoSection,
       " has no [zel] section", 0},
      {"loaded", [&] { std::ofstream(ini) << "[ZEL]\r\nMPEG_VIDEO = 1\r\n"; }, Outcome::Loaded, "",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(ini);
    c.make();
    ConversionSettings settings;
    const SettingsLoad load = LoadSettings(settings, dir.path());
    EXPECT_EQ(load.outcome, c.outcome);
    EXPECT_EQ(settings.mpeg_video, c.mpegVideo);
    const std::string why = DescribeSettingsLoad(load, ini);
    EXPECT_EQ(why.empty(), *c.reason == '\0') << why;
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    // What cannot be read as a settings file is never replaced by one.
    struct stat before {};
    ::lstat(ini.c_str(), &before);
    const bool saved = SaveSettings(settings, dir.path());
    EXPECT_EQ(saved, c.outcome != Outcome::Refused);
    if (!saved) {
      struct stat after {};
      ::lstat(ini.c_str(), &after);
      EXPECT_EQ(before.st_ino, after.st_ino);
      EXPECT_EQ(before.st_mode, after.st_mode);
    }
  }
}

// The keys beyond the described converter reach setup.ini only once one is
// on, so a file saved with them off stays byte for byte what it was; once
// there, they are kept up to date (also back at 0) and read back.
TEST(SettingsFileTest, ExtraKeysAreWrittenOnlyOnceTheyMatter) {
  test::TempDir dir;
  ConversionSettings settings;
  ApplyDefaultSettings(settings);
  ASSERT_TRUE(SaveSettings(settings, dir.path()));
  const std::string plain = test::ReadFileText(SettingsFilePath(dir.path()));
  EXPECT_EQ(plain.find("aspect"), std::string::npos);
  settings.smoothscale = 1;
  ASSERT_TRUE(SaveSettings(settings, dir.path()));
  EXPECT_EQ(test::ReadFileText(SettingsFilePath(dir.path())),
            plain + "keepaspect=0\nsmoothscale=1\nanyinput=0\n");
  settings.smoothscale = 0;
  settings.anyinput = 1;
  ASSERT_TRUE(SaveSettings(settings, dir.path()));
  ConversionSettings loaded;
  LoadSettings(loaded, dir.path());
  EXPECT_EQ(loaded.smoothscale, 0);
  EXPECT_EQ(loaded.anyinput, 1);
  EXPECT_EQ(loaded.keepaspect, 0);
}

// A name pattern names a file in the output folder: a folder separator in it
// makes it invalid like any other invalid pattern.
TEST(SettingsFileTest, PatternsWithSeparatorsAreInvalid) {
  for (const char* pattern : {"../../x%d", "sub/dir%d", "/abs%02d", "a%d/"}) {
    EXPECT_FALSE(IsSafeNamePattern(pattern)) << pattern;
    EXPECT_EQ(FormatSegmentName(pattern, 7), "000007") << pattern;
  }
  EXPECT_EQ(FormatSegmentName("back\\slash_%02d", 7), "back\\slash_07");
}

}  // namespace
}  // namespace zel
