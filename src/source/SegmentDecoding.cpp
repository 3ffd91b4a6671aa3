#include "source/SegmentDecoding.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "General/Log.h"
#include "source/LibavHandles.h"
#include "source/PcmConverter.h"
#include "source/Positioning.h"
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
  seeker.reset();
  packer.reset();
  converter.reset();
}

void WalkSegmentPictures(const SegmentJob& job, StreamDecoder& decoder,
                         const std::function<bool(const AVFrame*, std::int64_t)>& handOver) {
  if (job.stopHns <= job.startHns) return;
  if (!decoder.seeker) decoder.seeker = std::make_unique<FrameSeeker>();
  FrameSeeker& seeker = *decoder.seeker;
  // The pictures the segment needs at most: the one on show and the next.
  if (!seeker.isOpen() && !seeker.Open(job.path, job.streamIndex, 0, nullptr, 1)) {
    return;
  }
  seeker.SetStop(job.shouldStop, job.work);
  // The picture on show at the start comes at 0, each one after it at its
  // time from the start; a segment after the last picture keeps showing it.
  WalkPictures(seeker, job.startHns, job.stopHns, [&](const DecodedPicture& picture) {
    return handOver(picture.frame.get(), std::max(picture.timeHns, job.startHns) - job.startHns);
  });
  seeker.SetStop({}, nullptr);
}

PictureDelivery DeliverPicture(Yv12Packer& packer, const AVFrame* frame, std::int64_t timeHns,
                               VideoFrameSink& sink) {
  const std::vector<std::uint8_t>* packed = packer.Pack(frame);
  if (packed == nullptr) {
    // libswscale could not convert it: the stream fails.
    return packer.failed() ? PictureDelivery::Failed : PictureDelivery::Dropped;
  }
  sink.BufferCB(static_cast<double>(timeHns) / kHnsPerSecond, packed->data(), packed->size());
  return PictureDelivery::Delivered;
}

void DecodeVideoSegment(const SegmentJob& job, StreamDecoder& decoder, int width, int height,
                        VideoFrameSink& sink, std::atomic<std::uint64_t>& deliveredFrames) {
  if (width <= 0 || height <= 0) return;
  if (!decoder.packer) decoder.packer = std::make_unique<Yv12Packer>(width, height);
  WalkSegmentPictures(job, decoder, [&](const AVFrame* frame, std::int64_t timeHns) {
    const PictureDelivery delivery = DeliverPicture(*decoder.packer, frame, timeHns, sink);
    if (delivery == PictureDelivery::Failed) decoder.seeker->Fail(AVERROR_EXTERNAL);
    if (delivery != PictureDelivery::Delivered) return delivery == PictureDelivery::Dropped;
    deliveredFrames.fetch_add(1, std::memory_order_relaxed);
    if (job.reachedHns) job.reachedHns->store(timeHns, std::memory_order_relaxed);
    return true;
  });
}

AudioSegmentResult DecodeAudioSegment(const SegmentJob& job, StreamDecoder& decoder, int sampleRate,
                                      int channels, WavFileWriter& wav,
                                      std::atomic<std::uint64_t>& wavBytes) {
  wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
  const AudioSegmentResult result = DecodeAudio(
      job, decoder, sampleRate, channels, [&](const std::uint8_t* data, std::size_t bytes) {
        const bool written = wav.Append(data, bytes);
        wavBytes.store(WavFileWriter::kHeaderBytes + wav.dataBytes());
        return written;
      });
  return result == AudioSegmentResult::Written && !wav.ok() ? AudioSegmentResult::WriteFailed
                                                            : result;
}

AudioSegmentResult DecodeAudio(const SegmentJob& job, StreamDecoder& decoder, int sampleRate,
                               int channels, const PcmWrite& write) {
  const auto result = [](bool written) {
    return written ? AudioSegmentResult::Written : AudioSegmentResult::WriteFailed;
  };
  if (job.stopHns <= job.startHns || sampleRate <= 0 || channels <= 0) {
    return result(true);
  }
  if (!decoder.reader) decoder.reader = std::make_unique<StreamReader>();
  StreamReader& reader = *decoder.reader;
  reader.soundPlaced = false;
  if (!reader.Position(job)) {
    return AudioSegmentResult::ReadFailed;  // the stream's failure says why
  }
  // Sample positions count from the start of the file at the output rate.
  const std::int64_t firstSample = av_rescale(job.startHns, sampleRate, kHnsPerSecond);
  const std::int64_t endSample = av_rescale(job.stopHns, sampleRate, kHnsPerSecond);
  const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;

  if (!reader.continuing) reader.nextTime = reader.seeked ? firstSample : 0;
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
  SoundTimeline timeline(firstSample, endSample, frameBytes, write, job.shouldStop);

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
    if (samples > 0 && position + samples > firstSample && position < endSample) {
      reader.soundPlaced = true;
    }
    timeline.Place(data, position, samples);
    if (job.reachedHns) {
      job.reachedHns->store(av_rescale(timeline.written() - firstSample, kHnsPerSecond, sampleRate),
                            std::memory_order_relaxed);
    }
    return timeline.done() ? FrameVerdict::Enough : FrameVerdict::More;
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
  if (end == LoopEnd::Ended && !timeline.full()) {
    // The stream's last samples, still in the resampling filter.
    int samples = 0;
    converter.Flush(pcm, samples);
    if (samples > 0) consume(pcm.data(), reader.nextTime, samples);
  }
  // A stream that ends before the segment does (sound shorter than the
  // pictures) is completed with silence, so every segment of the range has
  // its whole length of sound.
  if (end == LoopEnd::Ended) timeline.FillTo(endSample);
  if (end != LoopEnd::Stopped && !timeline.failed()) reader.continueAtHns = job.stopHns;
  return result(!timeline.failed());
}

}  // namespace zel
