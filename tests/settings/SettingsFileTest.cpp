// setup.ini that is not what it should be: each load says why, and a file
// that is no settings file is never replaced. Name patterns.

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

// Index 5 in safe patterns; a backslash is part of a Linux file name.
TEST(NamePatternTest, SafePatternsFormatTheIndex) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"sample_%02d", "sample_05"}, {"%06d", "000005"}, {"%d", "5"}, {"%i", "5"},
      {"%6d", "     5"}, {"%-4d|", "5   |"}, {"%.3d", "005"}, {"%+d", "+5"}, {"% d", " 5"},
      {"%#d", "5"}, {"%02d%%", "05%"}, {"%%d", "%d"}, {"100%%_%d", "100%_5"}, {"fixed", "fixed"},
      {"画像_%03d", "画像_005"}, {"back\\slash_%02d", "back\\slash_05"}};
  // clang-format on
  for (const auto& [pattern, name] : cases) {
    EXPECT_TRUE(IsSafeNamePattern(pattern)) << pattern;
    EXPECT_EQ(FormatSegmentName(pattern, 5), name) << pattern;
  }
  EXPECT_EQ(FormatSegmentName("file_%02d", 123), "file_123");
  EXPECT_TRUE(IsSafeNamePattern("%999d"));
  EXPECT_EQ(FormatSegmentName("%999d", 1).size(), 999u);
}

// Empty and unsafe patterns format as "%06d"; a pattern names a file in the
// output folder, so a folder separator makes it unsafe too.
TEST(NamePatternTest, UnsafePatternsFormatAsSixDigits) {
  const char* patterns[] = {"%s",        "%n",       "%x",   "%u",  "%d%d", "%99999d", "%1000d",
                            "%.1000d",   "%*d",      "%.*d", "%ld", "%lld", "%hd",     "%",
                            "a%",        "%-",       "%05",  "%.3", "%p",   "%f",      "%s%d",
                            "%d_%s",     "%02d%i",   "%1$d", "%c",  "%%%",  "x%%%s",   "../../x%d",
                            "sub/dir%d", "/abs%02d", "a%d/"};
  for (const char* pattern : patterns) {
    EXPECT_FALSE(IsSafeNamePattern(pattern)) << pattern;
    EXPECT_EQ(FormatSegmentName(pattern, 12), "000012") << pattern;
  }
  EXPECT_EQ(FormatSegmentName("", 12), "000012");
  // An embedded NUL byte cannot smuggle a conversion past the check.
  EXPECT_EQ(FormatSegmentName(std::string_view("%d\0%s", 5), 3), "000003");
}

}  // namespace
}  // namespace zel
