// The sound's rate and channels through whole conversions of 3-s tones: one
// above the output's half rate must not fold back as a false tone, one below
// keeps its level (volumedetect's means, source against decoded output), and
// the track its length (within one frame).

#include <gtest/gtest.h>

#include <cmath>
#include <string>

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

}  // namespace
}  // namespace zel
