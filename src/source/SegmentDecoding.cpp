#include "source/SegmentDecoding.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "General/Log.h"
#include "source/LibavHandles.h"
#include "source/PcmConverter.h"
#include "source/StreamReader.h"
#include "source/VideoFrameSink.h"
#include "source/WavFileWriter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace zel {

StreamDecoder::StreamDecoder() = default;
StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::Reset() {
  reader.reset();
  packer.reset();
  converter.reset();
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
  bool checkFirst = reader.seeked;  // never for a segment that goes on from the last one
  bool seekAgain = false;
  std::int64_t seekTarget = job.startHns;

  bool delivered = false;
  const auto deliver = [&](const AVFrame* frame, std::int64_t timeHns) {
    const std::vector<std::uint8_t>* packed = packer.Pack(frame);
    if (packed == nullptr) {
      if (packer.failed()) reader.failure = AVERROR_EXTERNAL;  // libswscale could not convert it
      return;
    }
    sink.BufferCB(static_cast<double>(timeHns - job.startHns) / kHnsPerSecond, packed->data(),
                  packed->size());
    delivered = true;
    deliveredFrames.fetch_add(1, std::memory_order_relaxed);
    if (job.reachedHns) job.reachedHns->store(timeHns - job.startHns, std::memory_order_relaxed);
  };
  // A segment that starts between two pictures (inside a gap, or just
  // before the next picture) shows the last one before it from its start.
  const auto deliverHeld = [&] {
    if (!delivered && reader.heldFrame && reader.heldFrame->buf[0] != nullptr) {
      deliver(reader.heldFrame.get(), job.startHns);
    }
  };
  // Keeps a reference to the picture in slot; without memory for it the
  // stream fails.
  const auto keep = [&reader](av::FramePtr& slot, const AVFrame* frame) {
    if (!slot) slot = av::MakeFrame();
    if (!slot) {
      reader.failure = AVERROR(ENOMEM);
    } else if (frame != slot.get()) {
      av_frame_unref(slot.get());
      if (const int rc = av_frame_ref(slot.get(), frame); rc < 0) reader.failure = rc;
    }
  };

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
      keep(reader.pendingFrame, frame);
      deliverHeld();
      return FrameVerdict::Enough;
    }
    reader.nextTime = timeHns + std::max<std::int64_t>(frameHns, 1);
    if (timeHns > job.startHns) deliverHeld();
    // Every picture is held: before the start it may be the one the segment
    // opens with, and the last of a segment may be the next one's.
    keep(reader.heldFrame, frame);
    if (timeHns >= job.startHns && reader.failure == 0) deliver(frame, timeHns);
    if (reader.failure != 0) return FrameVerdict::Enough;
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
  // A segment after the last picture keeps showing it.
  if (end != LoopEnd::Stopped) deliverHeld();
  if (end != LoopEnd::Stopped) reader.continueAtHns = job.stopHns;
}

AudioSegmentResult DecodeAudioSegment(const SegmentJob& job, StreamDecoder& decoder, int sampleRate,
                                      int channels, WavFileWriter& wav,
                                      std::atomic<std::uint64_t>& wavBytes) {
  const auto result = [&wav](bool written) {
    return written && wav.ok() ? AudioSegmentResult::Written : AudioSegmentResult::WriteFailed;
  };
  wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
  if (job.stopHns <= job.startHns || sampleRate <= 0 || channels <= 0) {
    return result(true);
  }
  if (!decoder.reader) decoder.reader = std::make_unique<StreamReader>();
  StreamReader& reader = *decoder.reader;
  if (!reader.Position(job)) {
    return AudioSegmentResult::ReadFailed;  // the stream's failure says why
  }
  // Sample positions count from the start of the file at the output rate.
  const std::int64_t firstSample = av_rescale(job.startHns, sampleRate, kHnsPerSecond);
  const std::int64_t endSample = av_rescale(job.stopHns, sampleRate, kHnsPerSecond);
  const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;

  std::int64_t written = firstSample;  // next sample position the file receives
  if (!reader.continuing) reader.nextTime = reader.seeked ? firstSample : 0;
  bool writeFailed = false;
  bool undecodable = false;
  // A segment that goes on from the last one keeps its converter, so the
  // resampling filter runs on across the cut.
  if (!reader.continuing || !decoder.converter || decoder.converterRate != sampleRate ||
      decoder.converterChannels != channels) {
    decoder.converter = std::make_unique<PcmConverter>(sampleRate, channels);
    decoder.converterRate = sampleRate;
    decoder.converterChannels = channels;
  }
  PcmConverter& converter = *decoder.converter;
  std::vector<std::uint8_t> pcm;
  const std::vector<std::uint8_t> silence(frameBytes * 4096, 0);

  const auto writeSilence = [&](std::int64_t samples) {
    // A long gap is many chunks: an abort is heard between them.
    while (samples > 0 && !writeFailed && !(job.shouldStop && job.shouldStop())) {
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
      // A gap that runs past the segment's end: silence up to the end.
      if (written < endSample) writeSilence(endSample - written);
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
    if (job.reachedHns) {
      job.reachedHns->store(av_rescale(written - firstSample, kHnsPerSecond, sampleRate),
                            std::memory_order_relaxed);
    }
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
      if (!converter.Convert(frame, pcm, samples)) {
        undecodable = true;
        return FrameVerdict::Enough;
      }
      if (samples <= 0) return FrameVerdict::More;
      const std::int64_t position = reader.PlaceAudioFrame(frame, samples, sampleRate);
      return consume(pcm.data(), position, samples);
    });
  }
  if (undecodable) return AudioSegmentResult::Undecodable;
  if (reader.failure != 0) return AudioSegmentResult::ReadFailed;
  if (end == LoopEnd::Ended && written < endSample) {
    // The stream's last samples, still in the resampling filter.
    int samples = 0;
    converter.Flush(pcm, samples);
    if (samples > 0) consume(pcm.data(), reader.nextTime, samples);
  }
  // A stream that ends before the segment does (sound shorter than the
  // pictures) is completed with silence, so every segment of the range has
  // its whole length of sound.
  if (end == LoopEnd::Ended && written < endSample) writeSilence(endSample - written);
  wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
  if (end != LoopEnd::Stopped && !writeFailed) reader.continueAtHns = job.stopHns;
  return result(!writeFailed);
}

}  // namespace zel
