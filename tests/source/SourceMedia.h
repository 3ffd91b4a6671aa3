#pragma once

// Small media files for the decoding-layer tests, made with ffmpeg.

#include <string>
#include <vector>

#include "common/TestSupport.h"

namespace zel::test {

inline std::vector<std::string> Video(const std::string& size, const std::string& rate,
                                      const std::string& seconds) {
  return {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + rate + ":duration=" + seconds};
}

inline std::vector<std::string> Tone(int rateHz, const std::string& seconds) {
  return {"-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=" + std::to_string(rateHz) + ":duration=" + seconds};
}

inline std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A WMV file (wmv2 + wmav2) with a key frame every keyInterval frames.
inline std::string MakeWmv(const TempDir& dir, const std::string& name, const std::string& seconds,
                           int keyInterval = 50) {
  const std::string path = dir.file(name);
  MakeMedia(Join({Video("176x144", "25", seconds),
                  Tone(44100, seconds),
                  {"-c:v", "wmv2", "-b:v", "600k", "-g", std::to_string(keyInterval), "-c:a",
                   "wmav2", "-b:a", "128k", "-ac", "2", path}}));
  return path;
}

}  // namespace zel::test
