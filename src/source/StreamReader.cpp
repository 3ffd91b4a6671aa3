#include "source/StreamReader.h"

#include <algorithm>
#include <cstdio>

#include "General/Log.h"

namespace zel {

namespace {

// The time stamp that counts as 0 in a stream: the start of the file, so
// that streams starting late keep their distance from the others.
std::int64_t FileOrigin(const AVFormatContext* input, const AVStream* stream) {
  if (input->start_time != AV_NOPTS_VALUE) {
    return av_rescale_q(input->start_time, AV_TIME_BASE_Q, stream->time_base);
  }
  return stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
}

}  // namespace

bool StreamReader::Open(const SegmentJob& job) {
  input = av::OpenInput(job.path, &failure);
  if (!input) {
    return false;
  }
  decoder = av::OpenStreamDecoder(input.get(), job.streamIndex, decoderThreads);
  if (!decoder) {
    input.reset();
    failure = AVERROR_DECODER_NOT_FOUND;
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

bool StreamReader::Position(const SegmentJob& job) {
  if (!input && !Open(job)) {
    return false;
  }
  continuing = used && job.startHns == continueAtHns;
  continueAtHns = -1;
  if (continuing) {
    // Whatever the earlier seek was, this segment did not begin with one.
    seeked = false;
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

bool StreamReader::SeekTo(const SegmentJob& job, std::int64_t targetHns) {
  const std::int64_t target = originTs + av_rescale_q(targetHns, kHnsBase, stream->time_base);
  const int rc = av_seek_frame(input.get(), job.streamIndex, target, AVSEEK_FLAG_BACKWARD);
  if (rc < 0) {
    LogError("seeking " + job.path + " failed: " + av::ErrorText(rc));
    if (used && !Open(job)) {
      return false;
    }
  }
  seeked = rc >= 0 && targetHns > 0;
  avcodec_flush_buffers(decoder.codec.get());
  Restart();
  return true;
}

std::int64_t StreamReader::PlaceAudioFrame(const AVFrame* frame, int samples, int rate) {
  std::int64_t position = nextTime;
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
    const std::int64_t stamped = av_rescale_q(frame->best_effort_timestamp - originTs,
                                              stream->time_base, AVRational{1, rate});
    if (firstFrame || std::abs(stamped - nextTime) > rate / 20) position = stamped;
  }
  firstFrame = false;
  nextTime = position + samples;
  return position;
}

void StreamReader::Restart() {
  pendingPcm.clear();
  readAhead.clear();
  draining = false;
  ended = false;
  firstFrame = true;
  packetEndHns = -1;
  untimedPackets = false;
}

void StreamReader::NotePacket(const AVPacket& packet) {
  const std::int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
  if (ts == AV_NOPTS_VALUE) {
    untimedPackets = true;
    return;
  }
  packetEndHns = std::max(packetEndHns, HnsOf(ts + std::max<std::int64_t>(packet.duration, 0)));
}

Yv12Packer::Yv12Packer(int width, int height) : width_(width), height_(height) {
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

const std::vector<std::uint8_t>* Yv12Packer::Pack(const AVFrame* picture) {
  // Odd sizes lose their last column or row so that the chroma planes
  // cover whole pixel pairs.
  const int sourceWidth = picture->width & ~1;
  const int sourceHeight = picture->height & ~1;
  failed_ = !scaled_;
  if (!scaled_ || sourceWidth <= 0 || sourceHeight <= 0) {
    return nullptr;
  }
  sws_.reset(sws_getCachedContext(sws_.release(), sourceWidth, sourceHeight,
                                  static_cast<AVPixelFormat>(picture->format), width_, height_,
                                  AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!sws_ || sws_scale(sws_.get(), picture->data, picture->linesize, 0, sourceHeight,
                         scaled_->data, scaled_->linesize) <= 0) {
    failed_ = true;
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

}  // namespace zel
