#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/PcmConversion.h"

namespace zel {
namespace {

using Samples = std::vector<std::int16_t>;

std::vector<std::uint8_t> ToBytes(const Samples& samples) {
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

std::int16_t SampleAt(const std::vector<std::uint8_t>& bytes, std::size_t index) {
  std::int16_t s;
  std::memcpy(&s, bytes.data() + 2 * index, 2);
  return s;
}

AudioSegmentInfo Info(int sourceRate, int targetRate, int sourceChannels, int targetChannels) {
  AudioSegmentInfo info{sourceRate, targetRate, sourceChannels, targetChannels, 0, 0};
  if (sourceRate > 0) info.rateRatio = static_cast<int>(10000LL * targetRate / sourceRate);
  return info;
}

// One second of 44100 Hz stereo to 8000 Hz mono: output frame j takes input
// frame floor(10000 j / 1814), and its pair is averaged afterwards.
TEST(PcmConversion, Stereo44100ToMono8000) {
  const AudioSegmentInfo info = Info(44100, 8000, 2, 1);
  ASSERT_EQ(info.rateRatio, 1814);
  Samples input;
  for (int i = 0; i < 44100; ++i)  // left, right
    input.insert(input.end(), {std::int16_t(i % 20000), std::int16_t(i % 20000 + 1)});
  const auto source = ToBytes(input);
  std::vector<std::uint8_t> rated(source.size() * 1814 / 10000 + 10000, 0xEE);
  const std::size_t ratedBytes = ResamplePcm(info, source.data(), source.size(), rated.data());
  EXPECT_EQ(ratedBytes, 31998u);  // 176400 * 1814 / 10000, truncated
  for (std::size_t j = 0; j < ratedBytes / 4; ++j) {
    const int k = static_cast<int>(10000 * j / 1814);
    ASSERT_EQ(SampleAt(rated, 2 * j), k % 20000) << j;
    ASSERT_EQ(SampleAt(rated, 2 * j + 1), k % 20000 + 1) << j;
  }
  std::vector<std::uint8_t> mixed(ratedBytes / 2 + 10000, 0xEE);
  const std::size_t mixedBytes = ConvertPcmChannels(info, rated.data(), ratedBytes, mixed.data());
  EXPECT_EQ(mixedBytes, 15999u);
  for (std::size_t j = 0; j < 7999; ++j)
    ASSERT_EQ(SampleAt(mixed, j), static_cast<int>(10000 * j / 1814) % 20000) << j;  // (2v + 1) / 2
  EXPECT_EQ(mixed[15998], 0);  // the odd last byte is silence, not stale memory
}

struct Case {
  const char* name;
  bool resample;  // ResamplePcm, else ConvertPcmChannels
  AudioSegmentInfo info;
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output;  // nothing beyond it is written
};

std::vector<std::uint8_t> Plus(std::vector<std::uint8_t> bytes, std::uint8_t extra) {
  bytes.push_back(extra);
  return bytes;
}

TEST(PcmConversion, ChannelsAndRates) {
  const Case cases[] = {
      {"equal channels", false, Info(8000, 8000, 2, 2), ToBytes({1, -2, 3, -4, 32767, -32768}),
       ToBytes({1, -2, 3, -4, 32767, -32768})},
      {"mono to stereo", false, Info(8000, 8000, 1, 2), ToBytes({100, -7, 32767}),
       ToBytes({100, 100, -7, -7, 32767, 32767})},
      // Sums -3, 3, -1 and the extremes: halves rounded toward zero.
      {"stereo to mono", false, Info(8000, 8000, 2, 1),
       ToBytes({-1, -2, 1, 2, 0, -1, -32768, -32768, 32767, 32767, -32768, 32767}),
       ToBytes({-1, 1, 0, -32768, 32767, 0})},
      {"no channels", false, Info(0, 0, 0, 0), ToBytes({1, 2, 3, 4}), {}},
      {"equal rates", true, Info(22050, 22050, 1, 1), ToBytes({5, 6, 7, -8, 9}),
       ToBytes({5, 6, 7, -8, 9})},
      // 11 bytes: 5 whole frames and a stray byte; output frame 14 would take
      // input frame 5, which does not exist, and is silence.
      {"upsampling", true, Info(8000, 22050, 1, 1), Plus(ToBytes({10, 20, 30, 40, 50}), 0x7F),
       ToBytes({10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40, 50, 50, 0})},
      {"no ratio", true, Info(0, 0, 0, 0), ToBytes({1, 2, 3, 4}), {}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(64, 0xEE);
    const std::size_t n =
        c.resample ? ResamplePcm(c.info, c.input.data(), c.input.size(), out.data())
                   : ConvertPcmChannels(c.info, c.input.data(), c.input.size(), out.data());
    ASSERT_EQ(n, c.output.size()) << c.name;
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + n), c.output) << c.name;
    EXPECT_EQ(out[n], 0xEE) << c.name;
  }
}

}  // namespace
}  // namespace zel
