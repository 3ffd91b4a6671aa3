#pragma once

// Small input files made with the ffmpeg command line, and what ffprobe reads
// back from outputs.

#include <string>
#include <vector>

#include "common/TestSupport.h"

namespace zel::test {

// ffmpeg input arguments: test pictures, a 440 Hz tone; Join strings them.
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

// A file made once per test program in a shared folder: given args, what
// ffmpeg makes of them; without, the recipe of that name in MediaFixtures.cpp
// (clip.wmv: 4 s 320x240 29.97 fps wmv2 + wmav2 44.1 kHz stereo; qcif4.wmv:
// 4 s 176x144 25 fps, a key frame every 50 pictures, qcif3.wmv every 12).
std::string Media(const std::string& name, std::vector<std::string> args = {});

// A file (MP4 or MOV, by the name) of `picture` (a lavfi source), made once
// with `codec`, whose stream asks players to turn it for showing: the
// muxer's display matrix from ffmpeg's "rotate" tag of `rotate` degrees (0:
// no matrix).
std::string Rotated(const std::string& name, const std::string& picture, int rotate,
                    std::vector<std::string> codec = {"-c:v", "mpeg4", "-q:v", "2"});

// ffprobe -show_entries <entries> -of csv=p=0 <extra> path: one line per
// stream, fields in ffprobe's order, lines joined by blanks ("mpeg4,176
// aac,8000,1"); empty when ffprobe fails.
std::string Probe(const std::string& path, const std::string& entries,
                  const std::vector<std::string>& extra = {});

}  // namespace zel::test
