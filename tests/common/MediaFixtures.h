#pragma once

// Small input files made with the ffmpeg command line, and what ffprobe reads
// back from outputs.

#include <map>
#include <string>
#include <vector>

namespace zel::test {

// Makes `name` in folder (once per folder) and returns its path. Known names:
//   clip.wmv        4 s 320x240 29.97 fps wmv2 + wmav2 44.1 kHz stereo
//   clip10.wmv      10 s, as clip.wmv
//   video.wmv       3 s wmv2 without sound
//   song.wma        3 s wmav2 44.1 kHz stereo
//   mono8k.wav      3 s 16-bit 8000 Hz mono
//   stereo44.wav    3 s 16-bit 44100 Hz stereo
//   surround.wav    3 s 16-bit 48000 Hz 5.1
//   deep24.wav      3 s 24-bit 44100 Hz stereo
//   layer2.mpg      3 s MPEG-1 video + MPEG-1 Layer II audio
//   layer3.mpg      3 s MPEG-1 video + MP3 audio
//   silent.mpg      3 s MPEG-1 video, no audio
//   clip.avi        3 s mpeg4 + pcm_s16le AVI
std::string MakeFixture(const std::string& folder, const std::string& name);

struct StreamFacts {
  std::string codec;
  double duration = -1;  // seconds
  long frames = -1;      // packets counted by ffprobe
};

struct FileFacts {
  bool readable = false;
  std::vector<StreamFacts> video;
  std::vector<StreamFacts> audio;
};

// ffprobe -count_packets on every stream of path.
FileFacts ProbeFile(const std::string& path);

// One section of ffprobe's output ("stream", "packet", "format") as
// key/value pairs, e.g. fields["codec_name"] == "mpeg4".
using ProbeFields = std::map<std::string, std::string>;

// ffprobe -v error -of compact <args> path: the sections of the given kind,
// in output order; empty when ffprobe fails.
std::vector<ProbeFields> ProbeSections(const std::string& path,
                                       const std::vector<std::string>& args,
                                       const std::string& section);

// Every stream of path (ffprobe -show_streams <extra>), in stream order.
std::vector<ProbeFields> ProbeStreams(const std::string& path,
                                      const std::vector<std::string>& extra = {});

}  // namespace zel::test
