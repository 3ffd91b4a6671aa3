#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "convert/AudioPath.h"
#include "convert/ConversionParameters.h"
#include "convert/WorkFiles.h"

namespace zel {
namespace {

using test::RecordingNotifier;
using test::TempDir;

constexpr char kNoTemporaryFile[] = "テンポラリファイルの取得に失敗しました。";
constexpr char kNoPcm[] = "m_prev_buffer_sizeサイズが0です";

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

// A 440 Hz tone, 16-bit little-endian, channels interleaved.
std::vector<std::uint8_t> Tone(int rate, int channels, std::size_t bytes) {
  std::vector<std::uint8_t> pcm(bytes);
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    const std::size_t frame = i / (2 * channels);
    const auto s =
        static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 440.0 * frame / rate));
    pcm[i] = static_cast<std::uint8_t>(s & 0xFF);
    pcm[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
  return pcm;
}

// RIFF/WAVE with a fmt chunk, an optional chunk before the data, and a data
// chunk whose length word may lie.
std::vector<std::uint8_t> Wav(int rate, int channels, const std::vector<std::uint8_t>& pcm,
                              const std::vector<std::uint8_t>& chunkBeforeData = {},
                              std::uint32_t dataLength = 0xFFFFFFFFu) {
  std::vector<std::uint8_t> out;
  PutTag(out, "RIFF");
  PutLe32(out, 0);
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  PutLe32(out, 16);
  out.insert(out.end(), {1, 0, static_cast<std::uint8_t>(channels), 0});
  PutLe32(out, static_cast<std::uint32_t>(rate));
  PutLe32(out, static_cast<std::uint32_t>(rate * channels * 2));
  out.insert(out.end(), {static_cast<std::uint8_t>(channels * 2), 0, 16, 0});
  out.insert(out.end(), chunkBeforeData.begin(), chunkBeforeData.end());
  PutTag(out, "data");
  PutLe32(out, dataLength == 0xFFFFFFFFu ? static_cast<std::uint32_t>(pcm.size()) : dataLength);
  out.insert(out.end(), pcm.begin(), pcm.end());
  const auto riff = static_cast<std::uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return out;
}

// Frames that the walk takes from length bytes with F samples per frame.
std::uint32_t FramesFor(std::size_t length, std::size_t frameSamples) {
  std::uint32_t n = 0;
  for (std::size_t offset = 0; offset + frameSamples < length; offset += 2 * frameSamples) ++n;
  return n;
}

struct Fixture {
  TempDir dir;
  ConversionState state;
  AudioTrackBuffer store;
  AudioParameterBlock block;
  AudioSegmentInfo info;
  RecordingNotifier notifier;
  AudioEncoder encoder{store, state};

  bool open(AudioKind kind, int rate, int channels, int sourceRate, int sourceChannels) {
    block.clear();
    SetUpAudioSegment(block, kind, rate, channels, sourceRate, sourceChannels, info);
    return encoder.OpenAudioEncoder(block, info, kind, notifier);
  }
  void encode(const std::vector<std::uint8_t>& wavFile) {
    test::WriteFileBytes(TemporaryWavPath(dir.path().string(), state.segmentIndex), wavFile);
    encoder.EncodeTemporaryWav(dir.path().string(), notifier);
  }
};

struct SetUpCase {
  AudioKind kind;
  int rate, channels, sourceRate, sourceChannels;
  int wantRate, wantChannels, wantFrameLength, wantBitRate, wantRatio;
};

TEST(AudioPath, SegmentSetUp) {
  const SetUpCase cases[] = {
      {AudioKind::Aac, 8000, 1, 44100, 2, 8000, 1, 1024, 32000, 1814},
      {AudioKind::Aac, 0, 0, 22050, 2, 22050, 2, 1024, 64000, 10000},
      {AudioKind::Aac, 16000, 2, 48000, 1, 16000, 2, 1024, 64000, 3333},
      {AudioKind::Aac, 24000, 0, 8000, 1, 24000, 1, 1024, 64000, 30000},
      {AudioKind::Aac, 5000, 1, 8000, 1, 5000, 1, 1024, 32000, 6250},  // below any offered rate
      {AudioKind::AmrNb, 8000, 1, 44100, 2, 8000, 1, 160, 48000, 1814},
      {AudioKind::AmrNb, 0, 0, 22050, 2, 8000, 1, 160, 48000, 3628},  // forced narrow band
      {AudioKind::Aac, 8000, 1, 0, 0, 8000, 1, 1024, 32000, 0},       // unknown source
  };
  for (const SetUpCase& c : cases) {
    AudioParameterBlock block;
    block.sampleRate = 11025;  // whatever an earlier segment left: the parameters win
    block.channels = 2;
    AudioSegmentInfo info;
    SetUpAudioSegment(block, c.kind, c.rate, c.channels, c.sourceRate, c.sourceChannels, info);
    SCOPED_TRACE(std::to_string(c.rate) + " from " + std::to_string(c.sourceRate));
    EXPECT_EQ(block.sampleRate, c.wantRate);
    EXPECT_EQ(block.channels, c.wantChannels);
    EXPECT_EQ(block.frameLength, c.wantFrameLength);
    EXPECT_EQ(block.bitRate, c.wantBitRate);
    EXPECT_EQ(info.rateRatio, c.wantRatio);
    EXPECT_EQ(info.sourceRate, c.sourceRate);
    EXPECT_EQ(info.sourceChannels, c.sourceChannels);
    EXPECT_EQ(info.targetRate, c.wantRate);
    EXPECT_EQ(info.targetChannels, c.wantChannels);
    EXPECT_EQ(info.bitRate, c.wantBitRate);
  }
}

TEST(AudioPath, AmrModeTableEdges) {
  const std::pair<int, int> cases[] = {
      {-1, 7},    {0, 0},     {4999, 0},  {5000, 1},  {5899, 1},  {5900, 2}, {6699, 2},
      {6700, 3},  {7000, 3},  {7001, 4},  {7949, 4},  {7950, 5},  {9999, 5}, {10000, 6},
      {11999, 6}, {12000, 7}, {48000, 7}, {64000, 7}, {64001, 7},
  };
  for (auto [bitRate, mode] : cases) EXPECT_EQ(AmrModeForBitRate(bitRate), mode) << bitRate;
}

TEST(AudioPath, AacStereo22050TakesPerChannelRateAndTwoChannelFrames) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::Aac, 22050, 2, 22050, 2));
  EXPECT_EQ(f.encoder.inputSamples(), 2048u);
  EXPECT_EQ(f.encoder.faacBitRate(), 64000);
  // AudioSpecificConfig: AAC-LC (2), 22050 Hz (index 7), 2 channels.
  EXPECT_EQ(f.block.decoderConfig, (std::vector<std::uint8_t>{0x13, 0x90}));
  EXPECT_TRUE(f.store.present);
  EXPECT_EQ(f.store.kind, AudioKind::Aac);
  EXPECT_EQ(f.store.params, &f.block);
  EXPECT_TRUE(f.notifier.messages().empty());
}

TEST(AudioPath, AmrFramesAre32BytesInMode122) {
  Fixture f;
  RecordingNotifier window;
  f.state.statusWindow = &window;
  f.state.segmentIndex = 3;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  EXPECT_EQ(f.encoder.amrMode(), 7);
  EXPECT_TRUE(f.block.decoderConfig.empty());
  f.encode(Wav(8000, 1, Tone(8000, 1, 32000)));
  EXPECT_EQ(window.captions(), std::vector<std::string>{"file:000003 audio 変換中"});
  EXPECT_TRUE(f.notifier.messages().empty());
  ASSERT_EQ(f.store.samples.sampleCount(), 100u);
  EXPECT_EQ(f.store.samples.totalBytes(), 3200u);
  for (std::uint32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(f.store.samples.sampleSizes()[i], 32u);
    EXPECT_EQ(f.store.samples.data()[32 * i], 0x3C) << i;
  }
}

// 44100 Hz stereo reaches the AMR encoder as 8000 Hz mono: 352800 bytes
// become 63997 after the rate and 31998 after the channels.
TEST(AudioPath, ConvertsRateAndChannelsBeforeEncoding) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 0, 0, 44100, 2));
  f.encode(Wav(44100, 2, Tone(44100, 2, 352800)));
  EXPECT_EQ(f.store.samples.sampleCount(), FramesFor(31998, 160));
  EXPECT_EQ(f.store.samples.sampleCount(), 100u);
}

// A source that reports no rate and no channels: nothing is divided by zero,
// nothing is encoded.
TEST(AudioPath, UnknownSourceFormatEncodesNothing) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 0, 0, 0, 0));
  f.encode(Wav(8000, 1, Tone(8000, 1, 32000)));
  EXPECT_TRUE(f.notifier.messages().empty());
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
}

// FAAC opens for no channels but refuses to be configured for them.
TEST(AudioPath, RefusedAacConfigurationShowsMessage) {
  Fixture f;
  EXPECT_FALSE(f.open(AudioKind::Aac, 0, 0, 0, 0));
  EXPECT_EQ(f.notifier.messages(), std::vector<std::string>{"faacEncSetConfiguration\n"});
  EXPECT_EQ(f.encoder.faacBitRate(), -1);  // the handle is gone
}

// A trailing frame is encoded only when more than half of its bytes exist.
TEST(AudioPath, TrailingPartialFrame) {
  for (auto [bytes, frames] : {std::pair<std::size_t, std::uint32_t>{16160, 50}, {16162, 51}}) {
    Fixture f;
    ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
    f.encode(Wav(8000, 1, Tone(8000, 1, bytes)));
    EXPECT_EQ(f.store.samples.sampleCount(), frames) << bytes;
  }
}

TEST(AudioPath, DataTagFoundInsideAnotherChunk) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  // A LIST chunk whose text happens to hold "data" and a length of 20000.
  std::vector<std::uint8_t> list;
  PutTag(list, "LIST");
  PutLe32(list, 12);
  PutTag(list, "INFO");
  PutTag(list, "data");
  PutLe32(list, 20000);
  f.encode(Wav(8000, 1, Tone(8000, 1, 48000), list));
  EXPECT_TRUE(f.notifier.messages().empty());
  EXPECT_EQ(f.store.samples.sampleCount(), FramesFor(20000, 160));
  EXPECT_EQ(f.store.samples.sampleCount(), 62u);
}

TEST(AudioPath, DataLengthBeyondTheFileIsCut) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  f.encode(Wav(8000, 1, Tone(8000, 1, 24000), {}, 0xFFFFFFF0u));
  EXPECT_EQ(f.store.samples.sampleCount(), FramesFor(24000, 160));
  EXPECT_EQ(f.store.samples.sampleCount(), 75u);
}

TEST(AudioPath, MissingFileShowsMessage) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  f.encoder.EncodeTemporaryWav(f.dir.file("nowhere"), f.notifier);
  EXPECT_EQ(f.notifier.messages(), std::vector<std::string>{kNoTemporaryFile});
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
}

TEST(AudioPath, NoPcmShowsMessage) {
  const std::vector<std::uint8_t> noTag = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
  std::vector<std::uint8_t> truncatedTag = noTag;
  truncatedTag.insert(truncatedTag.end(), {'d', 'a', 't', 'a', 0x10});
  for (const auto& file : {Wav(8000, 1, {}), noTag, truncatedTag, std::vector<std::uint8_t>{}}) {
    Fixture f;
    ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
    f.encode(file);
    EXPECT_EQ(f.notifier.messages(), std::vector<std::string>{kNoPcm}) << file.size();
    EXPECT_EQ(f.store.samples.sampleCount(), 0u);
  }
}

TEST(AudioPath, LessThanOneSecondGivesNoFramesAndNoMessage) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::Aac, 22050, 2, 22050, 2));
  f.encode(Wav(22050, 2, Tone(22050, 2, 88198)));
  EXPECT_TRUE(f.notifier.messages().empty());
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
  ASSERT_TRUE(f.open(AudioKind::Aac, 22050, 2, 22050, 2));
  f.encode(Wav(22050, 2, Tone(22050, 2, 88200)));  // exactly one second
  EXPECT_EQ(f.store.samples.sampleCount(), FramesFor(88200, 2048));
}

// FAAC holds frames back; the drain gives the track one sample per frame fed.
TEST(AudioPath, AacTrackHasOneSamplePerFrameFed) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::Aac, 8000, 1, 8000, 1));
  f.encode(Wav(8000, 1, Tone(8000, 1, 32000)));
  EXPECT_EQ(f.store.samples.sampleCount(), 16u);  // offsets 0 .. 30720 below 32000 - 1024
  std::uint32_t sum = 0;
  for (std::uint32_t size : f.store.samples.sampleSizes()) {
    EXPECT_GT(size, 0u);
    sum += size;
  }
  EXPECT_EQ(sum, f.store.samples.totalBytes());
  f.encoder.CloseAudioEncoder();
  EXPECT_EQ(f.store.samples.sampleCount(), 16u);  // kept for the writer until the next open
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
  EXPECT_EQ(f.store.kind, AudioKind::AmrNb);
}

}  // namespace
}  // namespace zel
