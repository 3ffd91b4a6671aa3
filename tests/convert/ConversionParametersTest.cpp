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

struct Prepared {
  bool ok = false;
  ConversionParameters params;
  AudioParameterBlock audio;
  VideoEncoderContext video;
  test::RecordingNotifier notifier;
};

// The settings after a start without setup.ini, changed by the case.
void Prepare(void (*change)(ConversionSettings&), Prepared& out) {
  ConversionSettings s;
  ApplyDefaultSettings(s);
  change(s);
  out.audio.bitRate = 12345;  // must be cleared by the reset
  out.params.width = 77;
  out.ok = PrepareConversion(s, out.params, EncoderBlocks{out.video, out.audio}, out.notifier);
}

struct Case {
  const char* name;
  void (*change)(ConversionSettings&);
  AudioKind audio;
  int rate, channels;
  VideoKind video;
  int width, height, frameRate;
  ContainerMode mode = ContainerMode::Both;
  int thumbWidth = 0, thumbHeight = 0;
  bool report = false;
};

// Every index resolves through its list; one outside a list takes the first
// entry. The rate and channel lists follow the audio format, the frame sizes
// come from the MPEG-4 list for both video formats.
TEST(ConversionParametersTest, SettingsResolveThroughTheLists) {
  const auto Aac = AudioKind::Aac, AmrNb = AudioKind::AmrNb, NoAudio = AudioKind::None;
  const auto Mpeg4 = VideoKind::Mpeg4, H263 = VideoKind::H263, NoVideo = VideoKind::None;
  using enum ContainerMode;
  using S = ConversionSettings;
  // clang-format off
  const Case cases[] = {
      {"fresh start", [](S&) {}, Aac, 8000, 1, Mpeg4, 320, 240, 0},
      {"aac 24000 stereo", [](S& s) { s.samplerate = 3, s.channels = 1; },
       Aac, 24000, 2, Mpeg4, 320, 240, 0},
      {"aac 16000 mono", [](S& s) { s.samplerate = 1; },
       Aac, 16000, 1, Mpeg4, 320, 240, 0},
      {"amr is 8000 Hz mono", [](S& s) { s.mpeg_audio = 2, s.samplerate = 3, s.channels = 1; },
       AmrNb, 8000, 1, Mpeg4, 320, 240, 0},
      {"no audio, no video", [](S& s) { s.mpeg_audio = s.mpeg_video = 0, s.samplerate = 2; },
       NoAudio, 0, 0, NoVideo, 0, 0, 0},
      {"unknown formats", [](S& s) { s.mpeg_audio = -3, s.mpeg_video = 7; },
       NoAudio, 0, 0, NoVideo, 0, 0, 0},
      {"h263 128x96", [](S& s) { s.mpeg_video = 1, s.framesize = 0; },
       Aac, 8000, 1, H263, 128, 96, 0},
      {"h263 176x144 at 15 fps", [](S& s) { s.mpeg_video = s.framesize = 1, s.framerate = 15; },
       Aac, 8000, 1, H263, 176, 144, 15},
      {"h263 320x240", [](S& s) { s.mpeg_video = 1; },
       Aac, 8000, 1, H263, 320, 240, 0},
      {"indexes outside their lists", [](S& s) {
         s.samplerate = 99, s.channels = -3, s.framesize = 9, s.framerate = -4;
         s.capturesize = INT_MIN;
       }, Aac, 8000, 1, Mpeg4, 128, 96, 0},
      {"3gp only, 64x48 report", [](S& s) { s.file3g2 = 0, s.capturesize = s.logfile = 1; },
       Aac, 8000, 1, Mpeg4, 320, 240, 0, ThreeGpOnly, 64, 48, true},
      {"3g2 only, 128x96", [](S& s) { s.file3gp = 0, s.capturesize = 2; },
       Aac, 8000, 1, Mpeg4, 320, 240, 0, ThreeG2Only, 128, 96},
      {"any non-zero flag", [](S& s) { s.file3gp = 5, s.file3g2 = -1, s.capturesize = 3; },
       Aac, 8000, 1, Mpeg4, 320, 240, 0, Both, 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepared p;
    Prepare(c.change, p);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.notifier.messages().empty());
    const ConversionParameters& r = p.params;
    EXPECT_EQ(
        std::make_tuple(r.audioKind, r.sampleRate, r.channels, r.videoKind, r.width, r.height),
        std::make_tuple(c.audio, c.rate, c.channels, c.video, c.width, c.height));
    EXPECT_EQ(
        std::make_tuple(r.frameRate, r.containerMode, r.thumbWidth, r.thumbHeight, r.reportEnabled),
        std::make_tuple(c.frameRate, c.mode, c.thumbWidth, c.thumbHeight, c.report));
    // Handed on: the reset cleared the audio block, then rate and channels went in.
    EXPECT_EQ(std::make_tuple(p.audio.sampleRate, p.audio.channels),
              std::make_tuple(c.rate, c.channels));
    EXPECT_EQ(p.audio.bitRate, 0);
    ASSERT_NE(p.video.get(), nullptr);
    EXPECT_EQ(p.video.kind(), c.video == H263 ? H263 : Mpeg4);
    EXPECT_EQ(p.video.get()->width, c.width);
    EXPECT_EQ(p.video.get()->height, c.height);
  }
}

TEST(ConversionParametersTest, NoContainerKindRefuses) {
  Prepared p;
  Prepare([](ConversionSettings& s) { s.file3gp = 0, s.file3g2 = 0; }, p);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.notifier.messages(),
            std::vector<std::string>{"変換するファイルが指定されていません。"});
  EXPECT_EQ(p.params.width, 77);      // nothing resolved
  EXPECT_EQ(p.audio.bitRate, 12345);  // nothing reset
}

}  // namespace
}  // namespace zel
