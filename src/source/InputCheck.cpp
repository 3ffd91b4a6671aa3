// Which input files the converter takes.

#include <string>

#include "General/MediaTypes.h"
#include "General/PathJoin.h"
#include "source/LibavHandles.h"
#include "source/MediaSource.h"

namespace zel {

namespace {

std::string LowerAsciiExtension(const std::string& path) { return LowerAscii(PathExtension(path)); }

}  // namespace

MpegAudioLayer MpegAudioProbe(const std::string& path) {
  av::InputPtr input = av::OpenInput(path);
  if (!input) {
    return MpegAudioLayer::Undetermined;
  }
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters* par = input->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
      continue;
    }
    switch (par->codec_id) {
      case AV_CODEC_ID_MP1:
        return MpegAudioLayer::Layer1;
      case AV_CODEC_ID_MP2:
        return MpegAudioLayer::Layer2;
      case AV_CODEC_ID_MP3:
        return MpegAudioLayer::Mp3;
      default:
        return MpegAudioLayer::Undetermined;  // only the first audio stream is looked at
    }
  }
  return MpegAudioLayer::Undetermined;
}

bool IsSupportedInput(const std::string& path, bool anyInput) {
  const std::string extension = LowerAsciiExtension(path);
  if (extension == "wmv" || extension == "avi" || extension == "mpa" || extension == "wav" ||
      extension == "wma") {
    return true;
  }
  if (extension == "mpeg" || extension == "mpg") {
    const MpegAudioLayer layer = MpegAudioProbe(path);
    if (layer == MpegAudioLayer::Layer1 || layer == MpegAudioLayer::Layer2) return true;
  }
  return anyInput && HoldsMedia(path);
}

bool HoldsMedia(const std::string& path) {
  MediaInfo info;
  return ReadMediaInfo(path, info) && (info.hasAudio || info.hasVideo);
}

}  // namespace zel
