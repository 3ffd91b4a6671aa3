#include <gtest/gtest.h>

#include <filesystem>

#include "SourceMedia.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

using test::Join;
using test::MakeMedia;
using test::TempDir;
using test::Tone;
using test::Video;

TEST(InputCheck, TakesTheKnownExtensionsWhateverTheirCase) {
  const struct {
    const char* path;
    bool accepted;
  } cases[] = {
      {"/m/movie.WMV", true},  {"/m/a.avi", true},     {"/m/a.Avi", true},
      {"/m/a.mpa", true},      {"/m/a.wav", true},     {"/m/a.WmA", true},
      {"/m/song.mp3", false},  {"/m/clip.mov", false}, {"/m/noextension", false},
      {"/m/a.wmv.txt", false}, {"/m.wmv/file", false}, {"/m/a.", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSupportedInput(c.path), c.accepted) << c.path;
  }
}

TEST(InputCheck, MpegIsTakenOnlyWithLayerOneOrTwoAudio) {
  TempDir dir;
  const std::string mp2 = dir.file("CLIP.MPG");
  MakeMedia(Join({Video("176x144", "25", "1"),
                  Tone(44100, "1"),
                  {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg", mp2}}));
  const std::string mp3 = dir.file("clip3.mpeg");
  MakeMedia(Join({Video("176x144", "25", "1"),
                  Tone(44100, "1"),
                  {"-c:v", "mpeg1video", "-c:a", "libmp3lame", "-f", "mpeg", mp3}}));
  const std::string silent = dir.file("silent.mpg");
  MakeMedia(Join({Video("176x144", "25", "1"), {"-c:v", "mpeg1video", "-f", "mpeg", silent}}));

  EXPECT_EQ(MpegAudioProbe(mp2), MpegAudioLayer::Layer2);
  EXPECT_EQ(MpegAudioProbe(mp3), MpegAudioLayer::Mp3);
  EXPECT_EQ(MpegAudioProbe(silent), MpegAudioLayer::Undetermined);
  EXPECT_EQ(MpegAudioProbe(dir.file("missing.mpg")), MpegAudioLayer::Undetermined);
  EXPECT_TRUE(IsSupportedInput(mp2));
  EXPECT_FALSE(IsSupportedInput(mp3));
  EXPECT_FALSE(IsSupportedInput(silent));
  EXPECT_FALSE(IsSupportedInput(dir.file("missing.mpg")));
}

TEST(InputCheck, OnlyLowerOrUpperAviIsTranscoded) {
  EXPECT_TRUE(NeedsAviTranscoding("/m/movie.avi"));
  EXPECT_TRUE(NeedsAviTranscoding("/m/MOVIE.AVI"));
  EXPECT_FALSE(NeedsAviTranscoding("/m/movie.Avi"));
  EXPECT_FALSE(NeedsAviTranscoding("/m/movie.wmv"));
  EXPECT_FALSE(NeedsAviTranscoding("/m/avi"));
}

TEST(InputCheck, TemporaryWmvIsNamedAfterTheInput) {
  EXPECT_EQ(TemporaryWmvPath("/media/clip.avi", "/w"), "/w/clip.wmv");
  EXPECT_EQ(TemporaryWmvPath("/media/back\\slash.avi", "/w"), "/w/back\\slash.wmv");
  EXPECT_EQ(TemporaryWmvPath("/media/my.trip.AVI", "/w/"), "/w/my.trip.wmv");
  EXPECT_EQ(TemporaryWmvPath("noext", "/w"), "/w/noext.wmv");
}

}  // namespace
}  // namespace zel
