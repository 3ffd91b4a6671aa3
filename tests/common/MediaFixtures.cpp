#include "common/MediaFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "common/TestSupport.h"

namespace zel::test {

namespace {

const std::map<std::string, std::vector<std::string>>& Recipes() {
  static const std::map<std::string, std::vector<std::string>> recipes = {
      {"clip.wmv",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30000/1001:duration=4", "-f", "lavfi",
        "-i", "sine=frequency=440:sample_rate=44100:duration=4", "-ac", "2", "-c:v", "wmv2", "-b:v",
        "800k", "-c:a", "wmav2", "-b:a", "128k"}},
      {"clip10.wmv",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30000/1001:duration=10", "-f", "lavfi",
        "-i", "sine=frequency=440:sample_rate=44100:duration=10", "-ac", "2", "-c:v", "wmv2",
        "-b:v", "800k", "-c:a", "wmav2", "-b:a", "128k"}},
      {"video.wmv",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=3", "-c:v", "wmv2"}},
      {"song.wma",
       {"-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=3", "-ac", "2", "-c:a",
        "wmav2", "-b:a", "128k"}},
      {"mono8k.wav",
       {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000:duration=3", "-c:a",
        "pcm_s16le"}},
      {"stereo44.wav",
       {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3", "-ac", "2", "-c:a",
        "pcm_s16le"}},
      {"surround.wav",
       {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3", "-af",
        "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0", "-c:a", "pcm_s16le"}},
      {"deep24.wav",
       {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3", "-ac", "2", "-c:a",
        "pcm_s24le"}},
      {"layer2.mpg",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=3", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100:duration=3", "-c:v", "mpeg1video", "-c:a", "mp2",
        "-f", "mpeg"}},
      {"layer3.mpg",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=3", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100:duration=3", "-c:v", "mpeg1video", "-c:a",
        "libmp3lame", "-f", "mpeg"}},
      {"silent.mpg",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=3", "-c:v", "mpeg1video", "-f",
        "mpeg"}},
      {"clip.avi",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=3", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100:duration=3", "-c:v", "mpeg4", "-c:a", "pcm_s16le"}},
  };
  return recipes;
}

double ToDouble(const std::string& s) {
  try {
    return std::stod(s);
  } catch (...) {
    return -1;
  }
}

}  // namespace

std::string MakeFixture(const std::string& folder, const std::string& name) {
  std::string path = (std::filesystem::path(folder) / name).string();
  if (std::filesystem::exists(path)) return path;
  auto it = Recipes().find(name);
  EXPECT_NE(it, Recipes().end()) << "no recipe for " << name;
  if (it == Recipes().end()) return path;
  std::vector<std::string> args = it->second;
  args.push_back(path);
  MakeMedia(args);
  return path;
}

FileFacts ProbeFile(const std::string& path) {
  FileFacts facts;
  if (RunCommand({"ffprobe", "-v", "error", path}).exitCode != 0) return facts;
  facts.readable = true;
  for (ProbeFields& f : ProbeStreams(path, {"-count_packets"})) {
    StreamFacts s{f["codec_name"], ToDouble(f["duration"]),
                  static_cast<long>(ToDouble(f["nb_read_packets"]))};
    if (f["codec_type"] == "video") facts.video.push_back(s);
    if (f["codec_type"] == "audio") facts.audio.push_back(s);
  }
  return facts;
}

std::vector<ProbeFields> ProbeSections(const std::string& path,
                                       const std::vector<std::string>& args,
                                       const std::string& section) {
  std::vector<std::string> argv = {"ffprobe", "-v", "error", "-of", "compact"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(path);
  CommandResult r = RunCommand(argv);
  std::vector<ProbeFields> out;
  if (r.exitCode != 0) return out;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(section + "|", 0) != 0) continue;
    ProbeFields fields;
    std::istringstream parts(line.substr(section.size() + 1));
    for (std::string part; std::getline(parts, part, '|');)
      if (auto eq = part.find('='); eq != std::string::npos)
        fields[part.substr(0, eq)] = part.substr(eq + 1);
    out.push_back(std::move(fields));
  }
  return out;
}

std::vector<ProbeFields> ProbeStreams(const std::string& path,
                                      const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"-show_streams"};
  args.insert(args.end(), extra.begin(), extra.end());
  return ProbeSections(path, args, "stream");
}

}  // namespace zel::test
