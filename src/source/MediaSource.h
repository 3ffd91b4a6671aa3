#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zel {

class VideoFrameSink;

// What opening a file tells about it.
struct MediaInfo {
  std::int64_t durationHns = 0;  // 100-ns units
  bool hasAudio = false;         // a decodable audio stream
  bool hasVideo = false;         // a decodable video stream that is not an attached picture
  // Video
  std::int64_t frameDurationHns = 0;  // average frame time; 0 when the file declares none
  // Whole frames per second of the exact rate (truncated), 30 when none is
  // declared. Frames longer than a second give 1 (never 0);
  // frameDurationHns keeps the real frame time.
  int frameRate = 0;
  // The exact rate as declared (30000/1001 for NTSC), reduced; both 0 when
  // the file declares none.
  int frameRateNum = 0, frameRateDen = 0;
  int width = 0, height = 0;                     // size of the delivered frames (even)
  int displayWidth = 0, displayHeight = 0;       // after the 288-line rule
  int sampleAspectNum = 0, sampleAspectDen = 0;  // the pixels' shape; 0: unknown (square)
  // How far the stored pictures are turned clockwise (0, 90, 180, 270) to
  // stand upright, as the frames are delivered; the sizes and the pixels'
  // shape above are those of the upright pictures.
  int rotation = 0;
  // Audio, as delivered into the WAV file (16-bit, at most two channels)
  int sampleRate = 0;
  int channels = 0;
  // A stream beyond what the converter takes counts as absent, and its own
  // values are kept here (0 when none was refused): sound outside
  // kMinSampleRateHz..kMaxSampleRateHz or with more than kMaxChannels
  // channels, pictures larger than kMaxPictureSide on a side. A file with
  // such a stream is not converted.
  int refusedRateHz = 0, refusedChannels = 0;
  int refusedWidth = 0, refusedHeight = 0;
};

inline constexpr int kMinSampleRateHz = 1000;
inline constexpr int kMaxSampleRateHz = 384000;
inline constexpr int kMaxChannels = 8;
inline constexpr int kMaxPictureSide = 8192;

// Opens path only to tell what it holds (streams, duration, formats); false
// when libavformat cannot read it.
bool ReadMediaInfo(const std::string& path, MediaInfo& info);

// File types the converter takes: wmv, avi, mpa, wav, wma, and mpg/mpeg whose
// audio is MPEG-1 Layer I or II.
// With anyInput, also every other file that libavformat opens and that holds
// a decodable audio or video stream (MP4, MOV, MKV, MP3, FLAC, ...).
bool IsSupportedInput(const std::string& path, bool anyInput = false);
// Whether path holds a decodable audio or video stream.
bool HoldsMedia(const std::string& path);

enum class MpegAudioLayer { Undetermined, Layer1, Layer2, Layer3, Mp3 };
MpegAudioLayer MpegAudioProbe(const std::string& path);

// Why a file could not be opened: there is no such file, or (the preview) it
// holds nothing that plays. The caller shows text::kRenderFileError for either.
enum class OpenResult { Opened, NoSuchFile, NothingPlays };

// Whether a conversion spreads its work over threads (the default), or runs
// it on as few as it can: ZEL_SINGLE_THREAD=1 in the environment. The files
// are the same either way.
bool OverlappedConversion();

// Opens, positions and decodes one input file for conversion: a segment at a
// time, on streaming threads: one decodes the audio, one the video, and a
// third hands the decoded pictures to the sink (so that their encoding
// overlaps the decoding; ZEL_SINGLE_THREAD=1 calls the sink on the decoding
// thread). The preview has a class of
// its own (PreviewSource), so that it goes on working during a conversion.
class MediaSource {
 public:
  MediaSource();
  ~MediaSource();
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  // Opens path for conversion. wantAudio/wantVideo false makes that stream
  // count as absent. NoSuchFile when there is no such file; a file that
  // exists but cannot be demuxed or decoded opens with neither stream present
  // (Opened), so the conversion makes nothing.
  OpenResult BuildConversionGraph(const std::string& path, bool wantAudio, bool wantVideo);
  const MediaInfo& info() const;

  // Positions on [startHns, stopHns) of the file.
  bool SetSegment(std::int64_t startHns, std::int64_t stopHns);
  // The WAV file that receives the segment's PCM (RIFF header first, sizes
  // fixed when the segment ends).
  void SetWavFileName(const std::string& path);
  // The rate and channel count of that PCM (0: the source's). The decoded
  // sound is resampled to them with a low-pass filter; two channels become
  // one by averaging, one becomes two by doubling.
  void SetPcmFormat(int sampleRate, int channels);
  void SetVideoSink(VideoFrameSink* sink);
  // When set, the streaming threads stop soon after it becomes true.
  void SetAbortFlag(const std::atomic<bool>* abortRequested);

  // Starts delivering the segment on two threads, each with its own demuxer.
  // The WAV file is created (with its header) whenever a name is set, also for
  // a file without audio. False when the WAV file cannot be created.
  bool Run();
  // The segment after the one Run started, and its WAV file. Once that one
  // has been delivered, Stop starts decoding this one (its sound into the
  // WAV file, a bounded number of pictures), so that it decodes while the
  // caller encodes and writes the one before; Run takes it over when asked
  // for the same segment. Its pictures start decoding earlier still: as soon
  // as those of the running segment are all decoded, or at once when they
  // already are. Anything else (another segment, CloseConversion) drops it
  // and removes its WAV file. Run forgets what was set here.
  void SetNextSegment(std::int64_t startHns, std::int64_t stopHns, const std::string& wavPath);

  enum class WaitResult {
    Delivered,
    Stalled,
    Aborted,
    Failed,
    Undecodable,
    ReadFailed,
    EndedEarly,
    Broken
  };
  // Returns as soon as the whole segment has been delivered; Stalled when
  // nothing moved over one stallPeriod (frames delivered, WAV size, packets
  // read and frames decoded); Aborted when the abort flag was raised; Failed
  // when writing the WAV failed; Undecodable when the sound cannot be
  // converted to 16-bit PCM; ReadFailed when the file could not be read, a
  // decoder call or a picture's conversion failed (failureText() tells
  // why); EndedEarly when the file's data ended well before the segment
  // and the length the job was planned with (the file was cut while
  // converting); Broken when a streaming thread ended on an exception
  // (failureText() holds it). onPoll runs on the calling thread about every
  // 50 ms while the segment decodes (for progress).
  WaitResult WaitForSegment(std::chrono::milliseconds stallPeriod = std::chrono::seconds(10),
                            const std::function<void()>& onPoll = {});
  // Decodes the sound of [startHns, stopHns) on the calling thread, on a
  // demuxer of its own, into what the segments' WAV files of that stretch
  // would hold at sampleRate and channels, and hands it to take in pieces of
  // whole sample frames. Delivered when all of it came; Aborted, ReadFailed
  // (failure says why) or Undecodable as for a segment.
  WaitResult DecodeSound(std::int64_t startHns, std::int64_t stopHns, int sampleRate, int channels,
                         const std::function<void(const std::uint8_t*, std::size_t)>& take,
                         std::string& failure);
  // Whether the running segment's sound is all in its WAV file, written
  // and flushed, while its pictures may still decode.
  bool soundWritten() const;
  // How far the running segment has been delivered, 100-ns units from its
  // start (the slower of the two streams).
  std::int64_t segmentPositionHns() const;
  // Why the last segment ended as ReadFailed or Broken.
  std::string failureText() const;
  // Whether decoded sound reached the running segment's WAV file, once its
  // sound is done (before Stop): false when all the file holds is silence,
  // for a stream that did not decode there at all.
  bool soundDecoded() const;

  // Stops the streaming threads and closes the segment's WAV file. False
  // when writing the WAV file failed at any point of the segment.
  bool Stop();
  void CloseConversion();

  std::uint64_t deliveredFrames() const;  // BufferCB calls of the running segment
  std::uint64_t wavBytes() const;         // size of the segment's WAV file so far

  // After CloseConversion the source holds nothing of the job that used it
  // (sink, abort flag, WAV name).

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel
