#include <gtest/gtest.h>

#include <filesystem>

#include "common/MediaFixtures.h"
#include "source/AviTranscoder.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

using test::Join;
using test::MakeMedia;
using test::Tone;
using test::Video;

// Extensions in any case; only "avi" and "AVI" go through the WMV
// pre-conversion, which writes into the work folder under the input's name
// (a backslash is part of a Linux file name).
TEST(InputCheck, ExtensionsDecideTakingAndTranscoding) {
  struct Case {
    const char* path;
    bool accepted, transcoded;
  };
  const Case cases[] = {
      {"/m/movie.WMV", true, false},  {"/m/a.avi", true, true},
      {"/m/A.AVI", true, true},       {"/m/a.Avi", true, false},
      {"/m/a.mpa", true, false},      {"/m/a.wav", true, false},
      {"/m/a.WmA", true, false},      {"/m/song.mp3", false, false},
      {"/m/clip.mov", false, false},  {"/m/noextension", false, false},
      {"/m/a.wmv.txt", false, false}, {"/m.wmv/file", false, false},
      {"/m/a.", false, false},        {"/m/avi", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSupportedInput(c.path), c.accepted) << c.path;
    EXPECT_EQ(NeedsAviTranscoding(c.path), c.transcoded) << c.path;
  }
  for (auto [input, wmv] : {std::pair{"/media/clip.avi", "/w/clip.wmv"},
                            {"/media/back\\slash.avi", "/w/back\\slash.wmv"},
                            {"/media/my.trip.AVI", "/w/my.trip.wmv"},
                            {"noext", "/w/noext.wmv"}})
    EXPECT_EQ(TemporaryWmvPath(input, "/w"), wmv) << input;
}

TEST(InputCheck, MpegIsTakenOnlyWithLayerOneOrTwoAudio) {
  test::TempDir dir;
  const std::pair<const char*, std::vector<std::string>> files[] = {
      {"CLIP.MPG", Join({Tone(44100, "1"), {"-c:a", "mp2"}})},
      {"clip3.mpeg", Join({Tone(44100, "1"), {"-c:a", "libmp3lame"}})},
      {"silent.mpg", {}},
  };
  for (const auto& [name, audio] : files)
    MakeMedia(Join({Video("176x144", "25", "1"),
                    audio,
                    {"-c:v", "mpeg1video", "-f", "mpeg", dir.file(name)}}));
  EXPECT_EQ(MpegAudioProbe(dir.file("CLIP.MPG")), MpegAudioLayer::Layer2);
  EXPECT_EQ(MpegAudioProbe(dir.file("clip3.mpeg")), MpegAudioLayer::Mp3);
  EXPECT_EQ(MpegAudioProbe(dir.file("silent.mpg")), MpegAudioLayer::Undetermined);
  EXPECT_EQ(MpegAudioProbe(dir.file("missing.mpg")), MpegAudioLayer::Undetermined);
  EXPECT_TRUE(IsSupportedInput(dir.file("CLIP.MPG")));
  for (const char* refused : {"clip3.mpeg", "silent.mpg", "missing.mpg"})
    EXPECT_FALSE(IsSupportedInput(dir.file(refused))) << refused;

  // With anyinput every file with decodable sound or pictures is taken; a
  // known extension without them stays refused.
  MakeMedia(Join({Video("176x144", "25", "1"), Tone(44100, "1"),
                  {"-c:v", "libx264", "-c:a", "aac", dir.file("phone.MP4")}}));
  MakeMedia(Join({Tone(44100, "1"), {"-c:a", "flac", dir.file("song.flac")}}));
  test::WriteFileBytes(dir.file("noise.mp4"), std::vector<std::uint8_t>(3000, 0x5a));
  const struct {
    const char* name;
    bool described, any;
  } cases[] = {{"phone.MP4", false, true},  {"song.flac", false, true},
               {"clip3.mpeg", false, true}, {"silent.mpg", false, true},
               {"noise.mp4", false, false}, {"missing.mpg", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsSupportedInput(dir.file(c.name)), c.described) << c.name;
    EXPECT_EQ(IsSupportedInput(dir.file(c.name), true), c.any) << c.name;
  }
}

}  // namespace
}  // namespace zel
