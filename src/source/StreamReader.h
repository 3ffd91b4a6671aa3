#pragma once

// The pieces shared by every decoding loop of the source: one stream of a
// file on a demuxer of its own, the loop that feeds its decoder, and the
// conversion of decoded pictures to packed YV12.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "General/MediaTypes.h"
#include "source/LibavHandles.h"

namespace zel {

inline constexpr AVRational kHnsBase{1, static_cast<int>(kHnsPerSecond)};

// One stretch of one stream: [startHns, stopHns) in file time, where 0 is
// the start of the file.
struct SegmentJob {
  std::string path;
  int streamIndex = -1;
  std::int64_t startHns = 0;
  std::int64_t stopHns = 0;
  // Polled between packets; true ends the loop early.
  std::function<bool()> shouldStop;
  // Counts every packet read and frame decoded, also those that deliver
  // nothing yet (decoding from a distant key frame up to the start), so a
  // watcher can tell slow work from a stall. May be null.
  std::atomic<std::uint64_t>* work = nullptr;
  // How far into the segment the stream has delivered, 100-ns units from
  // its start; for progress. May be null.
  std::atomic<std::int64_t>* reachedHns = nullptr;
};

// One stream of the file on a demuxer of its own. It lives for the whole
// conversion: opening a file (with its stream probing) costs more than a
// short segment's decoding, so a segment seeks and flushes, and one that
// starts where the previous one stopped (a split job) simply goes on reading.
struct StreamReader {
  av::InputPtr input;
  av::OpenedDecoder decoder;
  AVStream* stream = nullptr;
  std::int64_t originTs = 0;
  bool seeked = false;      // the current segment began with a seek
  bool used = false;        // has decoded a segment: its position is somewhere in the file
  bool continuing = false;  // this segment goes on from the previous one
  bool draining = false;    // the demuxer is at its end; the decoder is being emptied
  bool ended = false;       // the decoder is empty: nothing more comes
  // Packets already read, which DecodeFrames takes before reading on (the
  // preview reads ahead from a seek to find the key frame to decode from).
  std::deque<av::PacketPtr> readAhead;
  int decoderThreads = 1;  // slice threads of the decoder that Open makes
  // Where the last segment stopped when it stopped there, else -1.
  std::int64_t continueAtHns = -1;
  // What the last segment read beyond its stop: converted samples with their
  // position (audio).
  std::vector<std::uint8_t> pendingPcm;
  std::int64_t pendingPosition = 0;
  // Running time of the stream, for frames without a time stamp: 100-ns
  // units (video) or samples (audio).
  std::int64_t nextTime = 0;
  bool firstFrame = true;
  // Why the stream could not be delivered whole: a libav error of opening
  // or reading the file, of a decoder call or of a picture's conversion; 0
  // while all is well. Damaged data is no failure: it is skipped.
  int failure = 0;
  // The end of the last packet of the stream read since the last seek (file
  // time; -1: none yet), and whether a packet without a time was read.
  std::int64_t packetEndHns = -1;
  bool untimedPackets = false;
  // Whether decoded samples reached the last audio segment: its sound is
  // not only the silence that fills a gap or a stream that never decodes.
  bool soundPlaced = false;

  bool Open(const SegmentJob& job);
  // Positions on the job's segment: back to the last key frame at or before
  // its start; the frames up to the start are decoded and dropped. A file
  // that cannot seek is read again from its beginning, which gives the same
  // frames, only later.
  bool Position(const SegmentJob& job);
  // Seeks back to the last key frame at or before targetHns (file time) and
  // empties the decoder. False when the file can no longer be read.
  bool SeekTo(const SegmentJob& job, std::int64_t targetHns);
  void Restart();

  // Where a decoded audio frame of `samples` samples lies, in samples at
  // rate from the start of the file: at its time stamp where that is off the
  // running count by more than timing noise (50 ms: the first frame, or a
  // gap, which then becomes silence), else right after its predecessor.
  // Advances the running count.
  std::int64_t PlaceAudioFrame(const AVFrame* frame, int samples, int rate);

  std::int64_t HnsOf(std::int64_t ts) const {
    return av_rescale_q(ts - originTs, stream->time_base, kHnsBase);
  }
  void NotePacket(const AVPacket& packet);
};

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
  const auto worked = [&job] {
    if (job.work != nullptr) job.work->fetch_add(1, std::memory_order_relaxed);
  };
  for (;;) {
    if (job.shouldStop && job.shouldStop()) {
      return LoopEnd::Stopped;
    }
    const int received = avcodec_receive_frame(codec, frame.get());
    if (received >= 0) {
      worked();
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
    // EAGAIN wants input; any other error but a lack of memory was a damaged
    // frame, after which the decoder goes on with what follows.
    if (received == AVERROR(ENOMEM)) {
      reader.failure = received;
      return LoopEnd::Stopped;
    }
    int rc = 0;
    if (!reader.readAhead.empty()) {
      av_packet_move_ref(packet.get(), reader.readAhead.front().get());
      reader.readAhead.pop_front();
    } else {
      rc = av_read_frame(input, packet.get());
    }
    worked();
    if (rc < 0) {
      // The demuxer's end; an error of the file itself (not of its content)
      // is a failure, as is one of the decoder taking no more input.
      if (input->pb != nullptr && input->pb->error < 0) reader.failure = input->pb->error;
      const int drained = avcodec_send_packet(codec, nullptr);
      if (drained < 0 && drained != AVERROR_EOF) reader.failure = drained;
      if (reader.failure != 0) return LoopEnd::Stopped;
      reader.draining = true;
      continue;
    }
    if (packet->stream_index == job.streamIndex) {
      reader.NotePacket(*packet);
      // A damaged packet is skipped; a decoder that cannot take it (no
      // memory, or one that wants its frames taken first) ends the stream.
      const int sent = avcodec_send_packet(codec, packet.get());
      if (sent == AVERROR(ENOMEM) || sent == AVERROR(EAGAIN) || sent == AVERROR_EOF) {
        reader.failure = sent;
        return LoopEnd::Stopped;
      }
    }
    av_packet_unref(packet.get());
  }
}

// Converts decoded pictures to one packed YV12 frame of a fixed size: the Y
// plane, then V, then U, each without row padding.
class Yv12Packer {
 public:
  Yv12Packer(int width, int height);
  // Null when the picture cannot be converted: failed() tells whether the
  // conversion failed, or the picture was too small to give a whole frame.
  const std::vector<std::uint8_t>* Pack(const AVFrame* picture);
  bool failed() const { return failed_; }

 private:
  int width_;
  int height_;
  av::SwsPtr sws_;
  av::FramePtr scaled_;
  std::vector<std::uint8_t> packed_;
  bool failed_ = false;
};

}  // namespace zel
