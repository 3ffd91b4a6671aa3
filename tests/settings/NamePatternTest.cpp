#include <gtest/gtest.h>

#include "settings/NamePattern.h"

namespace zel {
namespace {

struct Case {
  const char* pattern;
  int index;
  const char* name;
};

TEST(NamePatternTest, SafePatternsFormatTheIndex) {
  const Case cases[] = {
      {"sample_%02d", 3, "sample_03"},
      {"file_%02d", 12, "file_12"},
      {"%06d", 1, "000001"},
      {"%d", 42, "42"},
      {"%i", 7, "7"},
      {"%6d", 5, "     5"},
      {"%-4d|", 5, "5   |"},
      {"%.3d", 5, "005"},
      {"%+d", 5, "+5"},
      {"% d", 5, " 5"},
      {"%#d", 5, "5"},
      {"%999d", 1, nullptr},  // checked by length below
      {"%02d%%", 5, "05%"},
      {"%%d", 5, "%d"},
      {"100%%_%d", 2, "100%_2"},
      {"fixed", 9, "fixed"},
      {"画像_%03d", 4, "画像_004"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(IsSafeNamePattern(c.pattern)) << c.pattern;
    if (c.name) {
      EXPECT_EQ(FormatSegmentName(c.pattern, c.index), c.name) << c.pattern;
    }
  }
  EXPECT_EQ(FormatSegmentName("%999d", 1).size(), 999u);
}

TEST(NamePatternTest, EmptyPatternFormatsInSixDigits) {
  EXPECT_EQ(FormatSegmentName("", 0), "000000");
  EXPECT_EQ(FormatSegmentName("", 12), "000012");
}

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
  // An embedded NUL byte cannot smuggle a conversion past the check.
  EXPECT_EQ(FormatSegmentName(std::string_view("%d\0%s", 5), 3), "000003");
}

}  // namespace
}  // namespace zel
