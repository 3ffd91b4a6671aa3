#include <gtest/gtest.h>

#include <climits>

#include "convert/ConversionParameters.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "common/TestSupport.h"
#include "convert/VideoEncoderContext.h"
#include "settings/ConversionSettings.h"

namespace zel {
namespace {

constexpr const char* kNoOutputFile = "変換するファイルが指定されていません。";

// The settings after a start without setup.ini.
ConversionSettings FreshSettings() {
  ConversionSettings s;
  s.result = "/tmp";
  ApplyDefaultSettings(s);
  return s;
}

struct Prepared {
  bool ok = false;
  ConversionParameters params;
  AudioParameterBlock audio;
  VideoEncoderContext video;
  test::RecordingNotifier notifier;
};

void Prepare(const ConversionSettings& s, Prepared& out) {
  out.audio.bitRate = 12345;  // must be cleared by the reset
  out.ok = PrepareConversion(s, out.params, EncoderBlocks{out.video, out.audio}, out.notifier);
}

TEST(ConversionParametersTest, FreshStartSettings) {
  Prepared p;
  Prepare(FreshSettings(), p);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.params.audioKind, AudioKind::Aac);
  EXPECT_EQ(p.params.sampleRate, 8000);
  EXPECT_EQ(p.params.channels, 1);
  EXPECT_EQ(p.params.videoKind, VideoKind::Mpeg4);
  EXPECT_EQ(p.params.width, 320);
  EXPECT_EQ(p.params.height, 240);
  EXPECT_EQ(p.params.frameRate, 0);
  EXPECT_EQ(p.params.containerMode, ContainerMode::Both);
  EXPECT_EQ(p.params.thumbWidth, 0);
  EXPECT_EQ(p.params.thumbHeight, 0);
  EXPECT_FALSE(p.params.reportEnabled);
  EXPECT_TRUE(p.notifier.messages().empty());
  // Rate and channels reach the audio block after the reset cleared it.
  EXPECT_EQ(p.audio.sampleRate, 8000);
  EXPECT_EQ(p.audio.channels, 1);
  EXPECT_EQ(p.audio.bitRate, 0);
  ASSERT_NE(p.video.get(), nullptr);
  EXPECT_EQ(p.video.kind(), VideoKind::Mpeg4);
  EXPECT_EQ(p.video.get()->width, 320);
  EXPECT_EQ(p.video.get()->height, 240);
}

TEST(ConversionParametersTest, AacRatesAndChannels) {
  const int rates[] = {8000, 16000, 22050, 24000};
  for (int rate = 0; rate < 4; ++rate) {
    for (int ch = 0; ch < 2; ++ch) {
      ConversionSettings s = FreshSettings();
      s.samplerate = rate;
      s.channels = ch;
      Prepared p;
      Prepare(s, p);
      ASSERT_TRUE(p.ok);
      EXPECT_EQ(p.params.sampleRate, rates[rate]);
      EXPECT_EQ(p.params.channels, ch + 1);
      EXPECT_EQ(p.audio.sampleRate, rates[rate]);
      EXPECT_EQ(p.audio.channels, ch + 1);
    }
  }
}

TEST(ConversionParametersTest, AmrIsAlways8000HzMono) {
  for (int rate : {0, 1, 3, 9}) {
    for (int ch : {0, 1, -2}) {
      ConversionSettings s = FreshSettings();
      s.mpeg_audio = 2;
      s.samplerate = rate;
      s.channels = ch;
      Prepared p;
      Prepare(s, p);
      ASSERT_TRUE(p.ok);
      EXPECT_EQ(p.params.audioKind, AudioKind::AmrNb);
      EXPECT_EQ(p.params.sampleRate, 8000);
      EXPECT_EQ(p.params.channels, 1);
    }
  }
}

TEST(ConversionParametersTest, NoAudioNoVideo) {
  ConversionSettings s = FreshSettings();
  s.mpeg_audio = 0;
  s.mpeg_video = 0;
  s.samplerate = 2;
  s.channels = 1;
  Prepared p;
  Prepare(s, p);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.params.audioKind, AudioKind::None);
  EXPECT_EQ(p.params.videoKind, VideoKind::None);
  EXPECT_EQ(p.params.sampleRate, 0);
  EXPECT_EQ(p.params.channels, 0);
  EXPECT_EQ(p.params.width, 0);
  EXPECT_EQ(p.params.height, 0);
  EXPECT_TRUE(p.notifier.messages().empty());
}

TEST(ConversionParametersTest, H263FrameSizes) {
  struct Case {
    int framesize, width, height;
  } cases[] = {{0, 128, 96}, {1, 176, 144}, {2, 320, 240}};
  for (const Case& c : cases) {
    ConversionSettings s = FreshSettings();
    s.mpeg_video = 1;
    s.framesize = c.framesize;
    Prepared p;
    Prepare(s, p);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.params.videoKind, VideoKind::H263);
    EXPECT_EQ(p.params.width, c.width);
    EXPECT_EQ(p.params.height, c.height);
    EXPECT_EQ(p.video.kind(), VideoKind::H263);
  }
}

TEST(ConversionParametersTest, CaptureSizesAndReport) {
  struct Case {
    int capturesize, width, height;
  } cases[] = {{0, 0, 0}, {1, 64, 48}, {2, 128, 96}, {3, 0, 0}, {-1, 0, 0}};
  for (const Case& c : cases) {
    ConversionSettings s = FreshSettings();
    s.capturesize = c.capturesize;
    s.logfile = 1;
    Prepared p;
    Prepare(s, p);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.params.thumbWidth, c.width) << c.capturesize;
    EXPECT_EQ(p.params.thumbHeight, c.height) << c.capturesize;
    EXPECT_TRUE(p.params.reportEnabled);
  }
}

TEST(ConversionParametersTest, ContainerModes) {
  struct Case {
    int file3gp, file3g2;
    ContainerMode mode;
  } cases[] = {{1, 0, ContainerMode::ThreeGpOnly},
               {0, 1, ContainerMode::ThreeG2Only},
               {1, 1, ContainerMode::Both},
               {5, -1, ContainerMode::Both}};
  for (const Case& c : cases) {
    ConversionSettings s = FreshSettings();
    s.file3gp = c.file3gp;
    s.file3g2 = c.file3g2;
    Prepared p;
    Prepare(s, p);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.params.containerMode, c.mode);
  }
}

TEST(ConversionParametersTest, NoContainerKindRefuses) {
  ConversionSettings s = FreshSettings();
  s.file3gp = 0;
  s.file3g2 = 0;
  Prepared p;
  p.params.width = 77;
  Prepare(s, p);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.notifier.messages(), std::vector<std::string>{kNoOutputFile});
  EXPECT_EQ(p.params.width, 77);      // nothing resolved
  EXPECT_EQ(p.audio.bitRate, 12345);  // nothing reset
}

TEST(ConversionParametersTest, HostileSettingsResolveToListEntries) {
  test::TempDir dir;
  const std::string ini =
      "[zel]\nmpeg_audio=-3\nmpeg_video=7\nframesize=9\nsamplerate=99\ncapturesize=-1\n"
      "measure=7\nsplittime=-5\nframerate=99999999999999999999\nchannels=junk\n"
      "3gpfile=1\n3g2file=abc\n";
  test::WriteFileBytes(dir.path() / "setup.ini", std::vector<std::uint8_t>(ini.begin(), ini.end()));
  ConversionSettings s;
  LoadSettings(s, dir.path());
  Prepared p;
  Prepare(s, p);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.params.audioKind, AudioKind::None);
  EXPECT_EQ(p.params.videoKind, VideoKind::None);
  EXPECT_EQ(p.params.sampleRate, 0);
  EXPECT_EQ(p.params.channels, 0);
  EXPECT_EQ(p.params.frameRate, 0);
  EXPECT_EQ(p.params.thumbWidth, 0);
  EXPECT_EQ(p.params.containerMode, ContainerMode::ThreeGpOnly);

  // The same indexes with real formats: each lands on its list's first entry.
  s.mpeg_audio = 1;
  s.mpeg_video = 2;
  s.framerate = -4;
  s.capturesize = INT_MIN;
  Prepared q;
  Prepare(s, q);
  ASSERT_TRUE(q.ok);
  EXPECT_EQ(q.params.sampleRate, 8000);
  EXPECT_EQ(q.params.channels, 1);
  EXPECT_EQ(q.params.width, 128);
  EXPECT_EQ(q.params.height, 96);
  EXPECT_EQ(q.params.frameRate, 0);
  EXPECT_EQ(q.params.thumbWidth, 0);
  EXPECT_TRUE(q.notifier.messages().empty());
}

TEST(ConversionParametersTest, HeightTable) {
  const int table[][2] = {{128, 96},    {176, 144}, {320, 240}, {352, 288}, {704, 576},
                          {1408, 1152}, {640, 0},   {0, 0},     {-128, 0}};
  for (const auto& row : table) EXPECT_EQ(FrameHeightForWidth(row[0]), row[1]) << row[0];
}

TEST(ConversionParametersTest, FrameRateAsStored) {
  ConversionSettings s = FreshSettings();
  s.framerate = 15;
  Prepared p;
  Prepare(s, p);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.params.frameRate, 15);
}

TEST(ConversionParametersTest, SetConversionParametersStoresAndHandsOn) {
  ConversionParameters params;
  params.thumbWidth = 64;
  AudioParameterBlock audio;
  audio.frameLength = 1024;
  VideoEncoderContext video;
  SetConversionParameters(params, EncoderBlocks{video, audio}, AudioKind::AmrNb, VideoKind::H263,
                          8000, 1, 10, 176, 144, ContainerMode::ThreeG2Only);
  EXPECT_EQ(params.audioKind, AudioKind::AmrNb);
  EXPECT_EQ(params.videoKind, VideoKind::H263);
  EXPECT_EQ(params.sampleRate, 8000);
  EXPECT_EQ(params.channels, 1);
  EXPECT_EQ(params.frameRate, 10);
  EXPECT_EQ(params.width, 176);
  EXPECT_EQ(params.height, 144);
  EXPECT_EQ(params.containerMode, ContainerMode::ThreeG2Only);
  EXPECT_EQ(params.thumbWidth, 64);  // not one of the eight
  EXPECT_EQ(audio.frameLength, 0);
  EXPECT_EQ(audio.sampleRate, 8000);
  EXPECT_EQ(audio.channels, 1);
  ASSERT_NE(video.get(), nullptr);
  EXPECT_EQ(video.kind(), VideoKind::H263);
  EXPECT_EQ(video.get()->width, 176);
  EXPECT_EQ(video.get()->height, 144);
}

}  // namespace
}  // namespace zel
