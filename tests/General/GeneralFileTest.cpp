#include <gtest/gtest.h>

#include <filesystem>

#include "General/GeneralFile.h"
#include "common/TestSupport.h"

namespace zel {
namespace {

struct PathCase {
  const char* path;
  const char* expected;
};

TEST(GeneralFileTest, GetFileName) {
  const PathCase cases[] = {
      {"C:\\movie\\clip.wmv", "clip.wmv"},
      {"clip.wmv", "clip.wmv"},
      {"C:\\movie\\", ""},
      {"/clip.wmv", "clip.wmv"},
      {"/home/me/videos/clip.avi", "clip.avi"},
      {"/home/me/mixed\\part.wmv", "part.wmv"},
      {"/home/me/", ""},
      {"", ""},
      {"/home/表示/ソース.wmv", "ソース.wmv"},  // "ソ" ends in 0xBD, never a separator
  };
  for (const PathCase& c : cases) EXPECT_EQ(GneGetFileName(c.path), c.expected) << c.path;
}

TEST(GeneralFileTest, GetExtension) {
  const PathCase cases[] = {
      {"CLIP.MPG", "mpg"}, {"a.b.WMV", "wmv"},        {"README", "readme"},   {"clip.", ""},
      {"x.Ä", "Ä"},        {"/dir.d/File", "d/file"}, {"/v/動画.WmA", "wma"}, {"", ""},
  };
  for (const PathCase& c : cases) EXPECT_EQ(GneGetExtension(c.path), c.expected) << c.path;
}

TEST(GeneralFileTest, CutExtension) {
  const PathCase cases[] = {
      {"clip.take1.3gp", "clip.take1"}, {"clip", "clip"}, {"clip.", "clip"},
      {"/out/a.b/name", "/out/a"},      {".hidden", ""},  {"", ""},
  };
  for (const PathCase& c : cases) {
    std::string path = c.path;
    GneCutExtension(path);
    EXPECT_EQ(path, c.expected) << c.path;
  }
}

TEST(GeneralFileTest, FileExistsPlainAndWithWildcards) {
  test::TempDir dir;
  const std::string d = dir.path().string();
  test::WriteFileBytes(dir.path() / "clip01.3gp", {1});
  test::WriteFileBytes(dir.path() / "[x].txt", {1});
  std::filesystem::create_directory(dir.path() / "sub");

  EXPECT_TRUE(GneFileExists(d));
  EXPECT_TRUE(GneFileExists(d + "/sub"));
  EXPECT_TRUE(GneFileExists(d + "/clip01.3gp"));
  EXPECT_FALSE(GneFileExists(d + "/clip02.3gp"));
  EXPECT_FALSE(GneFileExists(d + "/missing/clip01.3gp"));
  EXPECT_FALSE(GneFileExists(""));

  EXPECT_TRUE(GneFileExists(d + "/*.3gp"));
  EXPECT_TRUE(GneFileExists(d + "/clip??.3gp"));
  EXPECT_TRUE(GneFileExists(d + "/c*1*"));
  EXPECT_TRUE(GneFileExists(d + "/[x].*"));  // '[' is an ordinary byte
  EXPECT_FALSE(GneFileExists(d + "/clip?.3gp"));
  EXPECT_FALSE(GneFileExists(d + "/*.3g2"));
  EXPECT_FALSE(GneFileExists(d + "/missing/*"));
  EXPECT_FALSE(GneFileExists(d + "/s*/x"));  // wildcards in a folder do not search
}

}  // namespace
}  // namespace zel
