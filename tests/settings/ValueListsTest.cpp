#include <gtest/gtest.h>

#include <climits>

#include "settings/ValueLists.h"

namespace zel {
namespace {

TEST(ValueListsTest, ListsHoldTheirEntries) {
  ASSERT_EQ(AudioFormatList().size(), 3u);
  EXPECT_EQ(AudioFormatList()[2].text, "amr");
  ASSERT_EQ(VideoFormatList().size(), 3u);
  EXPECT_EQ(VideoFormatList()[1].text, "h263");
  EXPECT_EQ(SampleRateList(kAudioFormatAac).size(), 4u);
  EXPECT_EQ(SampleRateList(kAudioFormatAac)[2].value, 22050);
  EXPECT_EQ(SampleRateList(kAudioFormatAmr).size(), 1u);
  EXPECT_EQ(SampleRateList(kAudioFormatNone)[0].value, 0);
  EXPECT_EQ(ChannelList(kAudioFormatAac)[1].text, "STEREO");
  EXPECT_EQ(ChannelList(kAudioFormatAmr).size(), 1u);
  EXPECT_EQ(FrameSizeList(kVideoFormatH263).size(), 2u);
  EXPECT_EQ(FrameSizeList(kVideoFormatMpeg4)[2].text, "320x240");
  EXPECT_EQ(FrameSizeList(kVideoFormatNone)[0].value, 0);
  ASSERT_EQ(FrameRateList().size(), 31u);
  EXPECT_EQ(FrameRateList()[0].text, "変更なし");
  EXPECT_EQ(FrameRateList()[30].text, "30");
  ASSERT_EQ(IntervalList().size(), 31u);
  for (int i = 0; i < 31; ++i) {
    EXPECT_EQ(FrameRateList()[i].value, i);
    EXPECT_EQ(IntervalList()[i].value, i);
    EXPECT_EQ(IntervalList()[i].text, std::to_string(i));
    if (i > 0) {
      EXPECT_EQ(FrameRateList()[i].text, std::to_string(i));
    }
  }
  EXPECT_EQ(CaptureSizeList()[1].text, "64x48");
  EXPECT_EQ(MeasureList()[3].text, "0.001");
  ASSERT_EQ(NamePatternPresets().size(), 3u);
  EXPECT_EQ(NamePatternPresets()[0].pattern, "%06d");
  EXPECT_EQ(NamePatternPresets()[1].pattern, "sample_%02d");
  EXPECT_EQ(NamePatternPresets()[2].text, "file_00");
}

TEST(ValueListsTest, ClampIndexTakesTheFirstEntryOutsideTheList) {
  EXPECT_EQ(ClampIndex(0, 3), 0);
  EXPECT_EQ(ClampIndex(2, 3), 2);
  EXPECT_EQ(ClampIndex(3, 3), 0);
  EXPECT_EQ(ClampIndex(-1, 3), 0);
  EXPECT_EQ(ClampIndex(INT_MIN, 3), 0);
  EXPECT_EQ(ClampIndex(INT_MAX, 3), 0);
  EXPECT_EQ(ClampIndex(0, 0), 0);
  EXPECT_EQ(ListValue({}, 5), 0);
}

TEST(ValueListsTest, LookupsResolveAndClamp) {
  EXPECT_EQ(SampleRateHz(kAudioFormatAac, 3), 24000);
  EXPECT_EQ(SampleRateHz(kAudioFormatAac, 4), 8000);
  EXPECT_EQ(SampleRateHz(kAudioFormatAmr, 3), 8000);
  EXPECT_EQ(SampleRateHz(kAudioFormatNone, 2), 0);
  EXPECT_EQ(SampleRateHz(-3, 2), 0);  // unknown format: the "none" list
  EXPECT_EQ(SampleRateHz(7, 0), 0);
  EXPECT_EQ(ChannelCount(kAudioFormatAac, 1), 2);
  EXPECT_EQ(ChannelCount(kAudioFormatAmr, 1), 1);
  EXPECT_EQ(ChannelCount(kAudioFormatAac, -1), 1);
  EXPECT_EQ(FrameWidth(0), 128);
  EXPECT_EQ(FrameWidth(2), 320);
  EXPECT_EQ(FrameWidth(9), 128);
  EXPECT_EQ(FrameRateFps(30), 30);
  EXPECT_EQ(FrameRateFps(31), 0);
  EXPECT_EQ(CaptureWidth(2), 128);
  EXPECT_EQ(CaptureWidth(-1), 0);
  EXPECT_EQ(MeasureStepMs(1), 100);
  EXPECT_EQ(MeasureStepMs(7), 1000);
  EXPECT_EQ(AudioFormatValue(-3), 0);
  EXPECT_EQ(VideoFormatValue(3), 0);
  EXPECT_EQ(FrameSizeList(99).size(), 1u);
}

}  // namespace
}  // namespace zel
