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
ReportSegment TripSegment(const std::string& folder) {
  ReportSegment s;
  s.outputBasePath = folder + "/trip.wmv";
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
  s.thumbnailBasePath = folder + "/sample_00";
  return s;
}

std::string TripBlock(const std::string& folder) {
  return "input file " + folder +
         "/trip.wmv<BR>01:05.250<BR>audio<BR>samplerate 44100[Hz]<BR>channels STEREO<BR>"
         "video<BR>framerate 29[fps]<BR>framesize 320x240<BR><HR>"
         "starttime 00:00.000 endtime 01:05.250<BR>audio<BR>samplerate 08000[Hz]<BR>"
         "channels MONO<BR>bitrate 32000[bps]<BR>video<BR>framerate 15[fps]<BR>"
         "framesize 176x144<BR>bitrate 200000[bps]<BR><img src=\"" +
         folder + "/sample_00.jpg\"><BR><HR><HR>";
}

std::string ReportOf(const ReportSegment& s) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  EXPECT_TRUE(AppendReport(report, s));
  return ReadFileText(report);
}

TEST(ReportTest, WritesTheTripBlockByteForByte) {
  EXPECT_EQ(ReportOf(TripSegment("/out")), TripBlock("/out"));
}

// Paths are text of the page and of its img attribute: printf conversions
// print as they stand, and the four characters that would break the page are
// entities; every other byte stays.
TEST(ReportTest, PathsArePrintedSafely) {
  struct Case {
    const char* folder;
    const char* printed;
  } cases[] = {
      {"/out/100%s%n%d", "/out/100%s%n%d"},
      {"/o\"ut<a>&b", "/o&quot;ut&lt;a&gt;&amp;b"},
      {"/ｆｏｌｄｅｒ\\x", "/ｆｏｌｄｅｒ\\x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReportOf(TripSegment(c.folder)), TripBlock(c.printed)) << c.folder;
  }
}

TEST(ReportTest, SegmentsWithoutOneKindOrWithoutImage) {
  ReportSegment audioOnly = TripSegment("/out");
  audioOnly.hasVideo = false;
  audioOnly.inputDurationHns = audioOnly.endHns = 30000000;
  EXPECT_EQ(ReportOf(audioOnly),
            "input file /out/trip.wmv<BR>00:03.000<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels STEREO<BR><HR>starttime 00:00.000 endtime 00:03.000<BR>audio<BR>"
            "samplerate 08000[Hz]<BR>channels MONO<BR>bitrate 32000[bps]<BR>"
            "<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");

  ReportSegment videoOnly = TripSegment("/out");
  videoOnly.hasAudio = false;
  videoOnly.targetFrameRate = 5;
  EXPECT_EQ(ReportOf(videoOnly),
            "input file /out/trip.wmv<BR>01:05.250<BR>video<BR>framerate 29[fps]<BR>"
            "framesize 320x240<BR><HR>starttime 00:00.000 endtime 01:05.250<BR>video<BR>"
            "framerate 05[fps]<BR>framesize 176x144<BR>bitrate 200000[bps]<BR>"
            "<img src=\"/out/sample_00.jpg\"><BR><HR><HR>");

  ReportSegment noImage = audioOnly;
  noImage.sourceChannels = 1;
  noImage.targetChannels = 2;
  noImage.audioBitRate = 48000;
  noImage.containerSelected = false;
  EXPECT_EQ(ReportOf(noImage),
            "input file /out/trip.wmv<BR>00:03.000<BR>audio<BR>samplerate 44100[Hz]<BR>"
            "channels MONO<BR><HR>starttime 00:00.000 endtime 00:03.000<BR>audio<BR>"
            "samplerate 08000[Hz]<BR>channels STEREO<BR>bitrate 48000[bps]<BR><HR><HR>");
}

// Blocks follow each other without anything between them; the first block of
// a job replaces what the file held; a report that cannot be written leaves
// the file as it was.
TEST(ReportTest, AppendingStartingAndFailing) {
  TempDir dir;
  const std::string report = dir.file("thumbnail.html");
  test::WriteFileBytes(report, {'o', 'l', 'd'});
  ASSERT_TRUE(AppendReport(report, TripSegment("/a")));
  EXPECT_EQ(ReadFileText(report), "old" + TripBlock("/a"));
  ASSERT_TRUE(AppendReport(report, TripSegment("/b"), /*startNew=*/true));
  ASSERT_TRUE(AppendReport(report, TripSegment("/c")));
  EXPECT_EQ(ReadFileText(report), TripBlock("/b") + TripBlock("/c"));

  EXPECT_FALSE(AppendReport(dir.file("missing/thumbnail.html"), TripSegment("/out")));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
  std::filesystem::create_directory(dir.path() / "folder.html");
  EXPECT_FALSE(AppendReport(dir.file("folder.html"), TripSegment("/out")));
  // nothing half-written stays beside the report
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(ReportTest, FormatsTimes) {
  struct Case {
    std::int64_t hns;
    const char* text;
  };
  const Case cases[] = {
      {0, "00:00.000"},
      {599999999, "00:59.999"},
      {9999, "00:00.000"},
      {10000, "00:00.001"},
      {std::int64_t{59} * 60 * 10000000 + 590000000 + 9990000, "59:59.999"},
      {std::int64_t{100} * 60 * 10000000, "100:00.000"},
      {std::int64_t{12345} * 60 * 10000000 + 70000, "12345:00.007"},
      {-652500000, "00:00.000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatReportTime(c.hns), c.text) << c.hns;
  }
}

}  // namespace
}  // namespace zel
