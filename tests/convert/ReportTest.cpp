#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/TestSupport.h"
#include "convert/Report.h"

namespace zel {
namespace {

using test::ReadFileText;
using test::TempDir;

// 65.25 s from a 44100 Hz stereo, 320x240, 29.97 fps input to AAC 8000 Hz mono
// and MPEG-4 176x144 at 15 fps.
ReportSegment TripSegment(const std::string& folder, const std::string& separator) {
  ReportSegment s;
  s.outputBasePath = folder + separator + "trip.wmv";
  s.inputDurationHns = 652500000;
  s.startHns = 0;
  s.endHns = 652500000;
  s.hasAudio = true;
  s.sourceRate = 44100;
  s.sourceChannels = 2;
  s.targetRate = 8000;
  s.targetChannels = 1;
  s.audioBitRate = 32000;
  s.hasVideo = true;
  s.sourceFrameRate = 29;
  s.sourceWidth = 320;
  s.sourceHeight = 240;
  s.targetFrameRate = 15;
  s.targetWidth = 176;
  s.targetHeight = 144;
  s.videoBitRate = 200000;
  s.containerSelected = true;
  s.thumbnailBasePath = folder + separator + "sample_00";
  return s;
}

std::string TripBlock(const std::string& folder, const std::string& separator) {
  return "input file " + folder + separator +
         "trip.wmv<BR>01:05.250<BR>audio<BR>samplerate 44100[Hz]<BR>channels STEREO<BR>"
         "video<BR>framerate 29[fps]<BR>framesize 320x240<BR><HR>"
         "starttime 00:00.000 endtime 01:05.250<BR>audio<BR>samplerate 08000[Hz]<BR>"
         "channels MONO<BR>bitrate 32000[bps]<BR>video<BR>framerate 15[fps]<BR>"
         "framesize 176x144<BR>bitrate 200000[bps]<BR><img src=\"" +
         folder + separator + "sample_00.jpg\"><BR><HR><HR>";
}

TEST(ReportTest, WritesTheTripBlockByteForByte) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ASSERT_TRUE(AppendReport(report, TripSegment("/out", "/")));
  EXPECT_EQ(ReadFileText(report), TripBlock("/out", "/"));
  EXPECT_EQ(ReadFileText(report).find('\n'), std::string::npos);
}

TEST(ReportTest, PrintsWindowsStylePathsAsGiven) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ASSERT_TRUE(AppendReport(report, TripSegment("C:\\out", "\\")));
  EXPECT_EQ(ReadFileText(report),
            "input file C:\\out\\trip.wmv<BR>01:05.250<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels STEREO<BR>video<BR>framerate 29[fps]<BR>framesize 320x240<BR><HR>"
            "starttime 00:00.000 endtime 01:05.250<BR>audio<BR>samplerate 08000[Hz]<BR>"
            "channels MONO<BR>bitrate 32000[bps]<BR>video<BR>framerate 15[fps]<BR>"
            "framesize 176x144<BR>bitrate 200000[bps]<BR>"
            "<img src=\"C:\\out\\sample_00.jpg\"><BR><HR><HR>");
}

TEST(ReportTest, TwoSegmentsGiveTwoBlocksInOrder) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ReportSegment first = TripSegment("/out", "/");
  first.outputBasePath = "/out/trip00.wmv";
  first.endHns = 300000000;
  ReportSegment second = first;
  second.outputBasePath = "/out/trip01.wmv";
  second.startHns = 300000000;
  second.endHns = 652500000;
  second.thumbnailBasePath = "/out/sample_01";
  ASSERT_TRUE(AppendReport(report, first));
  ASSERT_TRUE(AppendReport(report, second));

  const std::string text = ReadFileText(report);
  const std::size_t firstImage = text.find("<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");
  const std::size_t secondInput = text.find("input file /out/trip01.wmv<BR>");
  const std::size_t secondImage = text.find("<img src=\"/out/sample_01.jpg\"><BR><HR><HR>");
  EXPECT_EQ(text.rfind("input file /out/trip00.wmv<BR>01:05.250<BR>", 0), 0u);
  ASSERT_NE(firstImage, std::string::npos);
  ASSERT_NE(secondInput, std::string::npos);
  ASSERT_NE(secondImage, std::string::npos);
  EXPECT_EQ(firstImage + std::string("<img src=\"/out/sample_00.jpg\"><BR><HR><HR>").size(),
            secondInput);
  EXPECT_NE(text.find("starttime 00:00.000 endtime 00:30.000<BR>"), std::string::npos);
  EXPECT_NE(text.find("starttime 00:30.000 endtime 01:05.250<BR>"), std::string::npos);
  // nothing but the two blocks: each names its input "trip00.wmv"/"trip01.wmv"
  EXPECT_EQ(text.size(), 2 * (TripBlock("/out", "/").size() + 2));
}

TEST(ReportTest, AudioOnlySegmentHasNoVideoLinesButKeepsTheImage) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ReportSegment s = TripSegment("/out", "/");
  s.hasVideo = false;
  s.inputDurationHns = 30000000;
  s.endHns = 30000000;
  ASSERT_TRUE(AppendReport(report, s));
  EXPECT_EQ(ReadFileText(report),
            "input file /out/trip.wmv<BR>00:03.000<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels STEREO<BR><HR>starttime 00:00.000 endtime 00:03.000<BR>audio<BR>"
            "samplerate 08000[Hz]<BR>channels MONO<BR>bitrate 32000[bps]<BR>"
            "<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");
}

TEST(ReportTest, VideoOnlySegmentHasNoAudioLines) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ReportSegment s = TripSegment("/out", "/");
  s.hasAudio = false;
  s.targetFrameRate = 5;
  ASSERT_TRUE(AppendReport(report, s));
  EXPECT_EQ(ReadFileText(report),
            "input file /out/trip.wmv<BR>01:05.250<BR>video<BR>framerate 29[fps]<BR>"
            "framesize 320x240<BR><HR>starttime 00:00.000 endtime 01:05.250<BR>video<BR>"
            "framerate 05[fps]<BR>framesize 176x144<BR>bitrate 200000[bps]<BR>"
            "<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");
}

TEST(ReportTest, MonoSourceAndStereoTargetAndNoContainer) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ReportSegment s = TripSegment("/out", "/");
  s.hasVideo = false;
  s.sourceChannels = 1;
  s.targetChannels = 2;
  s.audioBitRate = 48000;
  s.containerSelected = false;
  ASSERT_TRUE(AppendReport(report, s));
  EXPECT_EQ(ReadFileText(report),
            "input file /out/trip.wmv<BR>01:05.250<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels MONO<BR><HR>starttime 00:00.000 endtime 01:05.250<BR>audio<BR>"
            "samplerate 08000[Hz]<BR>channels STEREO<BR>bitrate 48000[bps]<BR><HR><HR>");
}

TEST(ReportTest, PathsWithPercentSignsPrintLiterally) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ReportSegment s = TripSegment("/out/100%s%n%d", "/");
  ASSERT_TRUE(AppendReport(report, s));
  EXPECT_EQ(ReadFileText(report), TripBlock("/out/100%s%n%d", "/"));
}

TEST(ReportTest, AppendsToWhatIsThere) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  test::WriteFileBytes(report, {'o', 'l', 'd'});
  ASSERT_TRUE(AppendReport(report, TripSegment("/out", "/")));
  EXPECT_EQ(ReadFileText(report), "old" + TripBlock("/out", "/"));
}

TEST(ReportTest, UnwritableReportIsFalse) {
  TempDir dir;
  EXPECT_FALSE(AppendReport(dir.file("missing/thumbnail.html"), TripSegment("/out", "/")));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
  // a folder where the file should be
  std::filesystem::create_directory(dir.path() / "thumbnail.html");
  EXPECT_FALSE(AppendReport(dir.file("thumbnail.html"), TripSegment("/out", "/")));
}

TEST(ReportTest, FormatsTimes) {
  struct Case {
    std::int64_t hns;
    const char* text;
  };
  const Case cases[] = {
      {0, "00:00.000"},
      {30000000, "00:03.000"},
      {652500000, "01:05.250"},
      {599999999, "00:59.999"},
      {9999, "00:00.000"},
      {10000, "00:00.001"},
      {std::int64_t{59} * 60 * 10000000 + 590000000 + 9990000, "59:59.999"},
      {std::int64_t{100} * 60 * 10000000, "100:00.000"},
      {std::int64_t{12345} * 60 * 10000000 + 70000, "12345:00.007"},
      {-1, "00:00.000"},
      {-652500000, "00:00.000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatReportTime(c.hns), c.text) << c.hns;
  }
}

TEST(ReportTest, LongInputPrintsMinutesAboveNinetyNine) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  ReportSegment s = TripSegment("/out", "/");
  s.inputDurationHns = std::int64_t{125} * 60 * 10000000 + 12340000;  // 125:01.234
  s.startHns = std::int64_t{120} * 60 * 10000000;
  s.endHns = s.inputDurationHns;
  ASSERT_TRUE(AppendReport(report, s));
  const std::string text = ReadFileText(report);
  EXPECT_EQ(text.rfind("input file /out/trip.wmv<BR>125:01.234<BR>", 0), 0u);
  EXPECT_NE(text.find("<HR>starttime 120:00.000 endtime 125:01.234<BR>"), std::string::npos);
}

}  // namespace
}  // namespace zel
