#pragma once

// Owning handles for the libav objects the decoding layer uses.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace zel::av {

struct InputDeleter {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct SwrDeleter {
  void operator()(SwrContext* c) const { swr_free(&c); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }

// The text of a libav error code, for logs.
std::string ErrorText(int code);

// Opens a file for demuxing and reads its stream information; null when
// libavformat cannot make sense of it (error, when given, then says why).
InputPtr OpenInput(const std::string& path, int* error = nullptr);

// A decoder opened for one stream of an input, with the stream's index.
struct OpenedDecoder {
  int streamIndex = -1;
  CodecPtr codec;
  explicit operator bool() const { return streamIndex >= 0 && codec != nullptr; }
};

// The first stream of the kind whose decoder exists and opens. Video streams
// that only carry an attached picture (cover art) do not count.
OpenedDecoder OpenFirstDecodable(AVFormatContext* input, AVMediaType kind);

// Opens the decoder of one given stream; empty when that fails. threads > 1
// lets codecs that can split a picture into slices decode them in parallel.
OpenedDecoder OpenStreamDecoder(AVFormatContext* input, int streamIndex, int threads = 1);

}  // namespace zel::av
