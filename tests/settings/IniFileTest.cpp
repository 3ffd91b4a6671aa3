#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "common/TestSupport.h"
#include "settings/IniFile.h"

namespace zel {
namespace {

using test::ReadFileText;
using test::TempDir;

std::size_t Entries(const std::filesystem::path& dir) {
  auto it = std::filesystem::directory_iterator(dir);
  return static_cast<std::size_t>(std::distance(begin(it), end(it)));
}

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

TEST(IniFileTest, SaveWritesANewFileOrReplacesAndLeavesNoTemporary) {
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
  EXPECT_EQ(Entries(dir.path()), 1u);
}

TEST(IniFileTest, FailedSaveOrLoadLeavesNothing) {
  TempDir dir;
  IniFile ini;
  ini.set("zel", "a", "1");
  EXPECT_FALSE(ini.save(dir.path() / "missing" / "setup.ini"));
  const auto notAFolder = dir.path() / "plain";
  test::WriteFileBytes(notAFolder, {'x'});
  EXPECT_FALSE(ini.save(notAFolder / "setup.ini"));
  EXPECT_EQ(ReadFileText(notAFolder), "x");
  EXPECT_EQ(Entries(dir.path()), 1u);
  EXPECT_FALSE(ini.load(dir.path() / "none.ini"));
  EXPECT_EQ(ini.text(), "");
}

}  // namespace
}  // namespace zel
