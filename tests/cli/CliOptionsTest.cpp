#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/CliOptions.h"

namespace zel::cli {
namespace {

TEST(CliOptionsTest, ParsesTimes) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> hns;
  } cases[] = {
      {"0", 0},
      {"12.5", 125000000},
      {"75", 750000000},
      {"1:02.5", 625000000},
      {"1:02:03.250", 37232500000},
      {"0.0000001", 1},
      {"0.12345678", 1234567},  // beyond 100 ns the digits go
      {".5", 5000000},
      {"3.", 30000000},
      {"100000000", 1000000000000000},
      {"100000001", std::nullopt},  // more than about three years
      {"1:60", std::nullopt},
      {"1:60:00", std::nullopt},
      {"1:2:3:4", std::nullopt},
      {"", std::nullopt},
      {":5", std::nullopt},
      {"5:", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1e3", std::nullopt},
      {".", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseTime(c.text), c.hns) << '"' << c.text << '"';
  }
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
