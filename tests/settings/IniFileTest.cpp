#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "common/TestSupport.h"
#include "settings/IniFile.h"

namespace zel {
namespace {

using test::ReadFileText;
using test::TempDir;

TEST(IniFileTest, NewFileGetsKeysInTheOrderTheyAreSet) {
  IniFile ini;
  ini.set("zel", "b", "2");
  ini.set("zel", "a", "1");
  ini.setInt("zel", "c", -7);
  EXPECT_EQ(ini.text(), "[zel]\nb=2\na=1\nc=-7\n");
}

TEST(IniFileTest, ReadsCrlfAndCaseInsensitiveNames) {
  IniFile ini;
  ini.parse("[ZEL]\r\nMpeg_Audio=2\r\n Edit = file_%02d \r\n");
  EXPECT_EQ(ini.getInt("zel", "mpeg_audio"), 2);
  EXPECT_EQ(ini.getString("Zel", "EDIT"), "file_%02d");
  EXPECT_EQ(ini.get("zel", "missing"), std::nullopt);
  EXPECT_EQ(ini.get("other", "mpeg_audio"), std::nullopt);
  EXPECT_EQ(ini.getInt("zel", "missing", 42), 42);
}

TEST(IniFileTest, SettingKeepsUnknownLinesAndPositions) {
  IniFile ini;
  ini.parse(
      "; made by hand\n"
      "[other]\n"
      "x=1\n"
      "[Zel]\n"
      "# comment in zel\n"
      "EDIT=old\n"
      "custom=keep me\n"
      "\n"
      "[tail]\n"
      "y=2");
  ini.set("zel", "edit", "new");
  ini.set("zel", "added", "3");
  ini.set("fresh", "k", "v");
  EXPECT_EQ(ini.text(),
            "; made by hand\n"
            "[other]\n"
            "x=1\n"
            "[Zel]\n"
            "# comment in zel\n"
            "EDIT=new\n"
            "custom=keep me\n"
            "added=3\n"
            "\n"
            "[tail]\n"
            "y=2\n"
            "[fresh]\n"
            "k=v\n");
}

TEST(IniFileTest, FirstSectionAndKeyWin) {
  IniFile ini;
  ini.parse("[zel]\na=1\na=2\n[ZEL]\na=3\nb=4\n");
  EXPECT_EQ(ini.getInt("zel", "a"), 1);
  EXPECT_EQ(ini.get("zel", "b"), std::nullopt);
  ini.set("zel", "a", "9");
  EXPECT_EQ(ini.text(), "[zel]\na=9\na=2\n[ZEL]\na=3\nb=4\n");
}

TEST(IniFileTest, ValuesWithOuterBlanksOrQuotesRoundTrip) {
  for (const std::string value : {" /tmp/a dir ", "\"quoted\"", "'x'", "\"", "plain path"}) {
    IniFile out;
    out.set("zel", "result", value);
    IniFile in;
    in.parse(out.text());
    EXPECT_EQ(in.getString("zel", "result"), value) << out.text();
  }
  IniFile plain;
  plain.set("zel", "result", "/home/ユーザー/出力");
  EXPECT_EQ(plain.text(), "[zel]\nresult=/home/ユーザー/出力\n");
}

TEST(IniFileTest, LineBreaksInAValueCannotAddKeys) {
  IniFile ini;
  ini.set("zel", "result", "/tmp/a\n3gpfile=0\r\n[evil]");
  ini.set("zel", "edit", "x\ry");
  EXPECT_EQ(ini.text(), "[zel]\nresult=/tmp/a\nedit=x\n");
  EXPECT_EQ(ini.getString("zel", "result"), "/tmp/a");
}

TEST(IniFileTest, ByteOrderMarkIsSkippedAndKept) {
  IniFile ini;
  ini.parse("\xEF\xBB\xBF[zel]\na=1\n");
  EXPECT_EQ(ini.getInt("zel", "a"), 1);
  EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[zel]\na=1\n");
}

TEST(IniFileTest, ParseProfileIntLikeTheWindowsReader) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"-3", -3},
      {"+5", 5},
      {"  7", 7},
      {"30sec", 30},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"1.9", 1},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999999999", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseProfileInt(c.text), c.value) << c.text;
}

TEST(IniFileTest, SaveReplacesTheFileAndLeavesNoTemporary) {
  TempDir dir;
  const auto path = dir.path() / "setup.ini";
  test::WriteFileBytes(path, {'o', 'l', 'd', '\n'});
  IniFile ini;
  ini.set("zel", "a", "1");
  ASSERT_TRUE(ini.save(path));
  EXPECT_EQ(ReadFileText(path), "[zel]\na=1\n");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

TEST(IniFileTest, SaveIntoMissingFolderOrThroughAFileFails) {
  TempDir dir;
  IniFile ini;
  ini.set("zel", "a", "1");
  EXPECT_FALSE(ini.save(dir.path() / "missing" / "setup.ini"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));

  const auto notAFolder = dir.path() / "plain";
  test::WriteFileBytes(notAFolder, {'x'});
  EXPECT_FALSE(ini.save(notAFolder / "setup.ini"));
  EXPECT_EQ(ReadFileText(notAFolder), "x");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(IniFileTest, LoadOfMissingFileGivesEmptyContents) {
  TempDir dir;
  IniFile ini;
  ini.parse("[zel]\na=1\n");
  EXPECT_FALSE(ini.load(dir.path() / "none.ini"));
  EXPECT_EQ(ini.text(), "");
}

}  // namespace
}  // namespace zel
