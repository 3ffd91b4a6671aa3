#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/PlaybackStatus.h"
#include "source/PreviewFrame.h"
#include "source/VideoLayout.h"

namespace zel {

class Notifier;
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
  int width = 0, height = 0;                // size of the delivered frames (even)
  int displayWidth = 0, displayHeight = 0;  // after the 288-line rule
  int sampleAspectNum = 0, sampleAspectDen = 0;  // the pixels' shape; 0: unknown (square)
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

// Opens, positions and decodes one input file. The conversion side decodes a
// segment on two streaming threads (audio, video); the preview side shows
// single pictures. The window keeps one instance for each, so that the
// preview goes on working during a conversion.
class MediaSource {
 public:
  MediaSource();
  ~MediaSource();
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  // Opens path for conversion. wantAudio/wantVideo false makes that stream
  // count as absent. Returns false after showing "RenderFile Error." when
  // there is no such file; a file that exists but cannot be demuxed or decoded
  // opens with neither stream present (true), so the conversion makes nothing.
  bool BuildConversionGraph(const std::string& path, bool wantAudio, bool wantVideo,
                            Notifier& notifier);
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
  // How far the running segment has been delivered, 100-ns units from its
  // start (the slower of the two streams).
  std::int64_t segmentPositionHns() const;
  // Why the last segment ended as ReadFailed or Broken.
  std::string failureText() const;

  // Stops the streaming threads and closes the segment's WAV file. False
  // when writing the WAV file failed at any point of the segment.
  bool Stop();
  void CloseConversion();

  std::uint64_t deliveredFrames() const;  // BufferCB calls of the running segment
  std::uint64_t wavBytes() const;         // size of the segment's WAV file so far

  // After CloseConversion the source holds nothing of the job that used it
  // (sink, abort flag, WAV name).

  // The preview. Every preview operation is called from one thread, the
  // window's; the preview has demuxers and decoders of its own.

  // Opens path for the preview: 1, or -1 after showing "RenderFile Error."
  // when the file does not exist or holds nothing that plays. Pictures go to
  // sink (may be null), at the display size until LayoutVideoWindow sets
  // another. The window then sets its marks to [0, previewInfo().durationHns].
  int OpenPreview(const std::string& path, PreviewSink* sink, Notifier& notifier);
  const MediaInfo& previewInfo() const;
  bool previewOpened() const;

  // Shows the picture whose time span holds the position (100-ns units): the
  // last one at or before it, the last of the file after its end; with
  // SeekKind::NearestKeyFrame one near it that comes at once (a bar being
  // dragged). The sink has it when this returns 1; 0 when nothing is open,
  // the file has no video or no picture could be decoded.
  int ShowFrameAt(std::int64_t positionHns, SeekKind kind = SeekKind::Exact);

  // Where the picture goes in a preview area of the given client size
  // (LayoutVideoRect); pictures are delivered at that rectangle's size from
  // now on, the one shown last again at once when the size changed. Nothing
  // when no file with video is open.
  std::optional<VideoRect> LayoutVideoWindow(int areaWidth, int areaHeight, int adjustframe);

  // Where the preview stands, within [0, duration]: while a range plays, the
  // clock of the last presentation step; after playback, where it stopped;
  // otherwise the position given to ShowFrameAt. The picture's own time is
  // PreviewFrame::timeHns.
  std::int64_t GetCurrentPosition() const;

  // Plays [startHns, stopHns] (clamped to the file): 1, or 0 when nothing is
  // open. Returns at once; two threads decode ahead of the clock, the
  // pictures at the layout's size, the sound as 16-bit PCM at
  // previewInfo().sampleRate and .channels. The window then drives it:
  // the audio device takes the sound through ReadPlaybackPcm, and a timer
  // on the window's thread calls PresentPlayback with the clock, which hands
  // the due picture to the sink and tells when the range has ended.
  int PlayRange(std::int64_t startHns, std::int64_t stopHns);
  // Stops the decoding at once (the threads end between two packets) and
  // drops what was decoded ahead: ReadPlaybackPcm gives nothing more. 1, or
  // 0 when nothing is open. ShowFrameAt, GrabFrameAt, OpenPreview and
  // ClosePreview stop playback first.
  int StopPlayback();
  // One presentation step at clockHns (file time, starting at the range's
  // start): the newest picture whose time has come goes to the sink, older
  // due ones are dropped. status.ready says when the clock may start;
  // status.ended comes once, when the clock has passed the range's end.
  PlaybackStatus PresentPlayback(std::int64_t clockHns);
  // Up to maxBytes of the range's sound, whole sample frames, without
  // waiting; 0 when none is decoded yet, after the end and after a stop.
  // May be called from the audio device's thread.
  std::size_t ReadPlaybackPcm(std::uint8_t* data, std::size_t maxBytes);
  // The whole sound of the range has been read (or the file has none).
  bool playbackSoundDrained() const;
  PlaybackCounters playbackCounters() const;

  // Shows the picture at the position as ShowFrameAt does, and copies it at
  // its decoded size (not the display size) as 24-bit rows of width * 3
  // bytes, B, G, R, the bottom row first. False when there is no picture.
  bool GrabFrameAt(std::int64_t positionHns, std::vector<std::uint8_t>& rgb24BottomUp, int& width,
                   int& height);

  // 1, or 0 when nothing is open. The source can open another file afterwards.
  int ClosePreview();

  PreviewCounters previewCounters() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel
