// setup.ini: the ini file, the settings kept in it, files that are not what
// they should be (each load says why; one that is no settings file is never
// replaced); value lists and name patterns.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "common/TestSupport.h"
#include "settings/ConversionSettings.h"
#include "settings/IniFile.h"
#include "settings/NamePattern.h"
#include "settings/ValueLists.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Outcome = SettingsLoad::Outcome;
using namespace test;

TEST(IniFileTest, ReadsCrlfByteOrderMarkAndCaseInsensitiveNames) {
  IniFile ini;
  ini.parse("\xEF\xBB\xBF[ZEL]\r\nMpeg_Audio=2\r\n Edit = file_%02d \r\n");
  EXPECT_EQ(ini.getInt("zel", "mpeg_audio"), 2);
  EXPECT_EQ(ini.getString("Zel", "EDIT"), "file_%02d");
  EXPECT_EQ(ini.get("zel", "missing"), std::nullopt);
  EXPECT_EQ(ini.get("other", "mpeg_audio"), std::nullopt);
  EXPECT_EQ(ini.getInt("zel", "missing", 42), 42);
  EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[ZEL]\nMpeg_Audio=2\n Edit = file_%02d \n");
}

// New keys follow the section's last key; unknown lines, the first of
// repeated sections and keys, and new sections at the end.
TEST(IniFileTest, SettingKeepsEverythingElseInPlace) {
  IniFile ini;
  ini.parse(
      "; by hand\n[other]\nx=1\n[Zel]\n# note\nEDIT=old\na=1\na=2\n\n[ZEL]\nb=4\n[tail]\ny=2");
  EXPECT_EQ(ini.get("zel", "b"), std::nullopt);
  ini.set("zel", "edit", "new");
  ini.set("zel", "a", "9");
  ini.setInt("zel", "added", -7);
  ini.set("fresh", "k", "v");
  EXPECT_EQ(ini.text(),
            "; by hand\n[other]\nx=1\n[Zel]\n# note\nEDIT=new\na=9\na=2\nadded=-7\n\n[ZEL]\nb=4\n"
            "[tail]\ny=2\n[fresh]\nk=v\n");
}

TEST(IniFileTest, ValuesRoundTripAndLineBreaksCannotAddKeys) {
  for (const std::string value :
       {" /tmp/a dir ", "\"quoted\"", "'x'", "\"", "plain path", "/home/ユーザー/出力"}) {
    IniFile out;
    out.set("zel", "result", value);
    IniFile in;
    in.parse(out.text());
    EXPECT_EQ(in.getString("zel", "result"), value) << out.text();
  }
  IniFile ini;
  ini.set("zel", "result", "/tmp/a\n3gpfile=0\r\n[evil]");
  ini.set("zel", "edit", "x\ry");
  ini.set("zel", "plain", "/home/ユーザー/出力");
  EXPECT_EQ(ini.text(), "[zel]\nresult=/tmp/a\nedit=x\nplain=/home/ユーザー/出力\n");
}

TEST(IniFileTest, ParseProfileIntLikeTheWindowsReader) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"0", 0}, {"12", 12}, {"-3", -3}, {"+5", 5}, {"  7", 7}, {"30sec", 30}, {"abc", 0}, {"", 0},
      {"-", 0}, {"1.9", 1}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
      {"99999999999999999999999999", INT_MAX}, {"-2147483648", INT_MIN},
      {"-99999999999999999999999999", INT_MIN}};
  // clang-format on
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseProfileInt(text), value) << text;
}

// A new file or a replaced one, never a temporary left; a failed save or
// load leaves nothing.
TEST(IniFileTest, SaveReplacesWholeOrLeavesNothing) {
  TempDir dir;
  const auto path = dir.path() / "setup.ini";
  IniFile ini;
  ini.set("zel", "a", "1");
  ASSERT_TRUE(ini.save(path));
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(path).permissions() & perms::all,
            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
  ini.set("zel", "a", "2");
  ASSERT_TRUE(ini.save(path));
  EXPECT_EQ(ReadFileText(path), "[zel]\na=2\n");
  EXPECT_FALSE(ini.save(dir.path() / "missing" / "setup.ini"));
  const auto notAFolder = dir.path() / "plain";
  test::WriteFileBytes(notAFolder, {'x'});
  EXPECT_FALSE(ini.save(notAFolder / "setup.ini"));
  EXPECT_EQ(ReadFileText(notAFolder), "x");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
  EXPECT_FALSE(ini.load(dir.path() / "none.ini"));
  EXPECT_EQ(ini.text(), "");
}

// A format outside the list reads the list of no format: one entry.
TEST(ValueListsTest, UnknownFormatsReadTheListOfNoFormat) {
  EXPECT_EQ(FrameSizeList(99).size(), 1u);
  EXPECT_EQ(ListValue({}, 5), 0);
}

auto Stored(const ConversionSettings& s) {
  return std::tie(s.mpeg_audio, s.mpeg_video, s.samplerate, s.channels, s.framesize, s.framerate,
                  s.splittime, s.capturesize, s.measure, s.adjustframe, s.logfile, s.file3gp,
                  s.file3g2, s.result, s.edit);
}

// The split interval is whole seconds in the file, 100-ns units in memory.
TEST(ConversionSettingsTest, SaveThenLoadGivesTheSameValues) {
  TempDir dir;
  ConversionSettings s;
  s.mpeg_audio = 2, s.mpeg_video = 1, s.samplerate = 3, s.channels = 1, s.framesize = 1;
  s.framerate = 15, s.splittime = 120'000'000, s.capturesize = 2, s.measure = 3;
  s.adjustframe = 1, s.logfile = 1, s.file3gp = 0, s.file3g2 = 1;
  s.result = "/srv/出力 フォルダ";
  s.edit = "file_%02d";
  EXPECT_FALSE(SaveSettings(s, dir.path() / "gone"));  // no such folder
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  const std::string text = ReadFileText(dir.path() / "setup.ini");
  EXPECT_NE(text.find("\nsplittime=12\n"), std::string::npos) << text;
  ConversionSettings t;
  t.framesize = 0;
  t.edit.clear();
  LoadSettings(t, dir.path());
  EXPECT_TRUE(Stored(t) == Stored(s)) << text;
  ComputeMeasureStep(t);
  EXPECT_EQ(t.measure_step, 1);
  // Far beyond 32 bits of 100-ns units, still exact in 64 bits.
  for (std::int64_t seconds : {std::int64_t{2147483647}, std::int64_t{-5}}) {
    std::ofstream(dir.path() / "setup.ini") << "[zel]\nsplittime=" << seconds << "\n";
    LoadSettings(s, dir.path());
    EXPECT_EQ(s.splittime, seconds * 10'000'000);
  }
}

// Keys missing from an existing file load as 0 or empty; whatever else the
// file holds stays where it was.
TEST(ConversionSettingsTest, UnknownContentSurvivesASave) {
  TempDir dir;
  std::ofstream(dir.path() / "setup.ini")
      << "; kept\n[other]\nfoo=bar\n[zel]\nmpeg_audio=2\nextra=1\n\n[more]\nx=y\n";
  ConversionSettings s;
  LoadSettings(s, dir.path());
  s.mpeg_audio = 1;
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadFileText(dir.path() / "setup.ini"),
            "; kept\n[other]\nfoo=bar\n[zel]\nmpeg_audio=1\nextra=1\n"
            "result=\nedit=\nmpeg_video=0\nsplittime=0\nframesize=0\ncapturesize=0\n"
            "channels=0\nsamplerate=0\nframerate=0\nmeasure=0\nadjustframe=0\nlogfile=0\n"
            "3gpfile=0\n3g2file=0\n\n[more]\nx=y\n");
}

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
    EXPECT_EQ(fs::exists(ini), c.outcome != Outcome::Missing);  // loading writes nothing
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
// there, they are kept up to date (also back at 0), and each one set alone
// reads back as itself, from its own key.
TEST(SettingsFileTest, ExtraKeysAreWrittenOnlyOnceTheyMatter) {
  using Extras = std::tuple<int, int, int>;
  const auto extras = [](ConversionSettings& s) {
    return std::tie(s.keepaspect, s.smoothscale, s.anyinput);
  };
  test::TempDir dir;
  ConversionSettings settings;
  ApplyDefaultSettings(settings);
  ASSERT_TRUE(SaveSettings(settings, dir.path()));
  const std::string plain = test::ReadFileText(SettingsFilePath(dir.path()));
  // a new file's keys in their order, without the extra ones
  EXPECT_EQ(plain,
            "[zel]\nresult=\nedit=sample_%02d\nmpeg_audio=1\nmpeg_video=2\nsplittime=0\n"
            "framesize=2\ncapturesize=0\nchannels=0\nsamplerate=0\nframerate=0\nmeasure=0\n"
            "adjustframe=0\nlogfile=0\n3gpfile=1\n3g2file=1\n");
  for (const Extras& alone : {Extras{1, 0, 0}, Extras{0, 1, 0}, Extras{0, 0, 1}, Extras{}}) {
    extras(settings) = alone;
    ASSERT_TRUE(SaveSettings(settings, dir.path()));
    const auto [keep, smooth, any] = alone;
    EXPECT_EQ(test::ReadFileText(SettingsFilePath(dir.path())),
              plain + "keepaspect=" + std::to_string(keep) +
                  "\nsmoothscale=" + std::to_string(smooth) + "\nanyinput=" + std::to_string(any) +
                  "\n");
    ConversionSettings loaded;
    LoadSettings(loaded, dir.path());
    EXPECT_EQ(extras(loaded), alone);
  }
  // maxsize and normalize are keys of their own: absent above, each written
  // once set, kept at 0, read back from its own key.
  std::string withExtras = test::ReadFileText(SettingsFilePath(dir.path()));
  for (const auto& [key, field, on] : {std::tuple{"maxsize", &ConversionSettings::maxsize, 150},
                                       std::tuple{"normalize", &ConversionSettings::normalize, 1}}) {
    for (const int value : {on, 0}) {
      settings.*field = value;
      ASSERT_TRUE(SaveSettings(settings, dir.path()));
      const std::string written = test::ReadFileText(SettingsFilePath(dir.path()));
      EXPECT_EQ(written, withExtras + key + "=" + std::to_string(value) + "\n");
      ConversionSettings loaded;
      LoadSettings(loaded, dir.path());
      EXPECT_EQ(loaded.*field, value);
      if (value == 0) withExtras = written;
    }
  }
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
