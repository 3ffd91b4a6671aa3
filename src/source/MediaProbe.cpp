#include "source/MediaProbe.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace zel {

namespace {

std::int64_t DurationHns(const AVFormatContext* input, std::initializer_list<int> streams) {
  if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
    return av_rescale(input->duration, kHnsPerSecond, AV_TIME_BASE);
  }
  std::int64_t longest = 0;
  for (int index : streams) {
    if (index < 0) continue;
    const AVStream* stream = input->streams[index];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
      longest = std::max(longest, av_rescale_q(stream->duration, stream->time_base,
                                               AVRational{1, static_cast<int>(kHnsPerSecond)}));
    }
  }
  return longest;
}

struct PacketEnd {
  std::int64_t hns = 0;   // from the file's start; 0 when no packet was read
  bool complete = false;  // read to the end of the file
};

// The end of the last packet of the chosen streams from the reading
// position on. Stops early once a packet ends after stopAfterHns, or once
// byteLimit bytes of packets have been read.
PacketEnd PacketEndHns(AVFormatContext* input, std::initializer_list<int> streams,
                       std::int64_t stopAfterHns = INT64_MAX, std::int64_t byteLimit = INT64_MAX) {
  const AVRational hns{1, static_cast<int>(kHnsPerSecond)};
  const std::int64_t origin = input->start_time != AV_NOPTS_VALUE
                                  ? av_rescale_q(input->start_time, AV_TIME_BASE_Q, hns)
                                  : 0;
  PacketEnd end;
  av::PacketPtr packet = av::MakePacket();
  if (!packet) return end;
  std::int64_t bytes = 0;
  for (;;) {
    if (end.hns > stopAfterHns || bytes > byteLimit) return end;
    if (av_read_frame(input, packet.get()) < 0) break;
    bytes += packet->size;
    const int index = packet->stream_index;
    const bool chosen = std::find(streams.begin(), streams.end(), index) != streams.end();
    const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (chosen && ts != AV_NOPTS_VALUE) {
      const AVRational base = input->streams[index]->time_base;
      end.hns = std::max(
          end.hns,
          av_rescale_q(ts + std::max<std::int64_t>(packet->duration, 0), base, hns) - origin);
    }
    av_packet_unref(packet.get());
  }
  end.complete = true;
  return end;
}

// The length of the file's content. A header can claim a length the file
// does not hold: none (a cut-off download, a raw stream), 0 (a recording
// that was never finished), or hours for seconds of content (a damaged
// header), and a range taken from such a claim gives empty files or hours
// of silence. The packets at the claimed end tell (any packet will do, as
// nothing is decoded): when they end well before it, or go on well after
// it, the file is read through once for its real length. Where the seek
// lands far from the end, a few megabytes of packets are read at most and
// the claim stands.
std::int64_t ContentDurationHns(AVFormatContext* input, std::initializer_list<int> streams,
                                std::int64_t declaredHns) {
  if (declaredHns > 0) {
    constexpr std::int64_t kTailBytes = 8 << 20;
    const std::int64_t tolerance = std::max<std::int64_t>(2 * kHnsPerSecond, declaredHns / 20);
    const std::int64_t origin = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
    const std::int64_t target = origin + av_rescale(declaredHns, AV_TIME_BASE, kHnsPerSecond);
    if (avformat_seek_file(input, -1, INT64_MIN, target, target, AVSEEK_FLAG_ANY) < 0) {
      return declaredHns;  // cannot tell: the claim stands
    }
    const PacketEnd tail = PacketEndHns(input, streams, declaredHns + tolerance, kTailBytes);
    const bool tooLong = tail.complete && tail.hns < declaredHns - tolerance;
    const bool tooShort = tail.hns > declaredHns + tolerance;
    if (!tooLong && !tooShort) return declaredHns;
    if (avformat_seek_file(input, -1, INT64_MIN, origin, origin, 0) < 0) return declaredHns;
  }
  return PacketEndHns(input, streams).hns;
}

void FillVideoInfo(const AVStream* stream, MediaInfo& info) {
  const AVRational rate = stream->avg_frame_rate;
  const bool declared = rate.num > 0 && rate.den > 0;
  info.frameDurationHns = declared ? av_rescale(kHnsPerSecond, rate.den, rate.num) : 0;
  // The whole frames per second of the exact rate: 60 for 60/1 (a rounded
  // frame time of 166667 would give 59), 29 for 30000/1001. Frames longer
  // than a second would give 0; 1 is the slowest rate the encoders and the
  // status line can work with.
  info.frameRate = declared ? std::max(1, rate.num / rate.den)
                            : static_cast<int>(kHnsPerSecond / kDefaultFrameHns);
  if (declared) {
    av_reduce(&info.frameRateNum, &info.frameRateDen, rate.num, rate.den, INT_MAX);
  }
  info.width = stream->codecpar->width & ~1;
  info.height = stream->codecpar->height & ~1;
  info.displayWidth = info.width;
  info.displayHeight = info.height;
  if (info.height > 240) {
    info.displayHeight = 288;
    info.displayWidth = (info.width * 1000 / info.height) * 288 / 1000;
  }
}

}  // namespace

ProbedStreams ProbeMedia(AVFormatContext* input, bool wantAudio, bool wantVideo, MediaInfo& info) {
  ProbedStreams streams;
  info = MediaInfo{};
  if (wantVideo) {
    av::OpenedDecoder video = av::OpenFirstDecodable(input, AVMEDIA_TYPE_VIDEO);
    if (video) {
      streams.videoStream = video.streamIndex;
      info.hasVideo = true;
      AVStream* stream = input->streams[video.streamIndex];
      FillVideoInfo(stream, info);
      const AVRational sar = av_guess_sample_aspect_ratio(input, stream, nullptr);
      if (sar.num > 0 && sar.den > 0) {
        info.sampleAspectNum = sar.num;
        info.sampleAspectDen = sar.den;
      }
    }
  }
  if (wantAudio) {
    av::OpenedDecoder audio = av::OpenFirstDecodable(input, AVMEDIA_TYPE_AUDIO);
    if (audio && audio.codec->sample_rate > 0 && audio.codec->ch_layout.nb_channels > 0) {
      streams.audioStream = audio.streamIndex;
      info.hasAudio = true;
      info.sampleRate = audio.codec->sample_rate;
      info.channels = std::min(audio.codec->ch_layout.nb_channels, 2);
    }
  }
  info.durationHns = DurationHns(input, {streams.videoStream, streams.audioStream});
  if (info.hasAudio || info.hasVideo) {
    info.durationHns =
        ContentDurationHns(input, {streams.videoStream, streams.audioStream}, info.durationHns);
  }
  return streams;
}

}  // namespace zel
