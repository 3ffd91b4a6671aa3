#include <gtest/gtest.h>

#include <filesystem>

#include "General/GeneralFile.h"
#include "common/TestSupport.h"

namespace zel {
namespace {

TEST(GeneralFileTest, NameExtensionAndCut) {
  struct Case {
    const char *path, *name, *extension, *cut;
  };
  const Case cases[] = {
      {"C:\\movie\\clip.take1.WMV", "clip.take1.WMV", "wmv", "C:\\movie\\clip.take1"},
      {"clip", "clip", "clip", "clip"},
      {"CLIP.", "CLIP.", "", "CLIP"},
      {"C:\\movie\\", "", "c:\\movie\\", "C:\\movie\\"},
      {"/home/me/mixed\\part.wmv", "part.wmv", "wmv", "/home/me/mixed\\part"},
      {"/dir.d/File", "File", "d/file", "/dir"},
      {".hidden", ".hidden", "hidden", ""},
      {"x.Ä", "x.Ä", "Ä", "x"},
      {"", "", "", ""},
      {"/home/表示/ソース.WmA", "ソース.WmA", "wma", "/home/表示/ソース"},  // "ソ" ends in 0xBD
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GneGetFileName(c.path), c.name) << c.path;
    EXPECT_EQ(GneGetExtension(c.path), c.extension) << c.path;
    std::string path = c.path;
    GneCutExtension(path);
    EXPECT_EQ(path, c.cut) << c.path;
  }
}

TEST(GeneralFileTest, FileExistsPlainAndWithWildcards) {
  test::TempDir dir;
  const std::string d = dir.path().string();
  test::WriteFileBytes(dir.path() / "clip01.3gp", {1});
  test::WriteFileBytes(dir.path() / "[x].txt", {1});
  std::filesystem::create_directory(dir.path() / "sub");
  const std::pair<std::string, bool> cases[] = {
      {d, true},
      {d + "/sub", true},
      {d + "/clip01.3gp", true},
      {d + "/clip02.3gp", false},
      {d + "/missing/clip01.3gp", false},
      {"", false},
      {d + "/*.3gp", true},
      {d + "/clip??.3gp", true},
      {d + "/c*1*", true},
      {d + "/[x].*", true},  // '[' is an ordinary byte
      {d + "/clip?.3gp", false},
      {d + "/*.3g2", false},
      {d + "/missing/*", false},
      {d + "/s*/x", false},  // wildcards in a folder do not search
  };
  for (const auto& [path, exists] : cases) EXPECT_EQ(GneFileExists(path), exists) << path;
}

}  // namespace
}  // namespace zel
