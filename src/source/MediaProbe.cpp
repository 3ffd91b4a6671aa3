#include "source/MediaProbe.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "source/PictureRotation.h"

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

// The times of one stream's packets in reading order. A damaged time field
// throws a packet (or a few) far off the stream's timeline while the
// packets after it go on where the timeline was, so the stream's end is
// that of its timeline: a jump becomes part of it only when the packets
// after it confirm it (a real gap in the stream), or when it ends within
// a ceiling that the file's header agrees with.
class StreamTimeline {
 public:
  void Add(std::int64_t timeHns, std::int64_t endHns, std::int64_t ceilingHns) {
    if (main_.count == 0 || main_.Takes(timeHns)) {
      main_.Add(timeHns, endHns);
      return;
    }
    if (endHns <= ceilingHns) plausibleEnd_ = std::max(plausibleEnd_, endHns);
    if (!stray_.Takes(timeHns)) stray_ = Run{};
    stray_.Add(timeHns, endHns);
    if (stray_.count >= kConfirming) {
      // A real jump, or the timeline began with a stray packet.
      if (main_.count >= kConfirming) settledEnd_ = std::max(settledEnd_, main_.end);
      main_ = stray_;
      stray_ = Run{};
    }
  }
  std::int64_t End() const { return std::max({settledEnd_, main_.end, plausibleEnd_}); }

 private:
  static constexpr int kConfirming = 8;
  // Packets whose times follow each other: a step of at most four average
  // steps, and never less than a second (B-pictures come in decoding order).
  struct Run {
    int count = 0;
    std::int64_t first = 0, last = 0, end = 0;
    bool Takes(std::int64_t timeHns) const {
      if (count == 0) return true;
      const std::int64_t step = count > 1 ? (last - first) / (count - 1) : 10 * kHnsPerSecond;
      const std::int64_t gap = std::max<std::int64_t>(kHnsPerSecond, 4 * step);
      return timeHns >= last - gap && timeHns <= last + gap;
    }
    void Add(std::int64_t timeHns, std::int64_t endHns) {
      if (count++ == 0) first = last = timeHns;
      last = std::max(last, timeHns);
      end = std::max(end, endHns);
    }
  };
  Run main_, stray_;
  std::int64_t settledEnd_ = 0, plausibleEnd_ = 0;
};

// The end of the last packet of the chosen streams from the reading
// position on, by their timelines (stray times that end beyond ceilingHns
// are left out). Stops early once a packet ends after stopAfterHns, or
// once byteLimit bytes of packets have been read.
PacketEnd PacketEndHns(AVFormatContext* input, std::initializer_list<int> streams,
                       std::int64_t ceilingHns = INT64_MIN, std::int64_t stopAfterHns = INT64_MAX,
                       std::int64_t byteLimit = INT64_MAX) {
  const AVRational hns{1, static_cast<int>(kHnsPerSecond)};
  const std::int64_t origin = input->start_time != AV_NOPTS_VALUE
                                  ? av_rescale_q(input->start_time, AV_TIME_BASE_Q, hns)
                                  : 0;
  PacketEnd end;
  av::PacketPtr packet = av::MakePacket();
  if (!packet) return end;
  std::vector<StreamTimeline> timelines(streams.size());
  std::int64_t bytes = 0;
  for (;;) {
    if (end.hns > stopAfterHns || bytes > byteLimit) return end;
    if (av_read_frame(input, packet.get()) < 0) break;
    bytes += packet->size;
    const int index = packet->stream_index;
    const auto chosen = std::find(streams.begin(), streams.end(), index);
    const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (chosen != streams.end() && ts != AV_NOPTS_VALUE) {
      const AVRational base = input->streams[index]->time_base;
      const std::int64_t start = av_rescale_q(ts, base, hns) - origin;
      const std::int64_t length =
          av_rescale_q(std::max<std::int64_t>(packet->duration, 0), base, hns);
      StreamTimeline& timeline = timelines[static_cast<std::size_t>(chosen - streams.begin())];
      timeline.Add(start, start + length, ceilingHns);
      end.hns = std::max(end.hns, timeline.End());
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
    const std::int64_t tolerance = LengthToleranceHns(declaredHns);
    const std::int64_t origin = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
    const std::int64_t target = origin + av_rescale(declaredHns, AV_TIME_BASE, kHnsPerSecond);
    if (avformat_seek_file(input, -1, INT64_MIN, target, target, AVSEEK_FLAG_ANY) < 0) {
      return declaredHns;  // cannot tell: the claim stands
    }
    const PacketEnd tail =
        PacketEndHns(input, streams, declaredHns + tolerance, declaredHns + tolerance, kTailBytes);
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
  info.rotation = DisplayRotation(stream);
  const bool sideways = TurnsSideways(info.rotation);
  info.width = (sideways ? stream->codecpar->height : stream->codecpar->width) & ~1;
  info.height = (sideways ? stream->codecpar->width : stream->codecpar->height) & ~1;
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
    const AVCodecParameters* picture =
        video ? input->streams[video.streamIndex]->codecpar : nullptr;
    if (picture && (picture->width > kMaxPictureSide || picture->height > kMaxPictureSide)) {
      info.refusedWidth = picture->width;
      info.refusedHeight = picture->height;
    } else if (video) {
      streams.videoStream = video.streamIndex;
      info.hasVideo = true;
      AVStream* stream = input->streams[video.streamIndex];
      FillVideoInfo(stream, info);
      const AVRational sar = av_guess_sample_aspect_ratio(input, stream, nullptr);
      if (sar.num > 0 && sar.den > 0) {
        const bool sideways = TurnsSideways(info.rotation);
        info.sampleAspectNum = sideways ? sar.den : sar.num;
        info.sampleAspectDen = sideways ? sar.num : sar.den;
      }
    }
  }
  if (wantAudio) {
    av::OpenedDecoder audio = av::OpenFirstDecodable(input, AVMEDIA_TYPE_AUDIO);
    const int rate = audio ? audio.codec->sample_rate : 0;
    const int channels = audio ? audio.codec->ch_layout.nb_channels : 0;
    if (rate > 0 && channels > 0 &&
        (rate < kMinSampleRateHz || rate > kMaxSampleRateHz || channels > kMaxChannels)) {
      // A header that claims 1 Hz turns seconds of data into hours of sound.
      info.refusedRateHz = rate;
      info.refusedChannels = channels;
    } else if (audio && rate > 0 && channels > 0) {
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
