#include "source/AviTranscoder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "General/Log.h"
#include "General/PathJoin.h"
#include "source/LibavHandles.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
}

namespace zel {

namespace {

// The temporary file is an intermediate step, so it is written at rates that
// leave the later conversion little to lose.
constexpr std::int64_t kVideoBitRate = 2000000;
constexpr std::int64_t kStereoBitRate = 160000;
constexpr std::int64_t kMonoBitRate = 96000;
constexpr int kWmaMaxRate = 48000;  // the highest rate the WMA encoder takes

struct OutputDeleter {
  void operator()(AVFormatContext* c) const {
    if (c->pb != nullptr && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

struct FifoDeleter {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

AVRational InputFrameRate(AVStream* stream) {
  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{30, 1};
  // The MPEG-4 family of encoders counts time in 16 bits.
  av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
  return rate;
}

}  // namespace

struct AviTranscoder::Impl {
  std::vector<Fault> faults;
  std::string destination;
  bool ready = false;

  av::InputPtr input;
  std::int64_t originUs = 0;
  av::OpenedDecoder videoDecoder;
  av::OpenedDecoder audioDecoder;
  OutputPtr output;

  av::CodecPtr videoEncoder;
  AVStream* videoOut = nullptr;
  av::SwsPtr sws;
  av::FramePtr picture;
  std::int64_t lastVideoPts = AV_NOPTS_VALUE;

  av::CodecPtr audioEncoder;
  AVStream* audioOut = nullptr;
  av::SwrPtr swr;
  // What swr converts from; a stream whose layout changes midway (stereo
  // then mono MP3 in captured files) gets a new converter.
  int swrFormat = -1, swrRate = 0;
  AVChannelLayout swrLayout{};
  FifoPtr fifo;
  av::FramePtr audioFrame;
  std::int64_t nextAudioPts = AV_NOPTS_VALUE;

  const std::atomic<bool>* abortFlag = nullptr;
  std::atomic<int>* progress = nullptr;

  ~Impl() { av_channel_layout_uninit(&swrLayout); }
  bool ConfigureResampler(const AVChannelLayout& layout, int format, int rate);

  bool Fail(FaultKind kind) {
    faults.push_back(Fault{kind});
    return false;
  }

  bool Build(const std::string& sourcePath);
  bool OpenVideoEncoder();
  bool OpenAudioEncoder();
  bool Write(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame);
  bool EncodeVideo(const AVFrame* decoded);
  bool EncodeAudio(const AVFrame* decoded);
  bool DrainAudioFifo(bool final);
  bool Decode(av::OpenedDecoder& decoder, const AVPacket* packet);
};

bool AviTranscoder::Impl::Build(const std::string& sourcePath) {
  input = av::OpenInput(sourcePath);
  if (!input) return Fail(FaultKind::kAviUnsupportedCodec);
  originUs = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
  videoDecoder = av::OpenFirstDecodable(input.get(), AVMEDIA_TYPE_VIDEO);
  audioDecoder = av::OpenFirstDecodable(input.get(), AVMEDIA_TYPE_AUDIO);
  if (!videoDecoder && !audioDecoder) return Fail(FaultKind::kAviUnsupportedCodec);
  // Without sound the video is written alone, without pictures the sound
  // alone; either way the user is told first.
  if (!audioDecoder) faults.push_back(Fault{FaultKind::kAviNoAudio});
  if (!videoDecoder) faults.push_back(Fault{FaultKind::kAviNoVideo});

  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "asf", destination.c_str()) < 0 || !raw) {
    return Fail(FaultKind::kAviWriterFailed);
  }
  output.reset(raw);
  if (audioDecoder && !OpenAudioEncoder()) return Fail(FaultKind::kAviAudioEncoderFailed);
  if (videoDecoder && !OpenVideoEncoder()) return Fail(FaultKind::kAviVideoEncoderFailed);

  int rc = avio_open(&output->pb, destination.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) {
    LogError("cannot create " + destination + ": " + av::ErrorText(rc));
    return Fail(FaultKind::kAviWriterFailed);
  }
  rc = avformat_write_header(output.get(), nullptr);
  if (rc < 0) {
    LogError("cannot start " + destination + ": " + av::ErrorText(rc));
    return Fail(FaultKind::kAviWriterFailed);
  }
  return true;
}

bool AviTranscoder::Impl::OpenVideoEncoder() {
  const AVCodec* codec = avcodec_find_encoder_by_name("wmv2");
  const AVCodecContext* decoder = videoDecoder.codec.get();
  if (codec == nullptr || (decoder->width & ~1) <= 0 || (decoder->height & ~1) <= 0) return false;
  videoEncoder.reset(avcodec_alloc_context3(codec));
  if (!videoEncoder) return false;
  AVCodecContext* enc = videoEncoder.get();
  const AVRational rate = InputFrameRate(input->streams[videoDecoder.streamIndex]);
  enc->width = decoder->width & ~1;
  enc->height = decoder->height & ~1;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = av_inv_q(rate);
  enc->framerate = rate;
  enc->bit_rate = kVideoBitRate;
  enc->gop_size = std::max(1, rate.num / std::max(1, rate.den));  // a key frame every second
  enc->sample_aspect_ratio = decoder->sample_aspect_ratio;
  if (output->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int rc = avcodec_open2(enc, codec, nullptr);
  if (rc < 0) {
    LogError("cannot open wmv2: " + av::ErrorText(rc));
    return false;
  }
  videoOut = avformat_new_stream(output.get(), nullptr);
  if (videoOut == nullptr || avcodec_parameters_from_context(videoOut->codecpar, enc) < 0) {
    return false;
  }
  videoOut->time_base = enc->time_base;
  picture = av::MakeFrame();
  if (!picture) return false;
  picture->format = enc->pix_fmt;
  picture->width = enc->width;
  picture->height = enc->height;
  return av_frame_get_buffer(picture.get(), 0) >= 0;
}

bool AviTranscoder::Impl::OpenAudioEncoder() {
  const AVCodec* codec = avcodec_find_encoder_by_name("wmav2");
  const AVCodecContext* decoder = audioDecoder.codec.get();
  if (codec == nullptr || decoder->sample_rate <= 0 || decoder->ch_layout.nb_channels <= 0) {
    return false;
  }
  audioEncoder.reset(avcodec_alloc_context3(codec));
  if (!audioEncoder) return false;
  AVCodecContext* enc = audioEncoder.get();
  const int channels = std::min(decoder->ch_layout.nb_channels, 2);
  av_channel_layout_default(&enc->ch_layout, channels);
  enc->sample_rate = std::min(decoder->sample_rate, kWmaMaxRate);
  enc->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  enc->bit_rate = channels == 2 ? kStereoBitRate : kMonoBitRate;
  enc->time_base = AVRational{1, enc->sample_rate};
  if (output->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int rc = avcodec_open2(enc, codec, nullptr);
  if (rc < 0) {
    LogError("cannot open wmav2: " + av::ErrorText(rc));
    return false;
  }
  audioOut = avformat_new_stream(output.get(), nullptr);
  if (audioOut == nullptr || avcodec_parameters_from_context(audioOut->codecpar, enc) < 0) {
    return false;
  }
  audioOut->time_base = enc->time_base;

  if (!ConfigureResampler(decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate)) {
    return false;
  }
  const int frameSize = enc->frame_size > 0 ? enc->frame_size : 2048;
  fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, channels, frameSize * 2));
  audioFrame = av::MakeFrame();
  return fifo && audioFrame;
}

bool AviTranscoder::Impl::ConfigureResampler(const AVChannelLayout& layout, int format, int rate) {
  AVCodecContext* enc = audioEncoder.get();
  AVChannelLayout inLayout{};
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&inLayout, layout.nb_channels);
  } else if (av_channel_layout_copy(&inLayout, &layout) < 0) {
    return false;
  }
  SwrContext* rawSwr = nullptr;
  int rc = swr_alloc_set_opts2(&rawSwr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                               &inLayout, static_cast<AVSampleFormat>(format), rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  swr.reset(rawSwr);
  if (rc < 0 || swr_init(swr.get()) < 0) {
    swr.reset();
    return false;
  }
  swrFormat = format;
  swrRate = rate;
  av_channel_layout_uninit(&swrLayout);
  return av_channel_layout_copy(&swrLayout, &layout) >= 0;
}

bool AviTranscoder::Impl::Write(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame) {
  if (avcodec_send_frame(encoder, frame) < 0) return false;
  av::PacketPtr packet = av::MakePacket();
  if (!packet) return false;
  for (;;) {
    const int rc = avcodec_receive_packet(encoder, packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    if (av_interleaved_write_frame(output.get(), packet.get()) < 0) return false;
  }
}

bool AviTranscoder::Impl::EncodeVideo(const AVFrame* decoded) {
  const int width = decoded->width & ~1;
  const int height = decoded->height & ~1;
  if (width <= 0 || height <= 0) return true;
  AVCodecContext* enc = videoEncoder.get();
  sws.reset(sws_getCachedContext(
      sws.release(), width, height, static_cast<AVPixelFormat>(decoded->format), enc->width,
      enc->height, enc->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!sws || av_frame_make_writable(picture.get()) < 0 ||
      sws_scale(sws.get(), decoded->data, decoded->linesize, 0, height, picture->data,
                picture->linesize) <= 0) {
    return false;
  }
  const AVStream* in = input->streams[videoDecoder.streamIndex];
  std::int64_t pts = AV_NOPTS_VALUE;
  if (decoded->best_effort_timestamp != AV_NOPTS_VALUE) {
    pts = av_rescale_q(decoded->best_effort_timestamp, in->time_base, enc->time_base) -
          av_rescale_q(originUs, AV_TIME_BASE_Q, enc->time_base);
  }
  // The writer needs rising times; a frame without one follows its predecessor.
  if (lastVideoPts != AV_NOPTS_VALUE && (pts == AV_NOPTS_VALUE || pts <= lastVideoPts)) {
    pts = lastVideoPts + 1;
  }
  if (pts == AV_NOPTS_VALUE || pts < 0) pts = 0;
  lastVideoPts = pts;
  picture->pts = pts;
  return Write(enc, videoOut, picture.get());
}

bool AviTranscoder::Impl::DrainAudioFifo(bool final) {
  AVCodecContext* enc = audioEncoder.get();
  const int frameSize = enc->frame_size > 0 ? enc->frame_size : 2048;
  while (av_audio_fifo_size(fifo.get()) >= frameSize ||
         (final && av_audio_fifo_size(fifo.get()) > 0)) {
    av_frame_unref(audioFrame.get());
    audioFrame->format = enc->sample_fmt;
    audioFrame->sample_rate = enc->sample_rate;
    audioFrame->nb_samples = frameSize;
    if (av_channel_layout_copy(&audioFrame->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(audioFrame.get(), 0) < 0) {
      return false;
    }
    // The last frame is filled up with silence.
    av_samples_set_silence(audioFrame->extended_data, 0, frameSize, enc->ch_layout.nb_channels,
                           enc->sample_fmt);
    const int read =
        av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(audioFrame->data), frameSize);
    if (read <= 0) return false;
    audioFrame->pts = nextAudioPts;
    nextAudioPts += frameSize;
    if (!Write(enc, audioOut, audioFrame.get())) return false;
  }
  return true;
}

bool AviTranscoder::Impl::EncodeAudio(const AVFrame* decoded) {
  AVCodecContext* enc = audioEncoder.get();
  if (nextAudioPts == AV_NOPTS_VALUE) {
    const AVStream* in = input->streams[audioDecoder.streamIndex];
    nextAudioPts = 0;
    if (decoded->best_effort_timestamp != AV_NOPTS_VALUE) {
      nextAudioPts = std::max<std::int64_t>(
          0, av_rescale_q(decoded->best_effort_timestamp, in->time_base, enc->time_base) -
                 av_rescale_q(originUs, AV_TIME_BASE_Q, enc->time_base));
    }
  }
  if (decoded != nullptr &&
      (decoded->format != swrFormat || decoded->sample_rate != swrRate ||
       av_channel_layout_compare(&decoded->ch_layout, &swrLayout) != 0) &&
      !ConfigureResampler(decoded->ch_layout, decoded->format, decoded->sample_rate)) {
    return false;
  }
  if (!swr) return false;
  const int capacity = swr_get_out_samples(swr.get(), decoded ? decoded->nb_samples : 0);
  if (capacity > 0) {
    av::FramePtr converted = av::MakeFrame();
    if (!converted) return false;
    converted->format = enc->sample_fmt;
    converted->sample_rate = enc->sample_rate;
    converted->nb_samples = capacity;
    if (av_channel_layout_copy(&converted->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(converted.get(), 0) < 0) {
      return false;
    }
    const int samples =
        swr_convert(swr.get(), converted->data, capacity,
                    decoded ? const_cast<const std::uint8_t**>(decoded->extended_data) : nullptr,
                    decoded ? decoded->nb_samples : 0);
    if (samples < 0) return false;
    if (samples > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(converted->data),
                                           samples) < samples) {
      return false;
    }
  }
  return DrainAudioFifo(decoded == nullptr);
}

bool AviTranscoder::Impl::Decode(av::OpenedDecoder& decoder, const AVPacket* packet) {
  AVCodecContext* codec = decoder.codec.get();
  const int sent = avcodec_send_packet(codec, packet);
  if (sent < 0 && packet == nullptr) return true;  // already drained
  av::FramePtr frame = av::MakeFrame();
  if (!frame) return false;
  for (;;) {
    const int rc = avcodec_receive_frame(codec, frame.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return packet != nullptr;  // a damaged frame is skipped
    const bool ok = &decoder == &videoDecoder ? EncodeVideo(frame.get()) : EncodeAudio(frame.get());
    av_frame_unref(frame.get());
    if (!ok) return false;
  }
}

AviTranscoder::AviTranscoder(const std::string& sourcePath, const std::string& destinationPath)
    : impl_(std::make_unique<Impl>()) {
  impl_->destination = destinationPath;
  impl_->ready = impl_->Build(sourcePath);
}

AviTranscoder::~AviTranscoder() = default;

bool AviTranscoder::Run() {
  Impl& s = *impl_;
  if (!s.ready) return false;
  s.ready = false;  // one run per transcoder
  av::PacketPtr packet = av::MakePacket();
  if (!packet) return false;
  bool ok = true;
  // Progress by the bytes read: it needs no declared duration.
  const std::int64_t size = s.input->pb != nullptr ? avio_size(s.input->pb) : 0;
  while (ok && av_read_frame(s.input.get(), packet.get()) >= 0) {
    if (s.abortFlag != nullptr && s.abortFlag->load()) {
      ok = false;
      av_packet_unref(packet.get());
      break;
    }
    if (s.progress != nullptr && size > 0 && packet->pos >= 0) {
      *s.progress = static_cast<int>(std::min<std::int64_t>(1000, packet->pos * 1000 / size));
    }
    if (s.videoDecoder && packet->stream_index == s.videoDecoder.streamIndex) {
      ok = s.Decode(s.videoDecoder, packet.get());
    } else if (s.audioDecoder && packet->stream_index == s.audioDecoder.streamIndex) {
      ok = s.Decode(s.audioDecoder, packet.get());
    }
    av_packet_unref(packet.get());
  }
  if (ok && s.videoDecoder) {
    ok = s.Decode(s.videoDecoder, nullptr) && s.Write(s.videoEncoder.get(), s.videoOut, nullptr);
  }
  if (ok && s.audioDecoder) {
    ok = s.Decode(s.audioDecoder, nullptr) &&
         (s.nextAudioPts == AV_NOPTS_VALUE || s.EncodeAudio(nullptr)) &&
         s.Write(s.audioEncoder.get(), s.audioOut, nullptr);
  }
  const bool trailer = av_write_trailer(s.output.get()) >= 0;
  const bool closed = avio_closep(&s.output->pb) >= 0;
  return ok && trailer && closed;
}

const std::vector<Fault>& AviTranscoder::faults() const { return impl_->faults; }

bool AviTranscoder::hasAudio() const { return static_cast<bool>(impl_->audioDecoder); }

bool AviTranscoder::hasVideo() const { return static_cast<bool>(impl_->videoDecoder); }

void AviTranscoder::SetAbortFlag(const std::atomic<bool>* abortRequested) {
  impl_->abortFlag = abortRequested;
}

void AviTranscoder::SetProgress(std::atomic<int>* permille) { impl_->progress = permille; }

bool NeedsAviTranscoding(const std::string& path) {
  const std::string extension = PathExtension(path);
  return extension == "avi" || extension == "AVI";
}

std::string TemporaryWmvPath(const std::string& inputPath, const std::string& workFolder) {
  return JoinPath(workFolder, PathWithoutExtension(PathFileName(inputPath)) + ".wmv");
}

}  // namespace zel
