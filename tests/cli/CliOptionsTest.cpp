#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/CliOptions.h"

namespace zel::cli {
namespace {

TEST(CliOptionsTest, ParsesTimes) {
  // clang-format off
  const std::pair<const char*, std::int64_t> valid[] = {
      {"0", 0}, {"12.5", 125000000}, {"75", 750000000}, {"1:02.5", 625000000},
      {"1:02:03.250", 37232500000}, {"0.0000001", 1}, {".5", 5000000}, {"3.", 30000000},
      {"0.12345678", 1234567},  // beyond 100 ns the digits go
      {"100000000", 1000000000000000}};
  // clang-format on
  for (auto [text, hns] : valid) EXPECT_EQ(ParseTime(text), hns) << text;
  // more than about three years, fields out of range, signs and other forms
  for (const char* text : {"100000001", "1:60", "1:60:00", "1:2:3:4", "", ":5", "5:", "-1", "+1",
                           " 1", "1.2.3", "1e3", "."})
    EXPECT_EQ(ParseTime(text), std::nullopt) << '"' << text << '"';
}

TEST(CliOptionsTest, InlineValuesAndTheEndOfOptions) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--fps=12", "-o", "dir", "--", "--report", "-"}, o, error))
      << error;
  EXPECT_EQ(o.frameRate, 12);
  EXPECT_EQ(o.outputFolder, "dir");
  EXPECT_FALSE(o.report);
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"--report", "-"}));
  CliOptions empty;
  EXPECT_FALSE(ParseCommandLine({"--output=", "x.wmv"}, empty, error));
}

}  // namespace
}  // namespace zel::cli
