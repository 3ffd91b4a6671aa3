#include <gtest/gtest.h>

#include "settings/NamePattern.h"

namespace zel {
namespace {

TEST(NamePatternTest, SafePatternsFormatTheIndex) {
  const std::pair<const char*, const char*> cases[] = {
      // index 5
      {"sample_%02d", "sample_05"},
      {"%06d", "000005"},
      {"%d", "5"},
      {"%i", "5"},
      {"%6d", "     5"},
      {"%-4d|", "5   |"},
      {"%.3d", "005"},
      {"%+d", "+5"},
      {"% d", " 5"},
      {"%#d", "5"},
      {"%02d%%", "05%"},
      {"%%d", "%d"},
      {"100%%_%d", "100%_5"},
      {"fixed", "fixed"},
      {"画像_%03d", "画像_005"},
  };
  for (const auto& [pattern, name] : cases) {
    EXPECT_TRUE(IsSafeNamePattern(pattern)) << pattern;
    EXPECT_EQ(FormatSegmentName(pattern, 5), name) << pattern;
  }
  EXPECT_EQ(FormatSegmentName("file_%02d", 123), "file_123");
  EXPECT_TRUE(IsSafeNamePattern("%999d"));
  EXPECT_EQ(FormatSegmentName("%999d", 1).size(), 999u);
}

// Empty and unsafe patterns format as "%06d".
TEST(NamePatternTest, UnsafePatternsFormatAsSixDigits) {
  const char* patterns[] = {
      "%s",   "%n",  "%x",   "%u",    "%d%d",   "%99999d", "%1000d", "%.1000d", "%*d",
      "%.*d", "%ld", "%lld", "%hd",   "%",      "a%",      "%-",     "%05",     "%.3",
      "%p",   "%f",  "%s%d", "%d_%s", "%02d%i", "%1$d",    "%c",     "%%%",     "x%%%s",
  };
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
