#pragma once

// The two streaming loops of the conversion source. Each opens the file on
// its own demuxer, so audio and video are read and decoded independently.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "General/MediaTypes.h"

struct AVFrame;

namespace zel {

class FrameSeeker;
class PcmConverter;
class VideoFrameSink;
class WavFileWriter;

struct SegmentJob;
struct StreamReader;
class Yv12Packer;

// The demuxer, decoder and picture converter of one stream, kept from one
// segment to the next.
struct StreamDecoder {
  StreamDecoder();
  ~StreamDecoder();
  void Reset();                          // closes the demuxer and decoder
  std::unique_ptr<StreamReader> reader;  // sound
  std::unique_ptr<FrameSeeker> seeker;   // pictures
  std::unique_ptr<Yv12Packer> packer;
  std::unique_ptr<PcmConverter> converter;  // sound: to the WAV file's format
  int converterRate = 0, converterChannels = 0;
};

// Hands the picture the preview shows at the segment's start (at 0) and every
// one after it in the segment to the sink as packed YV12 (Y, V, U) of width x
// height, timed in seconds from the segment's start. A stream that could not
// be positioned, read, decoded or converted ends early with the reader's
// failure set.
void DecodeVideoSegment(const SegmentJob& job, StreamDecoder& decoder, int width, int height,
                        VideoFrameSink& sink, std::atomic<std::uint64_t>& deliveredFrames);

// The two halves of DecodeVideoSegment, for running them on two threads:
// the decoded pictures of the segment and their times from its start (100-ns
// units), in order, while handOver returns true; and one picture packed and
// handed to the sink (Dropped: too small to give a whole frame).
void WalkSegmentPictures(const SegmentJob& job, StreamDecoder& decoder,
                         const std::function<bool(const AVFrame*, std::int64_t)>& handOver);
enum class PictureDelivery { Delivered, Dropped, Failed };
PictureDelivery DeliverPicture(Yv12Packer& packer, const AVFrame* frame, std::int64_t timeHns,
                               VideoFrameSink& sink);

enum class AudioSegmentResult { Written, WriteFailed, Undecodable, ReadFailed };

// Decodes the audio stream and appends exactly the samples of the segment, as
// interleaved 16-bit PCM at sampleRate with channels (1 or 2), resampled and
// mixed by PcmConverter, to the WAV file. wavBytes follows the file's size. WriteFailed when
// writing failed, Undecodable when the decoded sound cannot be converted to PCM (a layout of
// hundreds of channels, say), ReadFailed when the stream could not be positioned, read or
// decoded (the reader's failure says why): the segment must not pass for one with sound.
AudioSegmentResult DecodeAudioSegment(const SegmentJob& job, StreamDecoder& decoder, int sampleRate,
                                      int channels, WavFileWriter& wav,
                                      std::atomic<std::uint64_t>& wavBytes);

// The same, handing the PCM to write (whole sample frames; false ends the
// decoding as WriteFailed) instead of a WAV file.
using PcmWrite = std::function<bool(const std::uint8_t*, std::size_t)>;
AudioSegmentResult DecodeAudio(const SegmentJob& job, StreamDecoder& decoder, int sampleRate,
                               int channels, const PcmWrite& write);

}  // namespace zel
