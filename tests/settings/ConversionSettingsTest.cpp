#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "common/TestSupport.h"
#include "settings/ConversionSettings.h"
#include "settings/ValueLists.h"

namespace zel {
namespace {

// Every lookup takes the list's first entry for an index outside it; an
// unknown format reads the list of no format; H.263 has no 320x240.
TEST(ValueListsTest, LookupsClampOutsideTheList) {
  // clang-format off
  const std::pair<int, int> cases[] = {
      {ClampIndex(2, 3), 2}, {ClampIndex(3, 3), 0}, {ClampIndex(-1, 3), 0},
      {ClampIndex(INT_MIN, 3), 0}, {ClampIndex(INT_MAX, 3), 0}, {ClampIndex(0, 0), 0},
      {ListValue({}, 5), 0}, {SampleRateHz(kAudioFormatAac, 4), 8000},
      {SampleRateHz(kAudioFormatAmr, 3), 8000}, {SampleRateHz(-3, 2), 0}, {SampleRateHz(7, 0), 0},
      {ChannelCount(kAudioFormatAmr, 1), 1}, {ChannelCount(kAudioFormatAac, -1), 1},
      {FrameWidth(9), 128}, {FrameRateFps(31), 0}, {CaptureWidth(-1), 0}, {MeasureStepMs(7), 1000},
      {AudioFormatValue(-3), 0}, {VideoFormatValue(3), 0}, {int(FrameSizeList(99).size()), 1},
      {int(FrameSizeList(kVideoFormatH263).size()), 2}};
  // clang-format on
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
}

using test::ReadFileText;
using test::TempDir;

void WriteText(const std::filesystem::path& path, const std::string& text) {
  test::WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

auto Stored(const ConversionSettings& s) {
  return std::tie(s.mpeg_audio, s.mpeg_video, s.samplerate, s.channels, s.framesize, s.framerate,
                  s.splittime, s.capturesize, s.measure, s.adjustframe, s.logfile, s.file3gp,
                  s.file3g2, s.result, s.edit);
}

// What the window does at start-up: result := start directory, load, step.
TEST(ConversionSettingsTest, StartWithoutFileSavesTheDefaultsInKeyOrder) {
  TempDir dir;
  ConversionSettings s;
  s.result = dir.path().string();
  LoadSettings(s, dir.path());
  ComputeMeasureStep(s);
  EXPECT_EQ(s.measure_step, 1000);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "setup.ini"));
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadFileText(dir.path() / "setup.ini"),
            "[zel]\nresult=" + dir.path().string() +
                "\nedit=sample_%02d\nmpeg_audio=1\nmpeg_video=2\nsplittime=0\nframesize=2\n"
                "capturesize=0\nchannels=0\nsamplerate=0\nframerate=0\nmeasure=0\n"
                "adjustframe=0\nlogfile=0\n3gpfile=1\n3g2file=1\n");
}

TEST(ConversionSettingsTest, SaveThenLoadGivesTheSameValues) {
  TempDir dir;
  ConversionSettings s;
  s.mpeg_audio = 2, s.mpeg_video = 1, s.samplerate = 3, s.channels = 1, s.framesize = 1;
  s.framerate = 15, s.splittime = 120'000'000, s.capturesize = 2, s.measure = 3;
  s.adjustframe = 1, s.logfile = 1, s.file3gp = 0, s.file3g2 = 1;
  s.result = "/srv/出力 フォルダ";
  s.edit = "file_%02d";
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  ConversionSettings t;
  t.framesize = 0;
  t.edit.clear();
  LoadSettings(t, dir.path());
  EXPECT_TRUE(Stored(t) == Stored(s)) << ReadFileText(dir.path() / "setup.ini");
  ComputeMeasureStep(t);
  EXPECT_EQ(t.measure_step, 1);
}

TEST(ConversionSettingsTest, SplittimeIsWholeSecondsInTheFile) {
  TempDir dir;
  WriteText(dir.path() / "setup.ini", "[zel]\nsplittime=30\n");
  ConversionSettings s;
  LoadSettings(s, dir.path());
  EXPECT_EQ(s.splittime, 300'000'000);
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_NE(ReadFileText(dir.path() / "setup.ini").find("\nsplittime=30\n"), std::string::npos);
  // Far beyond 32 bits of 100-ns units, still exact in 64 bits.
  for (std::int64_t seconds : {std::int64_t{2147483647}, std::int64_t{-5}}) {
    WriteText(dir.path() / "setup.ini", "[zel]\nsplittime=" + std::to_string(seconds) + "\n");
    LoadSettings(s, dir.path());
    EXPECT_EQ(s.splittime, seconds * 10'000'000);
  }
}

// Keys missing from an existing file load as 0 or empty; whatever else the
// file holds stays where it was.
TEST(ConversionSettingsTest, UnknownContentSurvivesASave) {
  TempDir dir;
  WriteText(dir.path() / "setup.ini",
            "; kept\n[other]\nfoo=bar\n[zel]\nmpeg_audio=2\nextra=1\n\n[more]\nx=y\n");
  ConversionSettings s;
  LoadSettings(s, dir.path());
  s.mpeg_audio = 1;
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadFileText(dir.path() / "setup.ini"),
            "; kept\n[other]\nfoo=bar\n[zel]\nmpeg_audio=1\nextra=1\n"
            "result=\nedit=\nmpeg_video=0\nsplittime=0\nframesize=0\ncapturesize=0\n"
            "channels=0\nsamplerate=0\nframerate=0\nmeasure=0\nadjustframe=0\nlogfile=0\n"
            "3gpfile=0\n3g2file=0\n\n[more]\nx=y\n");
}

TEST(ConversionSettingsTest, UnwritableFolderKeepsTheOldStateAndReloadDefaults) {
  TempDir dir;
  ConversionSettings s;
  s.mpeg_audio = 0, s.mpeg_video = 1, s.file3gp = 0, s.framerate = 12;
  const auto missing = dir.path() / "gone";
  EXPECT_FALSE(SaveSettings(s, missing));
  LoadSettings(s, missing);
  EXPECT_EQ(std::make_tuple(s.mpeg_audio, s.mpeg_video, s.file3gp, s.file3g2, s.framerate),
            std::make_tuple(1, 2, 1, 1, 12));
}

}  // namespace
}  // namespace zel
