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
  // clang-format off
  return {folder + "/trip.wmv", 652500000, 0, 652500000,
          true, 44100, 2, 8000, 1, 32000,
          true, 29, 320, 240, 15, 176, 144, 200000,
          true, folder + "/sample_00"};
  // clang-format on
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
  for (const Case& c : cases)
    EXPECT_EQ(ReportOf(TripSegment(c.folder)), TripBlock(c.printed)) << c.folder;
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
  constexpr std::int64_t kMinute = 60 * 10000000;
  // clang-format off
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "00:00.000"}, {599999999, "00:59.999"}, {9999, "00:00.000"}, {10000, "00:00.001"},
      {59 * kMinute + 599990000, "59:59.999"}, {100 * kMinute, "100:00.000"},
      {12345 * kMinute + 70000, "12345:00.007"}, {-652500000, "00:00.000"}};
  // clang-format on
  for (const auto& [hns, text] : cases) EXPECT_EQ(FormatReportTime(hns), text) << hns;
}

}  // namespace
}  // namespace zel
