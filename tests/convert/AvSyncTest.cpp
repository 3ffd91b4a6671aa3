// Sound and pictures on one clock: whole conversions of a clip that flashes
// white and beeps at 1, 3, 5, 7 and 9 s, for every codec pairing, both
// containers, the source's rate and 15 fps, whole and split. In every file the
// beep keeps its place and its offset to the flash as in the source (onsets by
// ffmpeg's blackdetect and silencedetect), and both tracks end with the
// segment; also across gaps, and from one picture a second. A kept NTSC rate
// keeps every picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/ConversionJob.h"
#include "common/MediaFixtures.h"

namespace zel {
namespace {

constexpr double kTolerance = 0.035;  // what the conversion may add to the offset
constexpr int kSplit = 2;             // seconds

// As ffmpeg makes a WMV of it, wmav2's start-up delay puts the first
// picture 46 ms after the first sound; flashes and beeps agree.
std::vector<std::string> FlashClip(const std::string& videoFilter = "",
                                   const std::string& audioFilter = "anull") {
  const std::string on = "gte(t,1)*lt(mod(t-1,2),0.2)";
  const std::string video = "color=c=black:s=320x240:r=30000/1001:d=10,drawbox=c=white:t=fill";
  return test::Join(
      {{"-f", "lavfi", "-i", video + ":enable='" + on + "'" + videoFilter},
       {"-f", "lavfi", "-i", "aevalsrc='if(" + on + ",0.5*sin(2*PI*1000*t),0)':s=44100"},
       {"-t", "10", "-af", audioFilter, "-ac", "2", "-c:v", "wmv2", "-fps_mode", "vfr"}});
}

// The onsets that follow ffmpeg's `key` in its log, by the odd second they
// belong to (NAN where none), on the file's timeline moved by `start`.
std::vector<double> Onsets(const std::string& path, const char* const (&detect)[2],
                           double start = 0) {
  const std::string filter = detect[0], key = detect[1];
  std::vector<double> at(5, NAN);
  const std::string log = test::FilterLog(path, filter[0] == 'b' ? "-vf" : "-af", filter);
  for (std::size_t p = 0; (p = log.find(key, p)) != std::string::npos;) {
    const double t = std::stod(log.substr(p += key.size())) + start;
    const long second = std::lround(t);
    if (second % 2 && std::abs(t - second) < 0.4 && std::isnan(at[second / 2])) at[second / 2] = t;
  }
  return at;
}
const char* const kFlash[] = {"blackdetect=d=0.01:pix_th=0.3", "black_end:"};
const char* const kBeep[] = {"silencedetect=n=-30dB:d=0.05", "silence_end: "};

using S = ConversionSettings;

struct Case {
  const char* name;
  void (*set)(S&);
  bool split = false;
  const char* input = "flash.wmv";
  std::vector<std::string> make = FlashClip();  // the ffmpeg arguments that make the input
  int pictures = 0;                             // the count of pictures, when it must be exact
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class AvSyncTest : public ::testing::TestWithParam<Case> {};

TEST_P(AvSyncTest, SoundStaysWithThePictureAndBothTracksEndWithTheSegment) {
  const Case& c = GetParam();
  const std::string input = test::Media(c.input, c.make);
  test::Job j;
  j.settings.file3g2 = 1;
  j.settings.splittime = c.split ? kSplit * 10000000LL : 0;
  c.set(j.settings);
  ASSERT_EQ(j.Convert(input), ConversionOutcome::Completed) << j.notifier.messages().back();
  const double length = j.range.duration / 1e7;
  const std::vector<double> flashes = Onsets(input, kFlash), beeps = Onsets(input, kBeep);
  const std::string name = std::string(c.input).substr(0, std::string(c.input).find('.'));
  for (int i = 0; i * kSplit < (c.split ? length : 1); ++i) {
    const double start = i * kSplit, end = c.split ? std::min(start + kSplit, length) : length;
    for (const char* extension : {".3gp", ".3g2"}) {
      const std::string number = c.split ? std::string(1, '0') + char('0' + i) : "";
      const std::string path = j.out.file(name + number + extension);
      SCOPED_TRACE(path);
      const std::vector<double> flash = Onsets(path, kFlash, start),
                                beep = Onsets(path, kBeep, start);
      for (int k = 0; k < 5; ++k) {
        if (2 * k + 1 <= start || 2 * k + 1 >= end || std::isnan(beeps[k])) continue;
        EXPECT_NEAR(beep[k], beeps[k], kTolerance) << "at " << 2 * k + 1 << " s";
        EXPECT_EQ(std::isnan(flash[k]), std::isnan(flashes[k]));
        if (std::isnan(flashes[k])) continue;
        EXPECT_NEAR(beep[k] - flash[k], beeps[k] - flashes[k], kTolerance) << 2 * k + 1 << " s";
      }
      test::ExpectTracksLast(path, end - start);
      const std::string pictures = test::Probe(path, "stream=nb_read_packets", {"-count_packets"});
      EXPECT_TRUE(!c.pictures || pictures == std::to_string(c.pictures)) << pictures;
    }
  }
}

// Settings: video 1 h263, 2 mpeg4; size 0 128x96, 1 176x144, 2 320x240;
// audio 1 aac, 2 amr; rate 2 22050, 3 24000 Hz; channels 1 stereo; frame
// rate 0 the source's (else 15, the job's).
// clang-format off
INSTANTIATE_TEST_SUITE_P(Jobs, AvSyncTest, ::testing::Values(
    Case{"Mpeg4Aac8000Split", [](S&) {}, true},
    Case{"Mpeg4Aac24000Stereo",
         [](S& s) { s.framesize = 2, s.framerate = 0, s.samplerate = 3, s.channels = 1; }},
    Case{"H263Amr", [](S& s) { s.mpeg_video = 1, s.framerate = 0, s.mpeg_audio = 2; }},
    Case{"Mpeg4AmrSplit", [](S& s) { s.mpeg_audio = 2; }, true},
    Case{"H263Aac22050Split",
         [](S& s) { s.mpeg_video = 1, s.framesize = 0, s.framerate = 0, s.samplerate = 2; }, true},
    // No pictures from 4.0 to 7.09 s: the segments from 4 and 6 s start with
    // the picture before the gap, the later one's flash at its time. No sound
    // from 5.3 to 6.5 s: silence in its place.
    Case{"GapsSplit", [](S&) {}, true, "gaps.wmv",
         FlashClip(",select='not(between(t,4,7.09))'", "aselect='not(between(t,5.3,6.5))'")},
    Case{"OnePictureASecondAt30", [](S& s) { s.framerate = 30; }, false, "slow.wmv",
         test::Join({test::Video("320x240", "1", "4"), test::Tone(44100, "4"), {"-c:v", "wmv2"}})},
    Case{"NtscRateKept", [](S& s) { s.framerate = 0; }, false, "ntsc.wmv",
         test::Join({test::Video("176x144", "30000/1001", "10"), {"-c:v", "wmv2"}}),
         300}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace zel
