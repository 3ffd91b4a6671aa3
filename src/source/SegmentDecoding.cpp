#include "source/SegmentDecoding.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "source/LibavHandles.h"
#include "source/VideoFrameSink.h"
#include "source/WavFileWriter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
}

namespace zel {

namespace {

constexpr AVRational kHnsBase{1, static_cast<int>(kHnsPerSecond)};
constexpr std::int64_t kDefaultFrameHns = 333333;  // 30 frames per second

// The time stamp that counts as 0 in a stream: the start of the file, so
// that streams starting late keep their distance from the others.
std::int64_t FileOrigin(const AVFormatContext* input, const AVStream* stream) {
  if (input->start_time != AV_NOPTS_VALUE) {
    return av_rescale_q(input->start_time, AV_TIME_BASE_Q, stream->time_base);
  }
  return stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
}

}  // namespace

// One stream of the file on a demuxer of its own. It lives for the whole
// conversion: opening a file (with its stream probing) costs more than a
// short segment's decoding, so a segment seeks and flushes, and one that
// starts where the previous one stopped (a split job) simply goes on reading.
struct StreamReader {
  av::InputPtr input;
  av::OpenedDecoder decoder;
  AVStream* stream = nullptr;
  std::int64_t originTs = 0;
  bool seeked = false;
  bool used = false;        // has decoded a segment: its position is somewhere in the file
  bool continuing = false;  // this segment goes on from the previous one
  bool draining = false;    // the demuxer is at its end; the decoder is being emptied
  bool ended = false;       // the decoder is empty: nothing more comes
  // Where the last segment stopped when it stopped there, else -1.
  std::int64_t continueAtHns = -1;
  // What the last segment read beyond its stop: a decoded picture (video) or
  // converted samples with their position (audio).
  av::FramePtr pendingFrame;
  std::vector<std::uint8_t> pendingPcm;
  std::int64_t pendingPosition = 0;
  // Running time of the stream, for frames without a time stamp: 100-ns
  // units (video) or samples (audio).
  std::int64_t nextTime = 0;
  bool firstFrame = true;

  bool Open(const SegmentJob& job) {
    input = av::OpenInput(job.path);
    if (!input) {
      return false;
    }
    decoder = av::OpenStreamDecoder(input.get(), job.streamIndex);
    if (!decoder) {
      input.reset();
      return false;
    }
    stream = input->streams[job.streamIndex];
    originTs = FileOrigin(input.get(), stream);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
      if (static_cast<int>(i) != job.streamIndex) {
        input->streams[i]->discard = AVDISCARD_ALL;  // the other thread reads those
      }
    }
    used = false;
    return true;
  }

  // Positions on the job's segment: back to the last key frame at or before
  // its start; the frames up to the start are decoded and dropped. A file
  // that cannot seek is read again from its beginning, which gives the same
  // frames, only later.
  bool Position(const SegmentJob& job) {
    if (!input && !Open(job)) {
      return false;
    }
    continuing = used && job.startHns == continueAtHns;
    continueAtHns = -1;
    if (continuing) {
      return true;
    }
    seeked = false;
    if (job.startHns > 0 || used) {
      if (!SeekTo(job, job.startHns)) {
        return false;
      }
    } else {
      Restart();
    }
    used = true;
    return true;
  }

  // Seeks back to the last key frame at or before targetHns (file time) and
  // empties the decoder. False when the file can no longer be read.
  bool SeekTo(const SegmentJob& job, std::int64_t targetHns) {
    const std::int64_t target = originTs + av_rescale_q(targetHns, kHnsBase, stream->time_base);
    const int rc = av_seek_frame(input.get(), job.streamIndex, target, AVSEEK_FLAG_BACKWARD);
    if (rc < 0) {
      std::fprintf(stderr, "zel: seeking %s failed: %s\n", job.path.c_str(),
                   av::ErrorText(rc).c_str());
      if (used && !Open(job)) {
        return false;
      }
    }
    seeked = rc >= 0 && targetHns > 0;
    avcodec_flush_buffers(decoder.codec.get());
    Restart();
    return true;
  }

  void Restart() {
    pendingFrame.reset();
    pendingPcm.clear();
    draining = false;
    ended = false;
    firstFrame = true;
  }

  std::int64_t HnsOf(std::int64_t ts) const {
    return av_rescale_q(ts - originTs, stream->time_base, kHnsBase);
  }
};

namespace {

enum class FrameVerdict { More, Enough };
enum class LoopEnd { Enough, Ended, Stopped };

// Feeds the stream's packets to its decoder and every decoded frame to
// onFrame, until onFrame has enough, the job is told to stop, or the stream
// ends; at the end the decoder is drained so that no frame is lost. Frames
// the decoder already holds are taken before more input goes in, so a
// segment that goes on from the previous one loses nothing. Damaged packets
// are skipped.
template <typename OnFrame>
LoopEnd DecodeFrames(StreamReader& reader, const SegmentJob& job, OnFrame&& onFrame) {
  if (reader.ended) {
    return LoopEnd::Ended;
  }
  AVFormatContext* input = reader.input.get();
  AVCodecContext* codec = reader.decoder.codec.get();
  av::PacketPtr packet = av::MakePacket();
  av::FramePtr frame = av::MakeFrame();
  if (!packet || !frame) {
    return LoopEnd::Stopped;
  }
  for (;;) {
    if (job.shouldStop && job.shouldStop()) {
      return LoopEnd::Stopped;
    }
    const int received = avcodec_receive_frame(codec, frame.get());
    if (received >= 0) {
      const FrameVerdict verdict = onFrame(frame.get());
      av_frame_unref(frame.get());
      if (verdict == FrameVerdict::Enough) {
        return LoopEnd::Enough;
      }
      continue;
    }
    if (received == AVERROR_EOF || reader.draining) {
      reader.ended = true;
      return LoopEnd::Ended;
    }
    // EAGAIN wants input; any other error was a damaged frame, after which the
    // decoder goes on with what follows.
    const int rc = av_read_frame(input, packet.get());
    if (rc < 0) {
      reader.draining = true;
      avcodec_send_packet(codec, nullptr);
      continue;
    }
    if (packet->stream_index == job.streamIndex) {
      avcodec_send_packet(codec, packet.get());
    }
    av_packet_unref(packet.get());
  }
}

}  // namespace

// Converts decoded pictures to one packed YV12 frame: the Y plane, then V,
// then U, each without row padding.
class Yv12Packer {
 public:
  Yv12Packer(int width, int height) : width_(width), height_(height) {
    scaled_ = av::MakeFrame();
    if (scaled_) {
      scaled_->format = AV_PIX_FMT_YUV420P;
      scaled_->width = width;
      scaled_->height = height;
      if (av_frame_get_buffer(scaled_.get(), 0) < 0) {
        scaled_.reset();
      }
    }
    packed_.resize(static_cast<std::size_t>(width) * height * 3 / 2);
  }

  // Null when the picture cannot be converted.
  const std::vector<std::uint8_t>* Pack(const AVFrame* picture) {
    // Odd sizes lose their last column or row so that the chroma planes
    // cover whole pixel pairs.
    const int sourceWidth = picture->width & ~1;
    const int sourceHeight = picture->height & ~1;
    if (!scaled_ || sourceWidth <= 0 || sourceHeight <= 0) {
      return nullptr;
    }
    sws_.reset(sws_getCachedContext(sws_.release(), sourceWidth, sourceHeight,
                                    static_cast<AVPixelFormat>(picture->format), width_, height_,
                                    AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws_) {
      return nullptr;
    }
    if (sws_scale(sws_.get(), picture->data, picture->linesize, 0, sourceHeight, scaled_->data,
                  scaled_->linesize) <= 0) {
      return nullptr;
    }
    std::uint8_t* out = packed_.data();
    const auto copyPlane = [&out](const std::uint8_t* plane, int stride, int w, int h) {
      for (int y = 0; y < h; ++y) {
        std::copy_n(plane + static_cast<std::ptrdiff_t>(y) * stride, w, out);
        out += w;
      }
    };
    copyPlane(scaled_->data[0], scaled_->linesize[0], width_, height_);
    copyPlane(scaled_->data[2], scaled_->linesize[2], width_ / 2, height_ / 2);  // V
    copyPlane(scaled_->data[1], scaled_->linesize[1], width_ / 2, height_ / 2);  // U
    return &packed_;
  }

 private:
  int width_;
  int height_;
  av::SwsPtr sws_;
  av::FramePtr scaled_;
  std::vector<std::uint8_t> packed_;
};

namespace {

// Converts decoded audio to interleaved 16-bit PCM at a fixed rate and
// channel count; more channels are mixed down.
class PcmConverter {
 public:
  PcmConverter(int sampleRate, int channels) : rate_(sampleRate) {
    av_channel_layout_default(&outLayout_, channels);
  }
  ~PcmConverter() { av_channel_layout_uninit(&outLayout_); }
  PcmConverter(const PcmConverter&) = delete;
  PcmConverter& operator=(const PcmConverter&) = delete;

  // Converts one frame; the result holds whole sample frames. False when the
  // frame cannot be converted.
  bool Convert(const AVFrame* frame, std::vector<std::uint8_t>& out, int& samples) {
    samples = 0;
    if (!Configure(frame)) {
      return false;
    }
    const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (capacity <= 0) {
      return true;
    }
    out.resize(static_cast<std::size_t>(capacity) * outLayout_.nb_channels * 2);
    std::uint8_t* outData = out.data();
    const int converted =
        swr_convert(swr_.get(), &outData, capacity,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (converted < 0) {
      return false;
    }
    samples = converted;
    return true;
  }

 private:
  bool Configure(const AVFrame* frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0) {
      return false;
    }
    if (swr_ && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
        channels == inChannels_) {
      return true;
    }
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&inLayout, channels);  // a WAV file without a channel mask
    } else if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0) {
      return false;
    }
    SwrContext* raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &outLayout_, AV_SAMPLE_FMT_S16, rate_, &inLayout,
                                 static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                 nullptr);
    av_channel_layout_uninit(&inLayout);
    swr_.reset(raw);
    if (rc < 0 || (rc = swr_init(swr_.get())) < 0) {
      std::fprintf(stderr, "zel: cannot convert audio: %s\n", av::ErrorText(rc).c_str());
      swr_.reset();
      return false;
    }
    inFormat_ = frame->format;
    inRate_ = frame->sample_rate;
    inChannels_ = channels;
    return true;
  }

  int rate_;
  AVChannelLayout outLayout_{};
  av::SwrPtr swr_;
  int inFormat_ = -1;
  int inRate_ = 0;
  int inChannels_ = 0;
};

}  // namespace

StreamDecoder::StreamDecoder() = default;
StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::Reset() {
  reader.reset();
  packer.reset();
}

void DecodeVideoSegment(const SegmentJob& job, StreamDecoder& decoder, int width, int height,
                        VideoFrameSink& sink, std::atomic<std::uint64_t>& deliveredFrames) {
  if (job.stopHns <= job.startHns || width <= 0 || height <= 0) {
    return;
  }
  if (!decoder.reader) decoder.reader = std::make_unique<StreamReader>();
  StreamReader& reader = *decoder.reader;
  if (!reader.Position(job)) {
    return;
  }
  const AVRational rate = reader.stream->avg_frame_rate;
  const std::int64_t declaredFrameHns = rate.num > 0 && rate.den > 0
                                            ? av_rescale(kHnsPerSecond, rate.den, rate.num)
                                            : kDefaultFrameHns;
  // Frames without a time stamp follow their predecessor by one frame time.
  if (!reader.continuing) reader.nextTime = reader.seeked ? job.startHns : 0;
  if (!decoder.packer) decoder.packer = std::make_unique<Yv12Packer>(width, height);
  Yv12Packer& packer = *decoder.packer;

  // Some files (MPEG program streams) have no index of key frames: a seek
  // lands on any picture, and the decoder then skips to the next key frame,
  // which may lie after the start. The first picture tells; the seek is then
  // repeated from further back.
  bool checkFirst = reader.seeked;
  bool seekAgain = false;
  std::int64_t seekTarget = job.startHns;

  const auto onFrame = [&](AVFrame* frame) {
    std::int64_t timeHns = reader.nextTime;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
      timeHns = reader.HnsOf(frame->best_effort_timestamp);
    }
    if (checkFirst) {
      checkFirst = false;
      if (timeHns > job.startHns + declaredFrameHns && seekTarget > 0) {
        seekAgain = true;
        return FrameVerdict::Enough;
      }
    }
    const std::int64_t frameHns =
        frame->pkt_duration > 0
            ? av_rescale_q(frame->pkt_duration, reader.stream->time_base, kHnsBase)
            : declaredFrameHns;
    if (timeHns >= job.stopHns) {
      // The first picture of the next segment, kept for it.
      if (!reader.pendingFrame) reader.pendingFrame = av::MakeFrame();
      if (reader.pendingFrame && frame != reader.pendingFrame.get()) {
        av_frame_unref(reader.pendingFrame.get());
        av_frame_ref(reader.pendingFrame.get(), frame);
      }
      return FrameVerdict::Enough;
    }
    reader.nextTime = timeHns + std::max<std::int64_t>(frameHns, 1);
    if (timeHns < job.startHns) {
      return FrameVerdict::More;  // between the key frame and the start
    }
    const std::vector<std::uint8_t>* packed = packer.Pack(frame);
    if (packed != nullptr) {
      sink.BufferCB(static_cast<double>(timeHns - job.startHns) / kHnsPerSecond, packed->data(),
                    packed->size());
      deliveredFrames.fetch_add(1, std::memory_order_relaxed);
    }
    return FrameVerdict::More;
  };

  LoopEnd end = LoopEnd::Stopped;
  if (reader.pendingFrame && reader.pendingFrame->buf[0] != nullptr &&
      onFrame(reader.pendingFrame.get()) == FrameVerdict::Enough) {
    end = LoopEnd::Enough;  // a picture that outlasts this segment too
  } else {
    if (reader.pendingFrame) av_frame_unref(reader.pendingFrame.get());
    end = DecodeFrames(reader, job, onFrame);
    for (std::int64_t back = kHnsPerSecond; seekAgain; back *= 2) {
      seekAgain = false;
      seekTarget = std::max<std::int64_t>(0, job.startHns - back);
      if (!reader.SeekTo(job, seekTarget)) return;
      reader.nextTime = seekTarget;
      checkFirst = true;
      end = DecodeFrames(reader, job, onFrame);
    }
  }
  if (end != LoopEnd::Stopped) reader.continueAtHns = job.stopHns;
}

bool DecodeAudioSegment(const SegmentJob& job, StreamDecoder& decoder, int sampleRate, int channels,
                        WavFileWriter& wav, std::atomic<std::uint64_t>& wavBytes) {
  wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
  if (job.stopHns <= job.startHns || sampleRate <= 0 || channels <= 0) {
    return wav.ok();
  }
  if (!decoder.reader) decoder.reader = std::make_unique<StreamReader>();
  StreamReader& reader = *decoder.reader;
  if (!reader.Position(job)) {
    return wav.ok();
  }
  // Sample positions count from the start of the file at the output rate.
  const std::int64_t firstSample = av_rescale(job.startHns, sampleRate, kHnsPerSecond);
  const std::int64_t endSample = av_rescale(job.stopHns, sampleRate, kHnsPerSecond);
  const AVRational sampleBase{1, sampleRate};
  const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
  // Up to 50 ms off the running count is timing noise, a larger step a gap.
  const std::int64_t gapSamples = sampleRate / 20;

  std::int64_t written = firstSample;  // next sample position the file receives
  if (!reader.continuing) reader.nextTime = reader.seeked ? firstSample : 0;
  bool writeFailed = false;
  PcmConverter converter(sampleRate, channels);
  std::vector<std::uint8_t> pcm;
  const std::vector<std::uint8_t> silence(frameBytes * 4096, 0);

  const auto writeSilence = [&](std::int64_t samples) {
    while (samples > 0 && !writeFailed) {
      const std::int64_t chunk = std::min<std::int64_t>(samples, 4096);
      writeFailed = !wav.Append(silence.data(), static_cast<std::size_t>(chunk) * frameBytes);
      samples -= chunk;
      written += chunk;
    }
  };
  // Writes the part of `samples` samples at `position` that lies in the
  // segment; what lies beyond its end is kept for the next segment.
  const auto consume = [&](const std::uint8_t* data, std::int64_t position, std::int64_t samples) {
    const std::int64_t beyond = std::max(position, endSample);
    if (position + samples > beyond) {
      const std::uint8_t* tail = data + static_cast<std::size_t>(beyond - position) * frameBytes;
      reader.pendingPcm.assign(
          tail, tail + static_cast<std::size_t>(position + samples - beyond) * frameBytes);
      reader.pendingPosition = beyond;
    }
    if (position >= endSample) {
      return FrameVerdict::Enough;
    }
    // A stream that starts late, or a gap in it, becomes silence.
    if (position > written) {
      writeSilence(std::min(position, endSample) - written);
    }
    const std::int64_t from = std::max(position, written);
    const std::int64_t to = std::min(position + samples, endSample);
    if (to > from && !writeFailed) {
      writeFailed = !wav.Append(data + static_cast<std::size_t>(from - position) * frameBytes,
                                static_cast<std::size_t>(to - from) * frameBytes);
      written = to;
    }
    wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
    return writeFailed || written >= endSample ? FrameVerdict::Enough : FrameVerdict::More;
  };

  LoopEnd end = LoopEnd::Stopped;
  std::vector<std::uint8_t> held;
  held.swap(reader.pendingPcm);
  if (!held.empty() &&
      consume(held.data(), reader.pendingPosition,
              static_cast<std::int64_t>(held.size() / frameBytes)) == FrameVerdict::Enough) {
    end = LoopEnd::Enough;  // the samples read ahead reach beyond this segment too
  } else {
    end = DecodeFrames(reader, job, [&](const AVFrame* frame) {
      int samples = 0;
      if (!converter.Convert(frame, pcm, samples) || samples <= 0) {
        return FrameVerdict::More;
      }
      std::int64_t position = reader.nextTime;
      if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        const std::int64_t stamped = av_rescale_q(frame->best_effort_timestamp - reader.originTs,
                                                  reader.stream->time_base, sampleBase);
        if (reader.firstFrame || std::abs(stamped - reader.nextTime) > gapSamples) {
          position = stamped;
        }
      }
      reader.firstFrame = false;
      reader.nextTime = position + samples;
      return consume(pcm.data(), position, samples);
    });
  }
  wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
  if (end != LoopEnd::Stopped && !writeFailed) reader.continueAtHns = job.stopHns;
  return !writeFailed && wav.ok();
}

}  // namespace zel
