#include "source/LibavHandles.h"

#include <cstdio>

#include "General/Log.h"

namespace zel::av {

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

InputPtr OpenInput(const std::string& path, int* error) {
  AVFormatContext* raw = nullptr;
  int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  InputPtr input(raw);  // avformat_open_input frees the context on failure
  if (rc >= 0) {
    rc = avformat_find_stream_info(input.get(), nullptr);
    if (rc < 0) LogError("no stream information in " + path + ": " + ErrorText(rc));
  }
  if (error != nullptr) *error = rc < 0 ? rc : 0;
  if (rc < 0) return nullptr;
  return input;
}

OpenedDecoder OpenStreamDecoder(AVFormatContext* input, int streamIndex, int threads) {
  OpenedDecoder result;
  if (input == nullptr || streamIndex < 0 ||
      static_cast<unsigned>(streamIndex) >= input->nb_streams) {
    return result;
  }
  const AVStream* stream = input->streams[streamIndex];
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr) {
    return result;
  }
  CodecPtr codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
    return result;
  }
  codec->pkt_timebase = stream->time_base;
  // The conversion's two streaming threads already share the cores and ask
  // for one. Frame threads would add latency to the first frame after a
  // seek; slices of one picture do not.
  codec->thread_count = threads;
  codec->thread_type = FF_THREAD_SLICE;
  int rc = avcodec_open2(codec.get(), decoder, nullptr);
  if (rc < 0) {
    LogError(std::string("cannot open decoder ") + decoder->name + ": " + ErrorText(rc));
    return result;
  }
  result.streamIndex = streamIndex;
  result.codec = std::move(codec);
  return result;
}

OpenedDecoder OpenFirstDecodable(AVFormatContext* input, AVMediaType kind) {
  if (input == nullptr) {
    return {};
  }
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    if (stream->codecpar->codec_type != kind) {
      continue;
    }
    if (kind == AVMEDIA_TYPE_VIDEO && (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      continue;
    }
    if (kind == AVMEDIA_TYPE_VIDEO &&
        (stream->codecpar->width <= 1 || stream->codecpar->height <= 1)) {
      continue;  // too small to give whole YV12 planes
    }
    OpenedDecoder decoder = OpenStreamDecoder(input, static_cast<int>(i));
    if (decoder) {
      return decoder;
    }
  }
  return {};
}

}  // namespace zel::av
