#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "settings/ConversionSettings.h"

namespace zel {
namespace {

using test::ReadFileText;
using test::TempDir;

void WriteText(const std::filesystem::path& path, const std::string& text) {
  test::WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// What the window does at start-up: result := start directory, load, step.
ConversionSettings StartUp(const std::filesystem::path& startDirectory) {
  ConversionSettings settings;
  settings.result = startDirectory.string();
  LoadSettings(settings, startDirectory);
  ComputeMeasureStep(settings);
  return settings;
}

TEST(ConversionSettingsTest, StartWithoutFileGivesTheDefaults) {
  TempDir dir;
  ConversionSettings s = StartUp(dir.path());
  EXPECT_EQ(s.mpeg_audio, 1);
  EXPECT_EQ(s.mpeg_video, 2);
  EXPECT_EQ(s.samplerate, 0);
  EXPECT_EQ(s.channels, 0);
  EXPECT_EQ(s.framesize, 2);
  EXPECT_EQ(s.framerate, 0);
  EXPECT_EQ(s.splittime, 0);
  EXPECT_EQ(s.capturesize, 0);
  EXPECT_EQ(s.measure, 0);
  EXPECT_EQ(s.adjustframe, 0);
  EXPECT_EQ(s.logfile, 0);
  EXPECT_EQ(s.file3gp, 1);
  EXPECT_EQ(s.file3g2, 1);
  EXPECT_EQ(s.result, dir.path().string());
  EXPECT_EQ(s.edit, "sample_%02d");
  EXPECT_EQ(s.measure_step, 1000);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "setup.ini"));
}

TEST(ConversionSettingsTest, FirstSaveWritesEveryKeyInOrder) {
  TempDir dir;
  ConversionSettings s = StartUp(dir.path());
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadFileText(dir.path() / "setup.ini"),
            "[zel]\n"
            "result=" +
                dir.path().string() +
                "\n"
                "edit=sample_%02d\n"
                "mpeg_audio=1\n"
                "mpeg_video=2\n"
                "splittime=0\n"
                "framesize=2\n"
                "capturesize=0\n"
                "channels=0\n"
                "samplerate=0\n"
                "framerate=0\n"
                "measure=0\n"
                "adjustframe=0\n"
                "logfile=0\n"
                "3gpfile=1\n"
                "3g2file=1\n");
}

TEST(ConversionSettingsTest, SaveThenLoadGivesTheSameValues) {
  TempDir dir;
  ConversionSettings s;
  s.mpeg_audio = 2;
  s.mpeg_video = 1;
  s.samplerate = 3;
  s.channels = 1;
  s.framesize = 1;
  s.framerate = 15;
  s.splittime = 120'000'000;
  s.capturesize = 2;
  s.measure = 3;
  s.adjustframe = 1;
  s.logfile = 1;
  s.file3gp = 0;
  s.file3g2 = 1;
  s.result = "/srv/出力 フォルダ";
  s.edit = "file_%02d";
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  ConversionSettings t;
  t.framesize = 0;
  t.edit.clear();
  LoadSettings(t, dir.path());
  EXPECT_EQ(t.mpeg_audio, 2);
  EXPECT_EQ(t.mpeg_video, 1);
  EXPECT_EQ(t.samplerate, 3);
  EXPECT_EQ(t.channels, 1);
  EXPECT_EQ(t.framesize, 1);
  EXPECT_EQ(t.framerate, 15);
  EXPECT_EQ(t.splittime, 120'000'000);
  EXPECT_EQ(t.capturesize, 2);
  EXPECT_EQ(t.measure, 3);
  EXPECT_EQ(t.adjustframe, 1);
  EXPECT_EQ(t.logfile, 1);
  EXPECT_EQ(t.file3gp, 0);
  EXPECT_EQ(t.file3g2, 1);
  EXPECT_EQ(t.result, "/srv/出力 フォルダ");
  EXPECT_EQ(t.edit, "file_%02d");
}

TEST(ConversionSettingsTest, SectionHeaderOnlyGivesZerosAndEmptyTexts) {
  TempDir dir;
  WriteText(dir.path() / "setup.ini", "[zel]\n");
  ConversionSettings s = StartUp(dir.path());
  EXPECT_EQ(s.mpeg_audio, 0);
  EXPECT_EQ(s.mpeg_video, 0);
  EXPECT_EQ(s.framesize, 0);
  EXPECT_EQ(s.file3gp, 0);
  EXPECT_EQ(s.file3g2, 0);
  EXPECT_EQ(s.splittime, 0);
  EXPECT_EQ(s.result, "");
  EXPECT_EQ(s.edit, "");
}

TEST(ConversionSettingsTest, SplittimeIsWholeSecondsInTheFile) {
  TempDir dir;
  WriteText(dir.path() / "setup.ini", "[zel]\nsplittime=30\n3gpfile=1\n");
  ConversionSettings s;
  LoadSettings(s, dir.path());
  EXPECT_EQ(s.splittime, 300'000'000);
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_NE(ReadFileText(dir.path() / "setup.ini").find("\nsplittime=30\n"), std::string::npos);

  // Far beyond 32 bits of 100-ns units, still exact in 64 bits.
  WriteText(dir.path() / "setup.ini", "[zel]\nsplittime=2147483647\n");
  LoadSettings(s, dir.path());
  EXPECT_EQ(s.splittime, std::int64_t{2147483647} * 10'000'000);
  WriteText(dir.path() / "setup.ini", "[zel]\nsplittime=-5\n");
  LoadSettings(s, dir.path());
  EXPECT_EQ(s.splittime, -50'000'000);
}

TEST(ConversionSettingsTest, CrlfAndCaseInsensitiveFileIsRead) {
  TempDir dir;
  WriteText(dir.path() / "setup.ini",
            "[ZEL]\r\nMPEG_AUDIO=2\r\nResult=/data/out\r\n3GPFILE=1\r\nMeasure=2\r\n");
  ConversionSettings s = StartUp(dir.path());
  EXPECT_EQ(s.mpeg_audio, 2);
  EXPECT_EQ(s.result, "/data/out");
  EXPECT_EQ(s.file3gp, 1);
  EXPECT_EQ(s.measure_step, 10);
}

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

TEST(ConversionSettingsTest, HostileNumbersLoadWithoutHarm) {
  TempDir dir;
  WriteText(dir.path() / "setup.ini",
            "[zel]\nmpeg_audio=-3\nframesize=9\nsamplerate=99\ncapturesize=-1\nmeasure=7\n"
            "framerate=99999999999999999999\nchannels=two\n");
  ConversionSettings s = StartUp(dir.path());
  EXPECT_EQ(s.mpeg_audio, -3);
  EXPECT_EQ(s.framesize, 9);
  EXPECT_EQ(s.framerate, 2147483647);
  EXPECT_EQ(s.channels, 0);
  EXPECT_EQ(s.measure_step, 1000);  // measure 7 is outside the list: its first entry
}

TEST(ConversionSettingsTest, UnwritableFolderKeepsTheOldStateAndReloadDefaults) {
  TempDir dir;
  ConversionSettings s = StartUp(dir.path());
  s.mpeg_audio = 0;
  s.mpeg_video = 1;
  s.file3gp = 0;
  s.framerate = 12;
  const auto missing = dir.path() / "gone";
  EXPECT_FALSE(SaveSettings(s, missing));
  LoadSettings(s, missing);
  EXPECT_EQ(s.mpeg_audio, 1);
  EXPECT_EQ(s.mpeg_video, 2);
  EXPECT_EQ(s.file3gp, 1);
  EXPECT_EQ(s.file3g2, 1);
  EXPECT_EQ(s.framerate, 12);
}

TEST(ConversionSettingsTest, MeasureStepFollowsTheList) {
  ConversionSettings s;
  const int expected[] = {1000, 100, 10, 1};
  for (int i = 0; i < 4; ++i) {
    s.measure = i;
    ComputeMeasureStep(s);
    EXPECT_EQ(s.measure_step, expected[i]);
  }
  s.measure = -1;
  ComputeMeasureStep(s);
  EXPECT_EQ(s.measure_step, 1000);
}

}  // namespace
}  // namespace zel
