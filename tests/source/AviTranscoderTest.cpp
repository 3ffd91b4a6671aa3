#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "SourceMedia.h"
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

std::string Codecs(const std::string& path) {
  return test::Probe(path, {"-show_entries", "stream=codec_name"});
}

TEST(AviTranscoder, AviWithSoundBecomesWmv2AndWmav2) {
  TempDir dir;
  const std::string avi = dir.file("MOVIE.AVI");
  MakeMedia(Join({Video("320x240", "25", "2"),
                  Tone(44100, "2"),
                  {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-ac", "2", avi}}));
  const std::string wmv = dir.file("MOVIE.wmv");
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, wmv, notifier);
  EXPECT_TRUE(transcoder.Run());
  EXPECT_TRUE(notifier.messages().empty());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  const std::string codecs = Codecs(wmv);
  EXPECT_NE(codecs.find("codec_name=wmv2"), std::string::npos) << codecs;
  EXPECT_NE(codecs.find("codec_name=wmav2"), std::string::npos) << codecs;

  // The result opens as a conversion source with the input's properties.
  MediaSource source;
  ASSERT_TRUE(source.BuildConversionGraph(wmv, true, true, notifier));
  EXPECT_TRUE(source.info().hasAudio);
  EXPECT_TRUE(source.info().hasVideo);
  EXPECT_EQ(source.info().width, 320);
  EXPECT_EQ(source.info().height, 240);
  EXPECT_EQ(source.info().sampleRate, 44100);
  EXPECT_EQ(source.info().channels, 2);
  EXPECT_NEAR(source.info().durationHns, 20000000, 2000000);
}

// Captured AVI files may switch their MP3 sound from stereo to mono and back;
// every part is converted with its own layout.
TEST(AviTranscoder, SoundWhoseLayoutChangesMidway) {
  TempDir dir;
  MakeMedia(Join({Tone(44100, "1"), {"-ac", "2", "-c:a", "libmp3lame", dir.file("a.mp3")}}));
  MakeMedia(Join({Tone(44100, "1"), {"-ac", "1", "-c:a", "libmp3lame", dir.file("b.mp3")}}));
  std::vector<std::uint8_t> mixed = test::ReadFileBytes(dir.file("a.mp3"));
  for (const char* part : {"b.mp3", "a.mp3"}) {
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(dir.file(part));
    mixed.insert(mixed.end(), bytes.begin(), bytes.end());
  }
  test::WriteFileBytes(dir.file("mixed.mp3"), mixed);
  const std::string avi = dir.file("mixed.avi");
  MakeMedia(Join({Video("160x120", "25", "3"),
                  {"-i", dir.file("mixed.mp3"), "-c:v", "mpeg4", "-c:a", "copy", avi}}));
  const std::string wmv = dir.file("mixed.wmv");
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, wmv, notifier);
  EXPECT_TRUE(transcoder.Run());
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  MediaSource source;
  ASSERT_TRUE(source.BuildConversionGraph(wmv, true, true, notifier));
  EXPECT_NEAR(source.info().durationHns, 30000000, 3000000);
}

TEST(AviTranscoder, AbortStopsTheRun) {
  TempDir dir;
  const std::string avi = dir.file("clip.avi");
  MakeMedia(Join({Video("176x144", "15", "2"), {"-c:v", "mpeg4", avi}}));
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, dir.file("clip.wmv"), notifier);
  std::atomic<bool> abort{true};
  transcoder.SetAbortFlag(&abort);
  EXPECT_FALSE(transcoder.Run());
}

TEST(AviTranscoder, VideoOnlyAviIsWrittenWithoutSound) {
  TempDir dir;
  const std::string avi = dir.file("silent.avi");
  MakeMedia(Join({Video("176x144", "15", "1"), {"-c:v", "mpeg4", avi}}));
  const std::string wmv = dir.file("silent.wmv");
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, wmv, notifier);
  EXPECT_TRUE(transcoder.Run());
  EXPECT_TRUE(notifier.sawMessage("オーディオ出力の処理に失敗しました。"));
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  const std::string codecs = Codecs(wmv);
  EXPECT_NE(codecs.find("codec_name=wmv2"), std::string::npos) << codecs;
  EXPECT_EQ(codecs.find("wmav2"), std::string::npos) << codecs;
}

TEST(AviTranscoder, SoundOnlyAviIsWrittenWithoutVideo) {
  TempDir dir;
  const std::string avi = dir.file("voice.avi");
  MakeMedia(Join({Tone(8000, "1"), {"-c:a", "pcm_s16le", "-ac", "1", avi}}));
  const std::string wmv = dir.file("voice.wmv");
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, wmv, notifier);
  EXPECT_TRUE(transcoder.Run());
  // the missing pictures are declared, the sound is transcoded alone
  EXPECT_EQ(notifier.messages(), std::vector<std::string>{"ビデオ出力ピンの検索に失敗しました。"});
  EXPECT_EQ(test::DecodeErrors(wmv), "");
  const std::string codecs = Codecs(wmv);
  EXPECT_NE(codecs.find("codec_name=wmav2"), std::string::npos) << codecs;
  EXPECT_EQ(codecs.find("wmv2\n"), std::string::npos) << codecs;
}

TEST(AviTranscoder, GarbageIsRefusedWithAMessage) {
  TempDir dir;
  const std::string avi = dir.file("broken.avi");
  test::WriteFileBytes(avi, std::vector<std::uint8_t>(4000, 0x5a));
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, dir.file("broken.wmv"), notifier);
  EXPECT_FALSE(transcoder.Run());
  EXPECT_TRUE(notifier.sawMessage("サポートされていないコーデックが含まれています。"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("broken.wmv")));

  RecordingNotifier missing;
  AviTranscoder none(dir.file("missing.avi"), dir.file("missing.wmv"), missing);
  EXPECT_FALSE(none.Run());
  EXPECT_EQ(missing.messages().size(), 1u);
}

TEST(AviTranscoder, AnUnwritableDestinationFailsTheWriter) {
  TempDir dir;
  const std::string avi = dir.file("clip.avi");
  MakeMedia(Join({Video("176x144", "15", "1"),
                  Tone(22050, "1"),
                  {"-c:v", "mpeg4", "-c:a", "pcm_s16le", avi}}));
  RecordingNotifier notifier;
  AviTranscoder transcoder(avi, dir.file("no/such/folder/clip.wmv"), notifier);
  EXPECT_FALSE(transcoder.Run());
  EXPECT_TRUE(notifier.sawMessage("ASFファイルライタの生成に失敗しました。"));
}

}  // namespace
}  // namespace zel
