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
using Bytes = std::vector<std::uint8_t>;

constexpr char kNoPcm[] = "m_prev_buffer_sizeサイズが0です";

// A 440 Hz tone, 16-bit little-endian, channels interleaved.
Bytes Tone(int rate, int channels, std::size_t bytes) {
  Bytes pcm(bytes);
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    const std::size_t frame = i / (2 * channels);
    const auto s =
        static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 440.0 * frame / rate));
    pcm[i] = static_cast<std::uint8_t>(s & 0xFF);
    pcm[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
  return pcm;
}

Bytes Wav(int rate, int channels, const Bytes& pcm, const Bytes& beforeData = {},
          std::int64_t dataLength = -1) {
  return test::WavBytes(rate, channels, pcm, beforeData, dataLength);
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
  bool encode(const Bytes& wavFile) {
    test::WriteFileBytes(TemporaryWavPath(dir.path().string(), state.segmentIndex), wavFile);
    return encoder.EncodeTemporaryWav(dir.path().string(), notifier);
  }
};

// Rate and channels of 0 take the source's; AMR-NB is 8000 Hz mono; the
// block's old values never survive.
TEST(AudioPath, SegmentSetUp) {
  struct Case {
    AudioKind kind;
    int rate, channels, sourceRate, sourceChannels;
    int wantRate, wantChannels, wantFrameLength, wantBitRate, wantRatio;
  };
  using enum AudioKind;
  const Case cases[] = {
      {Aac, 8000, 1, 44100, 2, 8000, 1, 1024, 32000, 1814},
      {Aac, 0, 0, 22050, 2, 22050, 2, 1024, 64000, 10000},
      {Aac, 16000, 2, 48000, 1, 16000, 2, 1024, 64000, 3333},
      {Aac, 24000, 0, 8000, 1, 24000, 1, 1024, 64000, 30000},
      {Aac, 5000, 1, 8000, 1, 5000, 1, 1024, 32000, 6250},      // below any offered rate
      {Aac, 11025, 1, 11025, 1, 11025, 1, 1024, 64000, 10000},  // 6 bit/s per Hz passes 64000
      {Aac, 10000, 1, 10000, 1, 10000, 1, 1024, 32000, 10000},
      {AmrNb, 8000, 1, 44100, 2, 8000, 1, 160, 48000, 1814},
      {AmrNb, 0, 0, 22050, 2, 8000, 1, 160, 48000, 3628},
      {Aac, 8000, 1, 0, 0, 8000, 1, 1024, 32000, 0},  // unknown source
  };
  for (const Case& c : cases) {
    AudioParameterBlock block;
    block.sampleRate = 11025;
    block.channels = 2;
    AudioSegmentInfo info;
    SetUpAudioSegment(block, c.kind, c.rate, c.channels, c.sourceRate, c.sourceChannels, info);
    SCOPED_TRACE(std::to_string(c.rate) + " from " + std::to_string(c.sourceRate));
    EXPECT_EQ(std::make_tuple(block.sampleRate, block.channels, block.frameLength, block.bitRate),
              std::make_tuple(c.wantRate, c.wantChannels, c.wantFrameLength, c.wantBitRate));
    EXPECT_EQ(std::make_tuple(info.sourceRate, info.sourceChannels, info.targetRate,
                              info.targetChannels, info.bitRate, info.rateRatio),
              std::make_tuple(c.sourceRate, c.sourceChannels, c.wantRate, c.wantChannels,
                              c.wantBitRate, c.wantRatio));
  }
}

TEST(AudioPath, AacStereo22050TakesPerChannelRateAndTwoChannelFrames) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::Aac, 22050, 2, 22050, 2));
  EXPECT_EQ(f.encoder.inputSamples(), 2048u);
  EXPECT_EQ(f.encoder.faacBitRate(), 64000);
  // AudioSpecificConfig: AAC-LC (2), 22050 Hz (index 7), 2 channels.
  EXPECT_EQ(f.block.decoderConfig, (Bytes{0x13, 0x90}));
  EXPECT_TRUE(f.store.present);
  EXPECT_EQ(f.store.kind, AudioKind::Aac);
  EXPECT_EQ(f.store.params, &f.block);
  EXPECT_TRUE(f.notifier.messages().empty());
}

// FAAC opens for no channels but refuses to be configured for them.
TEST(AudioPath, RefusedAacConfigurationShowsMessage) {
  Fixture f;
  EXPECT_FALSE(f.open(AudioKind::Aac, 0, 0, 0, 0));
  EXPECT_EQ(f.notifier.messages(), std::vector<std::string>{"faacEncSetConfiguration\n"});
  EXPECT_EQ(f.encoder.faacBitRate(), -1);  // the handle is gone
}

// Frames start at byte offsets 0, 2F, 4F... below length - F (F samples a
// frame): a trailing frame counts when more than half of it exists. The PCM
// starts after the first "data" tag, wherever it lies, its length cut to the
// file; less than one second of source gives no frames. A WAV without PCM
// fails the encode, so that the driver never writes the segment as one with
// sound.
TEST(AudioPath, FramesTakenFromTheTemporaryWav) {
  // a LIST chunk whose text holds "data" and a length of 20000
  const Bytes list = test::Hex("'LIST' 0c000000 'INFO' 'data' 204e0000");
  const Bytes noTag = test::Hex("'RIFF' 04000000 'WAVE'");
  struct Case {
    const char* name;
    AudioKind kind;
    int rate, channels, sourceRate, sourceChannels;
    Bytes file;
    std::uint32_t frames;
    const char* message;
  };
  using enum AudioKind;
  const Case cases[] = {
      {"one second amr", AmrNb, 8000, 1, 8000, 1, Wav(8000, 1, Tone(8000, 1, 32000)), 100, nullptr},
      // 352800 bytes become 63997 after the rate and 31998 after the channels.
      {"44100 stereo to amr", AmrNb, 0, 0, 44100, 2, Wav(44100, 2, Tone(44100, 2, 352800)), 100,
       nullptr},
      {"unknown source format", AmrNb, 0, 0, 0, 0, Wav(8000, 1, Tone(8000, 1, 32000)), 0, nullptr},
      {"half a frame short", AmrNb, 8000, 1, 8000, 1, Wav(8000, 1, Tone(8000, 1, 16160)), 50,
       nullptr},
      {"more than half a frame", AmrNb, 8000, 1, 8000, 1, Wav(8000, 1, Tone(8000, 1, 16162)), 51,
       nullptr},
      {"data tag inside a LIST chunk", AmrNb, 8000, 1, 8000, 1,
       Wav(8000, 1, Tone(8000, 1, 48000), list), 62, nullptr},
      {"data length beyond the file", AmrNb, 8000, 1, 8000, 1,
       Wav(8000, 1, Tone(8000, 1, 24000), {}, 0xFFFFFFF0u), 75, nullptr},
      {"no pcm", AmrNb, 8000, 1, 8000, 1, Wav(8000, 1, {}), 0, kNoPcm},
      {"no data tag", AmrNb, 8000, 1, 8000, 1, noTag, 0, kNoPcm},
      {"tag without length", AmrNb, 8000, 1, 8000, 1, test::Hex("'RIFF' 04000000 'WAVE' 'data' 10"),
       0, kNoPcm},
      {"empty file", AmrNb, 8000, 1, 8000, 1, {}, 0, kNoPcm},
      {"two bytes short of a second", Aac, 22050, 2, 22050, 2, Wav(22050, 2, Tone(22050, 2, 88198)),
       0, nullptr},
      {"one second aac stereo", Aac, 22050, 2, 22050, 2, Wav(22050, 2, Tone(22050, 2, 88200)), 22,
       nullptr},
      // FAAC holds frames back; draining gives one sample per frame fed.
      {"aac mono", Aac, 8000, 1, 8000, 1, Wav(8000, 1, Tone(8000, 1, 32000)), 16, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    ASSERT_TRUE(f.open(c.kind, c.rate, c.channels, c.sourceRate, c.sourceChannels));
    EXPECT_EQ(f.encode(c.file), c.message == nullptr);
    EXPECT_EQ(f.notifier.messages(),
              c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(f.store.samples.sampleCount(), c.frames);
    std::uint32_t sum = 0;
    for (std::uint32_t size : f.store.samples.sampleSizes()) sum += size;
    EXPECT_EQ(sum, f.store.samples.totalBytes());
  }
}

// 12.2 kbit/s storage-format frames: a 0x3C header byte and 31 bytes.
TEST(AudioPath, AmrFramesAre32BytesAndTheCaptionNamesTheSegment) {
  Fixture f;
  RecordingNotifier window;
  f.state.statusWindow = &window;
  f.state.segmentIndex = 3;
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  EXPECT_EQ(f.encoder.amrMode(), 7);
  EXPECT_TRUE(f.block.decoderConfig.empty());
  f.encode(Wav(8000, 1, Tone(8000, 1, 32000)));
  EXPECT_EQ(window.captions(), std::vector<std::string>{"file:000003 audio 変換中"});
  ASSERT_EQ(f.store.samples.totalBytes(), 3200u);
  for (std::uint32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(f.store.samples.sampleSizes()[i], 32u);
    EXPECT_EQ(f.store.samples.data()[32 * i], 0x3C) << i;
  }
}

// Closing keeps the track for the writer until the next open; a missing file
// is told and fails the encode.
TEST(AudioPath, TrackStaysUntilTheNextOpen) {
  Fixture f;
  ASSERT_TRUE(f.open(AudioKind::Aac, 8000, 1, 8000, 1));
  f.encode(Wav(8000, 1, Tone(8000, 1, 32000)));
  f.encoder.CloseAudioEncoder();
  EXPECT_EQ(f.store.samples.sampleCount(), 16u);
  ASSERT_TRUE(f.open(AudioKind::AmrNb, 8000, 1, 8000, 1));
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
  EXPECT_EQ(f.store.kind, AudioKind::AmrNb);
  EXPECT_FALSE(f.encoder.EncodeTemporaryWav(f.dir.file("nowhere"), f.notifier));
  EXPECT_EQ(f.notifier.messages(),
            std::vector<std::string>{"テンポラリファイルの取得に失敗しました。"});
  EXPECT_EQ(f.store.samples.sampleCount(), 0u);
}

}  // namespace
}  // namespace zel
