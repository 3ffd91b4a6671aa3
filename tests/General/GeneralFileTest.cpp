#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "General/AtomicFile.h"
#include "General/GeneralFile.h"
#include "General/PathJoin.h"
#include "common/TestSupport.h"

// The files and folders that fsync was called on, by their names at the
// time of the call.
static std::vector<std::string> gSynced;

extern "C" int fsync(int fd) {
  char name[PATH_MAX];
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof name - 1);
  if (n > 0) gSynced.emplace_back(name, static_cast<std::size_t>(n));
  static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}

namespace zel {
namespace {

// GneGetFileName splits at '\\' too; PathExtension and PathWithoutExtension
// take the name after the last '/' only.
TEST(GeneralFileTest, NameExtensionAndCut) {
  struct Case {
    const char *path, *name, *extension, *cut;
  };
  const Case cases[] = {
      {"C:\\movie\\clip.take1.WMV", "clip.take1.WMV", "WMV", "C:\\movie\\clip.take1"},
      {"clip", "clip", "", "clip"},
      {"CLIP.", "CLIP.", "", "CLIP"},
      {"C:\\movie\\", "", "", "C:\\movie\\"},
      {"/home/me/mixed\\part.wmv", "part.wmv", "wmv", "/home/me/mixed\\part"},
      {"/dir.d/File", "File", "", "/dir.d/File"},
      {".hidden", ".hidden", "hidden", ""},
      {"x.Ä", "x.Ä", "Ä", "x"},
      {"", "", "", ""},
      {"/home/表示/ソース.WmA", "ソース.WmA", "WmA", "/home/表示/ソース"},  // "ソ" ends in 0xBD
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GneGetFileName(c.path), c.name) << c.path;
    EXPECT_EQ(PathExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(PathWithoutExtension(c.path), c.cut) << c.path;
  }
}

TEST(GeneralFileTest, FileExistsPlainAndWithWildcards) {
  test::TempDir dir;
  const std::string d = dir.path().string();
  test::WriteFileBytes(dir.path() / "clip01.3gp", {1});
  test::WriteFileBytes(dir.path() / "[x].txt", {1});
  std::filesystem::create_directory(dir.path() / "sub");
  // clang-format off
  const std::pair<std::string, bool> cases[] = {
      {d, true}, {d + "/sub", true}, {d + "/clip01.3gp", true}, {d + "/clip02.3gp", false},
      {d + "/missing/clip01.3gp", false}, {"", false}, {d + "/*.3gp", true},
      {d + "/clip??.3gp", true}, {d + "/c*1*", true}, {d + "/[x].*", true},  // '[' is ordinary
      {d + "/clip?.3gp", false}, {d + "/*.3g2", false}, {d + "/missing/*", false},
      {d + "/s*/x", false}};  // wildcards in a folder do not search
  // clang-format on
  for (const auto& [path, exists] : cases) EXPECT_EQ(GneFileExists(path), exists) << path;
}

// A name of NAME_MAX bytes is a valid target: its temporary name is
// shortened (never inside a UTF-8 character) and still removed as a
// partial file.
TEST(AtomicFileTest, LongestNamesAreWrittenAndReplacedWhole) {
  std::string japanese;
  for (int i = 0; i < 85; ++i) japanese += "あ";
  for (const std::string& name : {std::string(251, 'x') + ".3gp", japanese}) {
    test::TempDir dir;
    const std::string target = dir.file(name);
    test::WriteFileBytes(target, {1, 2, 3});
    {
      AtomicFile partial(target);
      ASSERT_TRUE(partial.open()) << name.size();
      std::vector<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
      ASSERT_EQ(names.size(), 2u);
      const std::string temporary = names[0] == name ? names[1] : names[0];
      const std::size_t stem = temporary.size() - 8;  // less ".", "-XXXXXX"
      EXPECT_EQ("." + name.substr(0, stem) + "-", temporary.substr(0, stem + 2));
      EXPECT_NE(static_cast<unsigned char>(name[stem]) & 0xC0, 0x80) << temporary;
      RemovePartialFiles();
      EXPECT_FALSE(std::filesystem::exists(dir.path() / temporary));
    }
    const std::uint8_t bytes[] = {4, 5};
    ASSERT_TRUE(WriteWholeFile(target, {bytes}));
    EXPECT_EQ(test::ReadFileBytes(target), (std::vector<std::uint8_t>{4, 5}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }
}

// A file that is replaced keeps its permission bits; its content is synced
// under the temporary name, before the rename, and the folder after it, so
// that a power loss never leaves the name on an empty file.
TEST(AtomicFileTest, ReplacingKeepsTheModeAndSyncsAroundTheRename) {
  test::TempDir dir;
  const std::string target = dir.file("clip.3gp");
  test::WriteFileBytes(target, {1});
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  gSynced.clear();
  const std::uint8_t bytes[] = {2};
  ASSERT_TRUE(WriteWholeFile(target, {bytes}));
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms{0640});
  ASSERT_EQ(gSynced.size(), 2u);
  EXPECT_TRUE(std::filesystem::path(gSynced[0]).filename().string().starts_with(".clip.3gp-"));
  EXPECT_EQ(gSynced[1], std::filesystem::canonical(dir.path()).string());
}

}  // namespace
}  // namespace zel
