// The size limit's rate arithmetic at its edges, and its tries against an
// encoder model whose files miss the target as real ones do (over, under,
// with a floor that no rate gets below).

#include <gtest/gtest.h>

#include <functional>

#include "convert/SizeLimit.h"

namespace zel {
namespace {

constexpr std::int64_t kSecond = 10000000;

TEST(SizeLimitTest, RateForTheRoomLeft) {
  struct Case {
    const char* name;
    std::uint64_t limit, fixed;
    std::int64_t lengthHns;
    int rate;
  };
  const Case cases[] = {
      // 93 % of 123600 bytes over 10 s
      {"SoundAndPictures", 153600, 30000, 10 * kSecond, 91958},
      {"PicturesOnly", 153600, 1200, 10 * kSecond, 113385},
      {"ShortSegmentKeepsTheUpperBound", 153600, 3000, kSecond / 2, 200000},
      {"EmptySegment", 153600, 3000, 0, 200000},
      // exactly the lowest rate's 10000 bytes left, and one byte less
      {"LowestRate", 40000, 30000, 10 * kSecond, kMinVideoBitRate},
      {"BelowTheLowestRate", 39999, 30000, 10 * kSecond, 0},
      {"SoundAloneTooLarge", 8192, 85000, 30 * kSecond, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VideoRateForLimit(c.limit, c.fixed, c.lengthHns, 200000), c.rate) << c.name;
  }
  EXPECT_EQ(SmallestFileBytes(85000, 30 * kSecond), 85000u + 30000u);
  EXPECT_EQ(SmallestFileBytes(0, 1), 1u);  // rounded up
}

// Pictures of rate * seconds / 8 bytes times a factor of the rate, never
// below a floor; the files hold `fixed` bytes besides.
struct Model {
  std::uint64_t fixed = 0;
  std::uint64_t floor = 0;
  std::function<double(int)> factor = [](int) { return 1.0; };
};

TEST(SizeLimitTest, TriesUntilTheFilesFit) {
  using Kind = FitOutcome::Kind;
  struct Case {
    const char* name;
    Model model;
    std::uint64_t limit;
    Kind kind;
    int tries;
    int rate;  // Fits: the rate kept
  };
  const Case cases[] = {
      {"LandsAtOnce", {3000, 0, [](int) { return 1.04; }}, 153600, Kind::Fits, 1, 112046},
      {"OverThenUnder", {3000, 0, [](int) { return 1.2; }}, 153600, Kind::Fits, 2, 93372},
      {"UnderThenUp", {3000, 0, [](int) { return 0.7; }}, 153600, Kind::Fits, 2, 160068},
      // up from a small file overshoots: the last try goes back to the rate that fit
      {"BackToTheRateThatFit",
       {0, 0, [](int rate) { return rate < 80000 ? 0.5 : 1.5; }},
       100000,
       Kind::Fits,
       3,
       74400},
      // the upper bound holds the rate down: a small file stands
      {"SmallAtTheUpperBound", {3000, 0, [](int) { return 1.0; }}, 1000000, Kind::Fits, 1, 200000},
      {"FloorAboveTheLimit", {3000, 200000, [](int) { return 1.0; }}, 153600, Kind::TooLarge, 3, 0},
      {"SoundAloneTooLarge", {160000, 0, [](int) { return 1.0; }}, 153600, Kind::TooLarge, 0, 0},
  };
  for (const Case& c : cases) {
    int tries = 0;
    const FitOutcome fit =
        FitPictures(c.limit, c.model.fixed, 10 * kSecond, 200000, [&](int rate, PictureTry& got) {
          ++tries;
          got.pictureBytes = std::max<std::uint64_t>(
              c.model.floor, static_cast<std::uint64_t>(rate * 10 / 8 * c.model.factor(rate)));
          got.fileBytes = c.model.fixed + got.pictureBytes;
          return true;
        });
    EXPECT_EQ(fit.kind, c.kind) << c.name;
    EXPECT_EQ(tries, c.tries) << c.name;
    if (c.kind == Kind::Fits) {
      EXPECT_EQ(fit.bitRate, c.rate) << c.name;
    }
    if (c.kind == Kind::TooLarge) {
      // the smallest size the files reached, or could reach without pictures tried
      EXPECT_EQ(fit.smallestBytes, c.tries > 0 ? c.model.fixed + c.model.floor
                                               : SmallestFileBytes(c.model.fixed, 10 * kSecond))
          << c.name;
    }
  }
  // An encoding that fails ends the tries.
  EXPECT_EQ(
      FitPictures(153600, 3000, 10 * kSecond, 200000, [](int, PictureTry&) { return false; }).kind,
      Kind::Failed);
}

}  // namespace
}  // namespace zel
