#include <gtest/gtest.h>

#include <climits>

#include "settings/ValueLists.h"

namespace zel {
namespace {

// Every lookup takes the list's first entry for an index outside it; an
// unknown format reads the list of no format.
TEST(ValueListsTest, LookupsResolveAndClampOutsideTheList) {
  const std::pair<int, int> cases[] = {
      {ClampIndex(0, 3), 0},
      {ClampIndex(2, 3), 2},
      {ClampIndex(3, 3), 0},
      {ClampIndex(-1, 3), 0},
      {ClampIndex(INT_MIN, 3), 0},
      {ClampIndex(INT_MAX, 3), 0},
      {ClampIndex(0, 0), 0},
      {ListValue({}, 5), 0},
      {SampleRateHz(kAudioFormatAac, 3), 24000},
      {SampleRateHz(kAudioFormatAac, 4), 8000},
      {SampleRateHz(kAudioFormatAmr, 3), 8000},
      {SampleRateHz(kAudioFormatNone, 2), 0},
      {SampleRateHz(-3, 2), 0},
      {SampleRateHz(7, 0), 0},
      {ChannelCount(kAudioFormatAac, 1), 2},
      {ChannelCount(kAudioFormatAmr, 1), 1},
      {ChannelCount(kAudioFormatAac, -1), 1},
      {FrameWidth(0), 128},
      {FrameWidth(2), 320},
      {FrameWidth(9), 128},
      {FrameRateFps(31), 0},
      {CaptureWidth(2), 128},
      {CaptureWidth(-1), 0},
      {MeasureStepMs(1), 100},
      {MeasureStepMs(7), 1000},
      {AudioFormatValue(-3), 0},
      {VideoFormatValue(3), 0},
      {VideoFormatValue(1), kVideoFormatH263},
      {int(FrameSizeList(kVideoFormatH263).size()), 2},  // no 320x240 for H.263
      {int(FrameSizeList(99).size()), 1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
  for (int i = 0; i <= 30; ++i) {
    EXPECT_EQ(FrameRateFps(i), i);
    EXPECT_EQ(IntervalList()[i].value, i);
  }
}

}  // namespace
}  // namespace zel
