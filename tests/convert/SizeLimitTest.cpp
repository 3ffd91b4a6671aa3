// The size limit's rate arithmetic at its edges, and its tries against an
// encoder model whose files miss the target as real ones do (over, under,
// with a floor that no rate gets below).

#include <gtest/gtest.h>

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

// Against an encoder model: pictures of rate * seconds / 8 bytes times a
// factor (one below 80000 bit/s, one from there on), never below a floor;
// the files hold `fixed` bytes besides. `result` is the rate kept (Fits) or
// the smallest size named (TooLarge).
TEST(SizeLimitTest, TriesUntilTheFilesFit) {
  using Kind = FitOutcome::Kind;
  struct Case {
    const char* name;
    std::uint64_t fixed, floor;
    double below, above;
    std::uint64_t limit;
    Kind kind;
    int tries;
    std::uint64_t result;
  };
  // clang-format off
  const Case cases[] = {
      {"LandsAtOnce", 3000, 0, 1.04, 1.04, 153600, Kind::Fits, 1, 112046},
      {"OverThenUnder", 3000, 0, 1.2, 1.2, 153600, Kind::Fits, 2, 93372},
      {"UnderThenUp", 3000, 0, 0.7, 0.7, 153600, Kind::Fits, 2, 160068},
      // up from a small file overshoots: the last try goes back to the rate that fit
      {"BackToTheRateThatFit", 0, 0, 0.5, 1.5, 100000, Kind::Fits, 3, 74400},
      // the upper bound holds the rate down: a small file stands
      {"SmallAtTheUpperBound", 3000, 0, 1, 1, 1000000, Kind::Fits, 1, 200000},
      {"FloorAboveTheLimit", 3000, 200000, 1, 1, 153600, Kind::TooLarge, 3, 203000},
      {"SoundAloneTooLarge", 160000, 0, 1, 1, 153600, Kind::TooLarge, 0, 170000},
  };
  // clang-format on
  for (const Case& c : cases) {
    int tries = 0;
    const FitOutcome fit =
        FitPictures(c.limit, c.fixed, 10 * kSecond, 200000, [&](int rate, PictureTry& got) {
          ++tries;
          const double factor = rate < 80000 ? c.below : c.above;
          got.pictureBytes = std::max<std::uint64_t>(c.floor, rate * 10 / 8 * factor);
          got.fileBytes = c.fixed + got.pictureBytes;
          return true;
        });
    EXPECT_EQ(fit.kind, c.kind) << c.name;
    EXPECT_EQ(tries, c.tries) << c.name;
    EXPECT_EQ(c.kind == Kind::Fits ? fit.bitRate : fit.smallestBytes, c.result) << c.name;
  }
  // An encoding that fails ends the tries.
  EXPECT_EQ(
      FitPictures(153600, 3000, 10 * kSecond, 200000, [](int, PictureTry&) { return false; }).kind,
      Kind::Failed);
}

}  // namespace
}  // namespace zel
