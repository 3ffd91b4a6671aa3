#include "common/MediaFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace zel::test {

namespace {

std::vector<std::string> Recipe(const std::string& name) {
  const auto wmv = [](const std::string& seconds) {
    return Join({Video("320x240", "30000/1001", seconds),
                 Tone(44100, seconds),
                 {"-ac", "2", "-c:v", "wmv2", "-b:v", "800k", "-c:a", "wmav2", "-b:a", "128k"}});
  };
  const auto wav = [](int rate, std::vector<std::string> options) {
    return Join({Tone(rate, "3"), options});
  };
  // a key frame every keyInterval pictures
  const auto qcif = [](const std::string& seconds, const std::string& keyInterval) {
    return Join({Video("176x144", "25", seconds),
                 Tone(44100, seconds),
                 {"-c:v", "wmv2", "-b:v", "600k", "-g", keyInterval, "-c:a", "wmav2", "-b:a",
                  "128k", "-ac", "2"}});
  };
  const auto mpeg = [](std::vector<std::string> audio) {
    return Join({Video("320x240", "25", "3"), audio, {"-c:v", "mpeg1video", "-f", "mpeg"}});
  };
  const std::map<std::string, std::vector<std::string>> recipes = {
      {"clip.wmv", wmv("4")},
      {"clip10.wmv", wmv("10")},
      {"qcif2.wmv", qcif("2", "50")},
      {"qcif4.wmv", qcif("4", "50")},
      {"qcif3.wmv", qcif("3", "12")},
      {"video.wmv", Join({Video("320x240", "25", "3"), {"-c:v", "wmv2"}})},
      {"song.wma", wav(44100, {"-ac", "2", "-c:a", "wmav2", "-b:a", "128k"})},
      {"mono8k.wav", wav(8000, {"-c:a", "pcm_s16le"})},
      {"layer2.mpg", mpeg(Join({Tone(44100, "3"), {"-c:a", "mp2"}}))},
      {"layer3.mpg", mpeg(Join({Tone(44100, "3"), {"-c:a", "libmp3lame"}}))},
      {"silent.mpg", mpeg({})},
      {"clip.avi", Join({Video("320x240", "25", "3"),
                         Tone(44100, "3"),
                         {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}})},
  };
  const auto it = recipes.find(name);
  EXPECT_NE(it, recipes.end()) << "no recipe for " << name;
  return it == recipes.end() ? std::vector<std::string>{} : it->second;
}

}  // namespace

std::string Media(const std::string& name, std::vector<std::string> args) {
  static TempDir folder;
  const std::string path = folder.file(name);
  if (std::filesystem::exists(path)) return path;
  if (args.empty()) args = Recipe(name);
  args.push_back(path);
  MakeMedia(args);
  return path;
}

std::string Rotated(const std::string& name, const std::string& picture, int rotate,
                    std::vector<std::string> codec) {
  const std::string upright = Media(name, Join({{"-f", "lavfi", "-i", picture}, codec}));
  if (rotate == 0) return upright;
  // The tag becomes a matrix only when the stream is copied.
  const std::filesystem::path named(name);
  const std::string path =
      Media(named.stem().string() + std::to_string(rotate) + named.extension().string(),
            {"-i", upright, "-c", "copy", "-metadata:s:v", "rotate=" + std::to_string(rotate)});
  EXPECT_NE(Probe(path, "stream_side_data=rotation"), "") << path;
  return path;
}

std::string Probe(const std::string& path, const std::string& entries,
                  const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {"ffprobe", "-v",  "error",  "-show_entries",
                                   entries,   "-of", "csv=p=0"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(path);
  std::string out = RunCommand(argv).out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  for (char& c : out) c = c == '\n' ? ' ' : c;
  return out;
}

}  // namespace zel::test
