#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/PcmConversion.h"

namespace zel {
namespace {

std::vector<std::uint8_t> ToBytes(const std::vector<std::int16_t>& samples) {
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
  AudioSegmentInfo info;
  info.sourceRate = sourceRate;
  info.targetRate = targetRate;
  info.sourceChannels = sourceChannels;
  info.targetChannels = targetChannels;
  info.rateRatio = static_cast<int>(10000LL * targetRate / sourceRate);
  return info;
}

// One second of 44100 Hz stereo to 8000 Hz mono: output frame j takes input
// frame floor(10000 j / 1814), and its pair is averaged afterwards.
TEST(PcmConversion, Stereo44100ToMono8000) {
  const AudioSegmentInfo info = Info(44100, 8000, 2, 1);
  ASSERT_EQ(info.rateRatio, 1814);
  std::vector<std::int16_t> input;
  for (int i = 0; i < 44100; ++i) {
    input.push_back(static_cast<std::int16_t>(i % 20000));      // left
    input.push_back(static_cast<std::int16_t>(i % 20000 + 1));  // right
  }
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
  for (std::size_t j = 0; j < 7999; ++j) {
    const int k = static_cast<int>(10000 * j / 1814);
    ASSERT_EQ(SampleAt(mixed, j), k % 20000) << j;  // (2v + 1) / 2 == v
  }
  EXPECT_EQ(mixed[15998], 0);  // the odd last byte is silence, not stale memory
}

TEST(PcmConversion, EqualChannelsCopyUnchanged) {
  const AudioSegmentInfo info = Info(8000, 8000, 2, 2);
  const auto source = ToBytes({1, -2, 3, -4, 32767, -32768});
  std::vector<std::uint8_t> out(source.size());
  EXPECT_EQ(ConvertPcmChannels(info, source.data(), source.size(), out.data()), source.size());
  EXPECT_EQ(out, source);
}

TEST(PcmConversion, EqualRatesResampleAsCopy) {
  const AudioSegmentInfo info = Info(22050, 22050, 1, 1);
  const auto source = ToBytes({5, 6, 7, -8, 9});
  std::vector<std::uint8_t> out(source.size());
  EXPECT_EQ(ResamplePcm(info, source.data(), source.size(), out.data()), source.size());
  EXPECT_EQ(out, source);
}

TEST(PcmConversion, MonoToStereoDuplicates) {
  const AudioSegmentInfo info = Info(8000, 8000, 1, 2);
  const auto source = ToBytes({100, -7, 32767});
  std::vector<std::uint8_t> out(12, 0xEE);
  EXPECT_EQ(ConvertPcmChannels(info, source.data(), source.size(), out.data()), 12u);
  EXPECT_EQ(out, ToBytes({100, 100, -7, -7, 32767, 32767}));
}

TEST(PcmConversion, StereoToMonoRoundsTowardZero) {
  const AudioSegmentInfo info = Info(8000, 8000, 2, 1);
  // Sums -3, 3, -1, extremes: -1 and 1, 0, -32768, 32767.
  const auto source = ToBytes({-1, -2, 1, 2, 0, -1, -32768, -32768, 32767, 32767, -32768, 32767});
  std::vector<std::uint8_t> out(12, 0xEE);
  EXPECT_EQ(ConvertPcmChannels(info, source.data(), source.size(), out.data()), 12u);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()),
            ToBytes({-1, 1, 0, -32768, 32767, 0}));
}

// 8000 Hz to 22050 Hz over a length that is not a whole number of frames:
// the last output frame would take input frame 5, which does not exist.
TEST(PcmConversion, UpsamplingNeverReadsPastTheInput) {
  const AudioSegmentInfo info = Info(8000, 22050, 1, 1);
  ASSERT_EQ(info.rateRatio, 27562);
  std::vector<std::uint8_t> source = ToBytes({10, 20, 30, 40, 50});
  source.push_back(0x7F);  // a stray byte: 11 bytes, 5 whole frames
  std::vector<std::uint8_t> out(64, 0xEE);
  const std::size_t n = ResamplePcm(info, source.data(), source.size(), out.data());
  ASSERT_EQ(n, 30u);  // 11 * 27562 / 10000
  // Frames 0..14 take inputs floor(10000 i / 27562); frame 14 would be input 5.
  const std::int16_t expect[] = {10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40, 50, 50, 0};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(SampleAt(out, i), expect[i]) << i;
  EXPECT_EQ(out[30], 0xEE);  // nothing written beyond the result
}

TEST(PcmConversion, NoChannelsOrRatioGiveNothing) {
  AudioSegmentInfo info;  // all zero: an unknown source
  const auto source = ToBytes({1, 2, 3, 4});
  std::vector<std::uint8_t> out(16);
  EXPECT_EQ(ResamplePcm(info, source.data(), source.size(), out.data()), 0u);
  EXPECT_EQ(ConvertPcmChannels(info, source.data(), source.size(), out.data()), 0u);
}

}  // namespace
}  // namespace zel
