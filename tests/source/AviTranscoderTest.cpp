#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

using test::Join;
using test::MakeMedia;
using test::RecordingNotifier;
using test::TempDir;
using test::Tone;
using test::Video;

// Whatever the AVI holds becomes wmv2 and wmav2; a missing part is told.
TEST(AviTranscoder, StreamsBecomeWmv2AndWmav2) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* codecs;
    const char* message;
  };
  const Case cases[] = {
      {"MOVIE.AVI",
       Join({Video("320x240", "25", "2"),
             Tone(44100, "2"),
             {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-ac", "2"}}),
       "wmav2 wmv2", nullptr},
      {"silent.avi", Join({Video("176x144", "15", "1"), {"-c:v", "mpeg4"}}), "wmv2",
       "オーディオ出力の処理に失敗しました。"},
      {"voice.avi", Join({Tone(8000, "1"), {"-c:a", "pcm_s16le", "-ac", "1"}}), "wmav2",
       "ビデオ出力ピンの検索に失敗しました。"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeMedia(Join({c.args, {dir.file(c.name)}}));
    const std::string wmv = dir.file(std::string(c.name) + ".wmv");
    RecordingNotifier notifier;
    AviTranscoder transcoder(dir.file(c.name), wmv, notifier);
    EXPECT_TRUE(transcoder.Run());
    EXPECT_EQ(notifier.messages(),
              c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(test::DecodeErrors(wmv), "");
    EXPECT_EQ(test::Probe(wmv, "stream=codec_name"), c.codecs);
  }
  // The result opens as a conversion source with the input's properties.
  MediaSource source;
  RecordingNotifier notifier;
  ASSERT_TRUE(source.BuildConversionGraph(dir.file("MOVIE.AVI.wmv"), true, true, notifier));
  const MediaInfo& info = source.info();
  EXPECT_EQ(std::make_tuple(info.hasAudio, info.hasVideo, info.width, info.height, info.sampleRate,
                            info.channels),
            std::make_tuple(true, true, 320, 240, 44100, 2));
  EXPECT_NEAR(info.durationHns, 20000000, 2000000);
}

// Captured AVI files may switch their MP3 sound from stereo to mono and back;
// every part is converted with its own layout.
TEST(AviTranscoder, SoundWhoseLayoutChangesMidway) {
  TempDir dir;
  MakeMedia(Join({Tone(44100, "1"), {"-ac", "2", "-c:a", "libmp3lame", dir.file("a.mp3")}}));
  MakeMedia(Join({Tone(44100, "1"), {"-ac", "1", "-c:a", "libmp3lame", dir.file("b.mp3")}}));
  std::vector<std::uint8_t> mixed;
  for (const char* part : {"a.mp3", "b.mp3", "a.mp3"}) {
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(dir.file(part));
    mixed.insert(mixed.end(), bytes.begin(), bytes.end());
  }
  test::WriteFileBytes(dir.file("mixed.mp3"), mixed);
  const std::string avi = dir.file("mixed.avi");
  MakeMedia(Join({Video("160x120", "25", "3"),
                  {"-i", dir.file("mixed.mp3"), "-c:v", "mpeg4", "-c:a", "copy", avi}}));
  const std::string wmv = dir.file("mixed.wmv");
  RecordingNotifier notifier;
  EXPECT_TRUE(AviTranscoder(avi, wmv, notifier).Run());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  MediaSource source;
  ASSERT_TRUE(source.BuildConversionGraph(wmv, true, true, notifier));
  EXPECT_NEAR(source.info().durationHns, 30000000, 3000000);
}

// An abort, an unreadable input and an unwritable destination each fail the
// run, the last two with their message and without a result.
TEST(AviTranscoder, FailuresStopTheRun) {
  TempDir dir;
  const std::string avi = dir.file("clip.avi");
  MakeMedia(Join({Video("176x144", "15", "1"),
                  Tone(22050, "1"),
                  {"-c:v", "mpeg4", "-c:a", "pcm_s16le", avi}}));
  RecordingNotifier notifier;
  AviTranscoder aborted(avi, dir.file("clip.wmv"), notifier);
  std::atomic<bool> abort{true};
  aborted.SetAbortFlag(&abort);
  EXPECT_FALSE(aborted.Run());

  RecordingNotifier unwritable;
  EXPECT_FALSE(AviTranscoder(avi, dir.file("no/such/folder/clip.wmv"), unwritable).Run());
  EXPECT_TRUE(unwritable.sawMessage("ASFファイルライタの生成に失敗しました。"));

  test::WriteFileBytes(dir.file("broken.avi"), std::vector<std::uint8_t>(4000, 0x5a));
  RecordingNotifier broken;
  EXPECT_FALSE(AviTranscoder(dir.file("broken.avi"), dir.file("broken.wmv"), broken).Run());
  EXPECT_TRUE(broken.sawMessage("サポートされていないコーデックが含まれています。"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("broken.wmv")));

  RecordingNotifier missing;
  EXPECT_FALSE(AviTranscoder(dir.file("missing.avi"), dir.file("missing.wmv"), missing).Run());
  EXPECT_EQ(missing.messages().size(), 1u);
}

}  // namespace
}  // namespace zel
