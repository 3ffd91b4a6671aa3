// The sound's rate and channels through whole conversions of 3-s tones: one
// above the output's half rate must not fold back as a false tone, one below
// keeps its level (volumedetect's means, source against decoded output), and
// the track its length (within one frame). With normalize, the loudness of
// whole jobs (ffmpeg's ebur128 on input and output).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "common/ConversionJob.h"
#include "common/MediaFixtures.h"

namespace zel {
namespace {

double MeanVolume(const std::string& path) {
  const std::string log = test::FilterLog(path, "-af", "volumedetect");
  const std::size_t at = log.find("mean_volume: ");
  return at == std::string::npos ? NAN : std::stod(log.substr(at + 13));
}

struct Case {
  int sourceRate, sourceChannels, toneHz;
  int audio, rate, channels;  // settings: 1 aac, 2 amr; rate 8000, 16000, 22050, 24000 Hz
  double change, tolerance;   // of the level, dB; tolerance 0: at most `change`
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.toneHz << " Hz from " << c.sourceRate << " to " << (c.audio == 1 ? "aac" : "amr");
}

class ResamplingTest : public ::testing::TestWithParam<Case> {};

TEST_P(ResamplingTest, NoFalseTonesLevelAndLengthKept) {
  const Case& c = GetParam();
  const std::string name = "tone" + std::to_string(c.toneHz) + "_" + std::to_string(c.sourceRate);
  const std::string input = test::Media(
      name + ".wav", {"-f", "lavfi", "-i",
                      "sine=frequency=" + std::to_string(c.toneHz) +
                          ":sample_rate=" + std::to_string(c.sourceRate) + ":duration=3",
                      "-ac", std::to_string(c.sourceChannels)});
  test::Job j;
  j.settings.mpeg_video = 0;
  j.settings.mpeg_audio = c.audio, j.settings.samplerate = c.rate, j.settings.channels = c.channels;
  ASSERT_EQ(j.Convert(input), ConversionOutcome::Completed);
  const std::string output = j.out.file(name + ".3gp");
  test::ExpectTracksLast(output, 3.0);
  const double change = MeanVolume(output) - MeanVolume(input);
  if (c.tolerance > 0) {
    EXPECT_NEAR(change, c.change, c.tolerance);
  } else {
    EXPECT_LE(change, c.change);
  }
}

INSTANTIATE_TEST_SUITE_P(Tones, ResamplingTest,
                         ::testing::Values(Case{44100, 2, 6000, 1, 0, 0, -55, 0},  // folds to 2 kHz
                                           Case{44100, 2, 6000, 2, 0, 0, -55, 0},
                                           Case{44100, 2, 15000, 1, 2, 1, -55, 0},  // to 7050 Hz
                                           Case{44100, 2, 1000, 1, 0, 0, 0, 1.5},
                                           Case{44100, 2, 1000, 1, 2, 1, 0, 1.5},
                                           // one channel into both at its level, not 3 dB down
                                           Case{8000, 1, 1000, 1, 3, 1, 0, 1.5}));

// Integrated loudness (LUFS) and sample peak (dBFS) of a file, or of its
// stretch from `from` to `to` seconds, as ffmpeg's ebur128 filter gives them.
std::pair<double, double> Loudness(const std::string& path, int from = 0, int to = 0) {
  std::string filter = "ebur128=peak=sample";
  if (to > 0) filter = "atrim=" + std::to_string(from) + ":" + std::to_string(to) + "," + filter;
  const std::string log = test::FilterLog(path, "-af", filter);
  const std::size_t summary = log.rfind("Summary:");
  const std::size_t lufs = log.find(" I:", summary), peak = log.find("Peak:", summary);
  if (summary == std::string::npos || lufs == std::string::npos || peak == std::string::npos)
    return {NAN, NAN};
  return {std::stod(log.substr(lufs + 3)), std::stod(log.substr(peak + 5))};
}

struct Level {
  const char* name;
  std::string sound;  // 6 s of lavfi source at the output's rate
  int audio, rate;    // settings: 1 aac, 2 amr; rate 0: 8000 Hz, 1: 16000 Hz
  bool normalize;
  int split;  // seconds
};

void PrintTo(const Level& c, std::ostream* out) { *out << c.name; }

std::string Pink(double amplitude, int rate, const char* after = "") {
  return "anoisesrc=color=pink:seed=1:duration=6:sample_rate=" + std::to_string(rate) +
         ":amplitude=" + std::to_string(amplitude) + after;
}

// Partials of a voice at a syllable's pace, peaks at full scale: AMR-NB
// codes tones as they are, noise some 2.5 LU quieter.
const std::string kSpeechLike =
    "aevalsrc='(1+0.6*sin(2*PI*3*t))*(0.5*sin(2*PI*220*t)+0.3*sin(2*PI*660*t)+0.2*sin(2*PI*1540*t))"
    "':s=8000:d=6";

// Clicks (a cycle of 1 kHz at -20 dBFS) twice a second: peaks that only the
// limiter holds once the gain is up.
const char* const kClicks =
    "[a];aevalsrc='0.07*sin(2*PI*1000*t)*lt(mod(t,0.5),0.002)':s=16000:d=6[b];"
    "[a][b]amix=normalize=0";

class LoudnessTest : public ::testing::TestWithParam<Level> {};

// With normalize every file of a job gets the one gain that brings the whole
// range to -16 LUFS (at most +30 dB, none for silence), its peaks at most
// -1 dBFS after coding; without it the level stays.
TEST_P(LoudnessTest, OneGainForTheWholeRange) {
  const Level& c = GetParam();
  const std::string input =
      test::Media(std::string(c.name) + ".wav", {"-f", "lavfi", "-i", c.sound});
  test::Job j;
  j.settings.mpeg_video = 0;
  j.settings.mpeg_audio = c.audio, j.settings.samplerate = c.rate;
  j.settings.normalize = c.normalize;
  j.settings.splittime = c.split * kHnsPerSecond;
  ASSERT_EQ(j.Convert(input), ConversionOutcome::Completed);
  const double whole = Loudness(input).first;
  const double gain = !c.normalize || whole <= -70 ? 0 : std::min(-16 - whole, 30.0);
  const int step = c.split > 0 ? c.split : 6;
  for (int from = 0; from < 6; from += step) {
    char name[64];
    std::snprintf(name, sizeof name, c.split > 0 ? "%s%02d.3gp" : "%s.3gp", c.name, from / step);
    const auto [lufs, peak] = Loudness(j.out.file(name));
    EXPECT_NEAR(lufs, Loudness(input, from, from + step).first + gain, 1.5)
        << name << " of " << whole << " LUFS";
    if (c.normalize) {
      EXPECT_LE(peak, -1.0) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LoudnessTest,
    ::testing::Values(Level{"quiet", Pink(0.063, 16000, kClicks), 1, 1, true, 0},   // -40 LUFS
                      Level{"loud", Pink(1, 16000, ",volume=2dB"), 1, 1, true, 0},  // -14 LUFS
                      Level{"loudamr", kSpeechLike, 2, 0, true, 0},                 // -7 LUFS
                      Level{"faint", Pink(0.0112, 16000), 1, 1, true, 0},           // -55: +30 dB
                      Level{"silent", "sine=r=16000:d=6,volume=-75dB", 1, 1, true, 0},
                      Level{"plain", Pink(0.063, 16000), 1, 1, false, 0},
                      // -33 LUFS, then -23: one gain for both segments
                      Level{"step", "aevalsrc='if(lt(t,3),0.03,0.1)*sin(2*PI*1000*t)':s=16000:d=6",
                            1, 1, true, 3}));

}  // namespace
}  // namespace zel
