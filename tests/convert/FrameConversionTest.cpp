// The arithmetic of pictures (YV12 scaling, YV12 to RGB) and of PCM
// (rates and channels).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/FrameConversion.h"
#include "convert/PcmConversion.h"

namespace zel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

// Nearest-neighbour: target sample t takes source sample floor(10000 t /
// ratio), chroma rows and columns with the luma ratios.
TEST(ScaleYV12, DownAndUpscaleTakeTheNearestSample) {
  Bytes src(96);  // 8x8: luma 10 y + x, then a 4x4 V and a 4x4 U plane
  for (int i = 0; i < 64; ++i) src[i] = static_cast<std::uint8_t>(10 * (i / 8) + i % 8);
  for (int i = 0; i < 16; ++i) src[64 + i] = static_cast<std::uint8_t>(100 + i);
  for (int i = 0; i < 16; ++i) src[80 + i] = static_cast<std::uint8_t>(200 + i);
  Bytes out(24, 0xEE);
  ASSERT_EQ(ScaleYV12(FrameSizes(8, 8, 4, 4), src.data(), src.size(), out.data()), 24u);
  EXPECT_EQ(out, (Bytes{0,  2,  4,  6,  20,  22,  24,  26,  40,  42,  44,  46,
                        60, 62, 64, 66, 100, 102, 108, 110, 200, 202, 208, 210}));

  const Bytes small = {1, 2, 3, 4, 50, 60};
  ASSERT_EQ(ScaleYV12(FrameSizes(2, 2, 4, 4), small.data(), small.size(), out.data()), 24u);
  EXPECT_EQ(
      out, (Bytes{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4, 50, 50, 50, 50, 60, 60, 60, 60}));
  // A buffer shorter than one source frame is refused untouched.
  out.assign(24, 0xEE);
  EXPECT_EQ(ScaleYV12(FrameSizes(8, 8, 4, 4), src.data(), src.size() - 1, out.data()), 0u);
  EXPECT_EQ(out, Bytes(24, 0xEE));
}

TEST(ScaleYV12, ThreeTwentyToQcifUsesTruncatedRatios) {
  VideoSegmentInfo info = FrameSizes(320, 240, 176, 144);
  ASSERT_EQ(info.xRatio, 5500);
  ASSERT_EQ(info.yRatio, 6000);
  Bytes src(320 * 240 * 3 / 2);
  for (std::size_t i = 0; i < 320 * 240; ++i) src[i] = static_cast<std::uint8_t>(i % 320 % 251);
  Bytes out(176 * 144 * 3 / 2);
  ASSERT_EQ(ScaleYV12(info, src.data(), src.size(), out.data()), out.size());
  for (int x = 0; x < 176; ++x) ASSERT_EQ(out[x], (10000 * x / 5500) % 251) << x;
}

// Fixed point with shifts that round toward minus infinity; every byte
// clamped to 0..255. The plane at w*h drives byte 2, the one after it byte 0.
TEST(YV12ToRgb24, ClampsAndRoundsTowardMinusInfinity) {
  struct Case {
    int l, p2, p3, b0, b1, b2;
  };
  const Case cases[] = {
      {128, 128, 128, 128, 128, 128},  // neutral grey
      {255, 128, 255, 255, 165, 255},  // byte 0 clamped at 255
      // -128*1436 >> 10 = -180 (truncation: -179); -93568 >> 10 = -92
      {0, 128, 0, 0, 92, 0},        // byte 0 clamped at 0
      {200, 128, 0, 20, 255, 200},  // byte 1 clamped at 255
      {0, 255, 128, 0, 0, 224},     // 127*907 >> 9 = 224
      {0, 0, 128, 0, 44, 0},
  };
  for (const Case& c : cases) {
    const auto l = static_cast<std::uint8_t>(c.l);
    const Bytes src = {
        l, l, l, l, static_cast<std::uint8_t>(c.p2), static_cast<std::uint8_t>(c.p3)};
    Bytes out(12, 0);
    ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), src.data(), src.size(), out.data()), 12u);
    for (int pixel = 0; pixel < 4; ++pixel)
      EXPECT_EQ(Bytes(out.begin() + 3 * pixel, out.begin() + 3 * pixel + 3),
                (Bytes{std::uint8_t(c.b0), std::uint8_t(c.b1), std::uint8_t(c.b2)}))
          << c.l << "," << c.p2 << "," << c.p3;
  }
}

TEST(YV12ToRgb24, RowsGoBottomUpAndShortChromaReadsAsNeutral) {
  const Bytes rows = {10, 10, 90, 90, 128, 128};
  Bytes out(12, 0);
  ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), rows.data(), rows.size(), out.data()), 12u);
  EXPECT_EQ(out, (Bytes{90, 90, 90, 90, 90, 90, 10, 10, 10, 10, 10, 10}));
  const Bytes shortChroma = {50, 50, 50, 50, 255};  // the third plane is missing: 128
  ASSERT_EQ(YV12ToRgb24(FrameSizes(2, 2, 2, 2), shortChroma.data(), shortChroma.size(), out.data()),
            12u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{50, 7, 255}));
}

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
