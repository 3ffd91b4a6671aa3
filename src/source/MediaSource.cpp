#include "source/MediaSource.h"

#include <malloc.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "General/WorkFolder.h"
#include "General/Worker.h"
#include "source/FrameQueue.h"
#include "source/FrameSeeker.h"
#include "source/LibavHandles.h"
#include "source/MediaProbe.h"
#include "source/SegmentDecoding.h"
#include "source/StreamReader.h"
#include "source/VideoFrameSink.h"
#include "source/WavFileWriter.h"

namespace zel {

namespace {

constexpr auto kAbortPoll = std::chrono::milliseconds(50);
// Decoded pictures waiting for the encoding thread: a few, and no more than
// about this many bytes of them (one at least).
constexpr std::size_t kQueuedPictures = 4;
constexpr std::size_t kQueuedBytes = 16 << 20;
// A segment decoded ahead, while the one before it is encoded and written,
// holds more of them: as many as that takes, within these bounds (twice at
// most: the decoder goes on into the next segment while the pictures of the
// one before still wait).
constexpr std::size_t kAheadPictures = 64;
constexpr std::size_t kAheadBytes = 4 << 20;

// Large buffers (encoder tables, decoded pictures) come and go with every
// segment. glibc raises its mmap threshold each time such a buffer is freed
// and then serves the next ones from the heap, which a job of many short
// segments leaves fragmented (a third more memory at its peak); a fixed
// threshold gives them back to the system as they go.
void FixMmapThreshold() {
  static std::once_flag once;
  std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 128 * 1024); });
}

}  // namespace

// Pictures are decoded on one thread and handed to the sink on another, so
// that decoding and encoding overlap; ZEL_SINGLE_THREAD=1 calls the sink on
// the decoding thread itself (the same pictures in the same order).
bool OverlappedConversion() {
  const char* single = std::getenv("ZEL_SINGLE_THREAD");
  return single == nullptr || std::string_view(single) != "1";
}

struct MediaSource::Impl {
  // Conversion side.
  bool opened = false;
  std::string path;
  MediaInfo info;
  int audioStream = -1;
  int videoStream = -1;
  std::int64_t startHns = 0;
  std::int64_t stopHns = 0;
  std::string wavPath;
  int pcmRate = 0;  // the WAV file's format as set; 0: the source's
  int pcmChannels = 0;
  int wavRate = 0;  // the running segment's WAV format
  int wavChannels = 0;
  VideoFrameSink* sink = nullptr;
  // Set from the controlling thread, read by the streaming threads.
  std::atomic<const std::atomic<bool>*> abortFlag{nullptr};

  // Each stream's demuxer and decoder, kept for the whole conversion.
  StreamDecoder videoDecoder;
  StreamDecoder audioDecoder;
  // The running segment.
  std::unique_ptr<WavFileWriter> wav;
  // The streaming threads, kept from one segment to the next.
  Worker videoThread;
  Worker pictureThread;  // hands the decoded pictures to the sink
  Worker audioThread;
  std::unique_ptr<FrameQueue> pictures;  // between videoThread and pictureThread
  // How a stream's reading ended, kept when its segment ends: the decoder
  // may already be reading the next one.
  struct StreamEnd {
    int failure = 0;
    bool ended = false;
    bool untimedPackets = false;
    std::int64_t packetEndHns = -1;
    bool soundPlaced = false;
  };
  static StreamEnd EndOf(const StreamReader& reader) {
    return {reader.failure, reader.ended, reader.untimedPackets, reader.packetEndHns,
            reader.soundPlaced};
  }
  // Guarded by mutex: the running segment's streams, once done.
  std::optional<StreamEnd> videoEnd;
  std::optional<StreamEnd> audioEnd;
  // The segment after the running one, which the decoder went on with as
  // soon as the running one's pictures were decoded; Stop hands it over.
  struct EarlyVideo {
    std::int64_t startHns = 0, stopHns = 0;
    bool finished = false;  // its pictures are all decoded
    StreamEnd end;
    std::string brokenText;
  };
  std::optional<EarlyVideo> earlyVideo;       // guarded by mutex; empty once handed over
  std::unique_ptr<FrameQueue> earlyPictures;  // its pictures
  // Guarded by mutex: the decoder has decoded the running segment whole and
  // waits for the caller to name the next one, to go on with it at once.
  bool decoderFree = false;
  std::atomic<bool> videoStopRequested{false};
  mutable std::mutex mutex;
  std::condition_variable finished;
  bool videoDone = true;     // guarded by mutex
  int videoThreadsLeft = 0;  // guarded by mutex: the video is done at 0
  bool audioDone = true;     // guarded by mutex
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> writeFailed{false};
  std::atomic<bool> undecodable{false};
  std::atomic<std::uint64_t> deliveredFrames{0};
  std::atomic<std::uint64_t> wavBytes{0};
  std::atomic<std::uint64_t> work{0};  // packets read and frames decoded by both threads
  std::atomic<std::int64_t> videoReachedHns{0};
  std::atomic<std::int64_t> audioReachedHns{0};
  bool runningVideo = false;  // the streams of the running segment
  bool runningAudio = false;
  std::string brokenText;  // guarded by mutex: a streaming thread's exception

  // A segment as Run decodes it.
  struct Segment {
    std::int64_t startHns = 0, stopHns = 0;
    std::string wavPath;
    int wavRate = 0, wavChannels = 0;
    bool operator==(const Segment&) const = default;
  };
  std::optional<Segment> next;   // guarded by mutex: the one after the running one
  std::optional<Segment> ahead;  // decoded ahead: its threads run, its pictures wait
  bool delivered = false;        // the last WaitForSegment ended Delivered

  int PcmRate() const { return info.hasAudio ? (pcmRate > 0 ? pcmRate : info.sampleRate) : 8000; }
  int PcmChannels() const {
    return info.hasAudio ? (pcmChannels > 0 ? pcmChannels : info.channels) : 1;
  }
  Segment Requested() const { return {startHns, stopHns, wavPath, PcmRate(), PcmChannels()}; }
  bool PicturesOverlap() const {
    return OverlappedConversion() && info.width > 0 && info.height > 0;
  }
  // Pictures waiting in the queue at most: a few, or as many as a segment
  // decoded ahead needs.
  std::size_t QueueCapacity(bool decodingAhead) const {
    const std::size_t frameBytes = static_cast<std::size_t>(info.width) * info.height * 3 / 2;
    return decodingAhead ? std::min(kAheadPictures, kAheadBytes / frameBytes)
                         : std::min(kQueuedPictures, kQueuedBytes / frameBytes);
  }

  bool aborted() const {
    const std::atomic<bool>* flag = abortFlag.load();
    return flag != nullptr && flag->load();
  }

  void MarkDone(bool& done) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    finished.notify_all();
  }

  // One of the picture side's threads has ended; the last ends the video
  // (mutex held).
  void CountVideoThreadDone() {
    videoDone = --videoThreadsLeft == 0;
    // A picture that could not be handed over fails the stream, as it does
    // on one thread.
    const int failure = videoDone && pictures ? pictures->failure() : 0;
    if (failure != 0 && videoEnd) videoEnd->failure = failure;
  }
  void MarkVideoThreadDone() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      CountVideoThreadDone();
    }
    finished.notify_all();
  }
  // How the picture decoder's reading ended, now.
  StreamEnd VideoReadingEnd() const {
    return videoDecoder.seeker ? EndOf(videoDecoder.seeker->reader()) : StreamEnd{};
  }
  // The decoding thread is done with the running segment's pictures (mutex
  // held).
  void CountVideoDecoded(const std::string& broken, const StreamEnd& end) {
    if (brokenText.empty()) brokenText = broken;
    videoEnd = end;
    CountVideoThreadDone();
  }

  // A streaming thread's body: an exception (no memory, say) ends the
  // segment as Broken, never the program. Returns what was thrown.
  template <typename Body>
  static std::string Caught(Body&& body) noexcept {
    try {
      body();
      return {};
    } catch (const std::exception& e) {
      return e.what();
    } catch (...) {
      return "unknown exception";
    }
  }
  template <typename Body>
  void Guarded(Body&& body) noexcept {
    const std::string what = Caught(body);
    if (what.empty()) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (brokenText.empty()) brokenText = what;
  }

  // How the running segment's streams ended, those that are done (mutex
  // held).
  std::vector<StreamEnd> RunningEnds() const {
    std::vector<StreamEnd> ends;
    if (runningVideo && videoEnd) ends.push_back(*videoEnd);
    if (runningAudio && audioEnd) ends.push_back(*audioEnd);
    return ends;
  }

  // Whether every stream of the segment ran out of data well before its
  // stop, which the planned length of the file lies beyond: the file was
  // cut (or emptied) while it was converted.
  bool EndedEarly() const {
    const std::int64_t limit =
        std::min(stopHns, info.durationHns) - LengthToleranceHns(info.durationHns);
    const std::vector<StreamEnd> ends = RunningEnds();
    for (const StreamEnd& stream : ends) {
      const std::int64_t end = stream.packetEndHns >= 0 ? stream.packetEndHns : startHns;
      if (!stream.ended || stream.untimedPackets || end >= limit) return false;
    }
    return !ends.empty();
  }

  // After both streaming threads are done (mutex held).
  WaitResult Outcome() const {
    if (!brokenText.empty()) return WaitResult::Broken;
    for (const StreamEnd& stream : RunningEnds()) {
      if (stream.failure != 0) return WaitResult::ReadFailed;
    }
    return EndedEarly() ? WaitResult::EndedEarly : WaitResult::Delivered;
  }

  // A stream's stretch [segmentStartHns, segmentStopHns), ended early by
  // `stop` or an abort.
  SegmentJob Job(int streamIndex, std::int64_t segmentStartHns, std::int64_t segmentStopHns,
                 std::atomic<std::int64_t>* reached, const std::atomic<bool>& stop) {
    SegmentJob job;
    job.work = &work;
    job.reachedHns = reached;
    job.path = path;
    job.streamIndex = streamIndex;
    job.startHns = segmentStartHns;
    job.stopHns = segmentStopHns;
    job.shouldStop = [this, &stop] { return stop.load() || aborted(); };
    return job;
  }

  // The decoding thread's part of the pictures: the segment's pictures into
  // the queue; then, when the caller has named the segment after it, straight
  // on with that one's into the other queue, so that the decoder need not
  // wait for this segment's last pictures to be encoded.
  void DecodePictures(SegmentJob job, FrameQueue* queue, bool early) {
    for (;;) {
      const std::string broken = Caught([&] {
        WalkSegmentPictures(job, videoDecoder, [queue](const AVFrame* frame, std::int64_t timeHns) {
          return queue->Push(frame, timeHns);
        });
      });
      queue->Finish();
      std::optional<EarlyVideo> goOn;
      {
        std::lock_guard<std::mutex> lock(mutex);
        const StreamEnd end = VideoReadingEnd();
        if (early && earlyVideo) {
          // Not handed over yet: kept for the segment it belongs to.
          earlyVideo->finished = true;
          earlyVideo->end = end;
          earlyVideo->brokenText = broken;
        } else {
          CountVideoDecoded(broken, end);
          if (DecodedWhole(broken, end, *queue) && MayGoOn()) {
            if (next) {
              goOn = GoOn();
              queue = earlyPictures.get();
            } else {
              decoderFree = true;  // the caller names the next one later
            }
          }
        }
      }
      finished.notify_all();
      if (!goOn) return;
      job = Job(videoStream, goOn->startHns, goOn->stopHns, nullptr, videoStopRequested);
      early = true;
    }
  }

  // Only a segment decoded whole, its pictures taken so far, lets the decoder
  // go on into the next.
  static bool DecodedWhole(const std::string& broken, const StreamEnd& end,
                           const FrameQueue& queue) {
    return broken.empty() && end.failure == 0 && queue.failure() == 0;
  }
  // Whether the decoding may go on from the running segment into the next
  // (mutex held).
  bool MayGoOn() const { return !stopRequested && !videoStopRequested && !aborted(); }
  // The decoder goes on into the segment named next: its pictures go into
  // the other queue (mutex held).
  EarlyVideo GoOn() {
    EarlyVideo following;
    following.startHns = std::max<std::int64_t>(0, next->startHns);
    following.stopHns = std::max(following.startHns, next->stopHns);
    earlyVideo = following;
    decoderFree = false;
    earlyPictures->Reset();
    earlyPictures->SetCapacity(QueueCapacity(true));
    return following;
  }
  // The caller names the next segment once the running one's pictures are
  // all decoded (one decoded ahead, say): the decoder goes on with it now,
  // not once the running one is stopped.
  void GoOnWhenFree() {
    std::optional<EarlyVideo> goOn;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (decoderFree && next && MayGoOn() && pictures && pictures->failure() == 0) {
        goOn = GoOn();
      }
    }
    if (!goOn) return;
    videoThread.Wait();  // the decoder has returned, or is about to
    videoThread.Post([this, queue = earlyPictures.get(),
                      job = Job(videoStream, goOn->startHns, goOn->stopHns, nullptr,
                                videoStopRequested)] { DecodePictures(job, queue, true); });
  }

  // Stops the decoding thread, whichever segment it decodes; one that it went
  // on with and that was not handed over goes.
  void StopDecoding() {
    videoStopRequested = true;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (earlyVideo) earlyPictures->Close();
    }
    videoThread.Wait();
    {
      std::lock_guard<std::mutex> lock(mutex);
      earlyVideo.reset();
      decoderFree = false;
    }
    videoStopRequested = false;
  }
  // Stops only a segment that the decoder went on with and that was not
  // handed over.
  void StopEarlyVideo() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!earlyVideo) return;
    }
    StopDecoding();
  }

  // Hands the segment that the decoder went on with to the segment set,
  // when they are the same; false when there is none or it is another.
  bool TakeEarlyVideo() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!earlyVideo || earlyVideo->startHns != startHns || earlyVideo->stopHns != stopHns) {
      return false;
    }
    std::swap(pictures, earlyPictures);
    if (earlyVideo->finished) videoEnd = earlyVideo->end;
    if (brokenText.empty()) brokenText = earlyVideo->brokenText;
    decoderFree =
        earlyVideo->finished && DecodedWhole(earlyVideo->brokenText, earlyVideo->end, *pictures);
    // The picture thread to come, and the decoder unless it is done.
    videoThreadsLeft = earlyVideo->finished ? 1 : 2;
    earlyVideo.reset();
    return true;
  }

  // The picture side of the segment: decoding on videoThread, the sink on
  // pictureThread (or on videoThread too when they do not overlap).
  void StartVideo(bool withSink) {
    const SegmentJob job =
        Job(videoStream, startHns, stopHns, &videoReachedHns, videoStopRequested);
    if (!PicturesOverlap()) {
      pictures.reset();
      videoThreadsLeft = 1;
      videoThread.Post([this, job] {
        const std::string broken = Caught([&] {
          DecodeVideoSegment(job, videoDecoder, info.width, info.height, *sink, deliveredFrames);
        });
        {
          std::lock_guard<std::mutex> lock(mutex);
          CountVideoDecoded(broken, VideoReadingEnd());
        }
        finished.notify_all();
      });
      return;
    }
    if (!videoDecoder.packer)
      videoDecoder.packer = std::make_unique<Yv12Packer>(info.width, info.height);
    if (!withSink && TakeEarlyVideo()) return;  // its decoding runs already
    StopEarlyVideo();
    if (!pictures) pictures = std::make_unique<FrameQueue>(QueueCapacity(false));
    if (!earlyPictures) earlyPictures = std::make_unique<FrameQueue>(QueueCapacity(true));
    pictures->Reset();
    pictures->SetCapacity(QueueCapacity(!withSink));
    videoThreadsLeft = 2;
    videoThread.Post([this, job, queue = pictures.get()] { DecodePictures(job, queue, false); });
    if (withSink) StartPictureThread(false);
  }

  // Hands the queued pictures to the sink, as they come. A segment decoded
  // ahead keeps its room: the decoder goes on while the encoder catches up.
  void StartPictureThread(bool decodedAhead) {
    pictures->SetCapacity(QueueCapacity(decodedAhead));
    pictureThread.Post([this] {
      Guarded([&] {
        FrameQueue::Picture picture;
        while (pictures->Pop(picture)) {
          const PictureDelivery delivery =
              DeliverPicture(*videoDecoder.packer, picture.frame.get(), picture.timeHns, *sink);
          if (delivery == PictureDelivery::Failed) pictures->Close(AVERROR_EXTERNAL);
          if (delivery != PictureDelivery::Delivered) continue;
          deliveredFrames.fetch_add(1, std::memory_order_relaxed);
          videoReachedHns.store(picture.timeHns, std::memory_order_relaxed);
        }
      });
      // A sink that failed takes no more: the decoder must not wait for it.
      pictures->Close();
      MarkVideoThreadDone();
    });
  }

  // keepEarlyVideo: a segment that the decoder went on with goes on, for
  // StartAhead to take.
  void StopThreads(bool keepEarlyVideo = false) {
    // From here on no segment's decoding goes on into the next.
    stopRequested = true;
    if (pictures) pictures->Close();
    bool keep = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      keep = keepEarlyVideo && earlyVideo;
    }
    if (!keep) StopDecoding();
    pictureThread.Wait();
    audioThread.Wait();
    stopRequested = false;
    if (wav) {
      if (!wav->Close()) writeFailed = true;
      wav.reset();
    }
    // A segment decoded ahead that nobody took leaves nothing behind.
    if (ahead) RemoveWorkFile(ahead->wavPath);
    ahead.reset();
  }

  // Starts decoding the segment set: the WAV file first, then the threads;
  // withSink false decodes ahead, the pictures waiting for StartPictureThread.
  // False when the WAV file cannot be created.
  bool Start(bool withSink) {
    writeFailed = false;
    undecodable = false;
    deliveredFrames = 0;
    wavBytes = 0;
    work = 0;
    videoReachedHns = 0;
    audioReachedHns = 0;
    const bool withAudio = info.hasAudio && !wavPath.empty();
    const bool withVideo = info.hasVideo && sink != nullptr;
    runningAudio = withAudio;
    runningVideo = withVideo;
    {
      std::lock_guard<std::mutex> lock(mutex);
      brokenText.clear();
      videoEnd.reset();
      audioEnd.reset();
      decoderFree = false;
    }
    wavRate = PcmRate();
    wavChannels = PcmChannels();
    if (!wavPath.empty()) {
      // The file exists from the start of the segment, also without audio.
      wav = std::make_unique<WavFileWriter>(wavPath, wavRate, wavChannels);
      if (!wav->ok()) {
        wav.reset();
        return false;
      }
      wavBytes = WavFileWriter::kHeaderBytes;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      videoDone = !withVideo;
      audioDone = !withAudio;
    }
    if (withVideo) StartVideo(withSink);
    if (withAudio) {
      audioThread.Post(
          [this, job = Job(audioStream, startHns, stopHns, &audioReachedHns, stopRequested)] {
            Guarded([&] {
              const AudioSegmentResult result =
                  DecodeAudioSegment(job, audioDecoder, wavRate, wavChannels, *wav, wavBytes);
              if (result == AudioSegmentResult::Undecodable) undecodable = true;
              if (result == AudioSegmentResult::WriteFailed || !wav->Finish()) writeFailed = true;
            });
            {
              std::lock_guard<std::mutex> lock(mutex);
              if (audioDecoder.reader) audioEnd = EndOf(*audioDecoder.reader);
            }
            MarkDone(audioDone);
          });
    }
    return true;
  }

  // The next segment decodes while the caller encodes and writes the one
  // before: its sound into its WAV file, its pictures into the queue.
  void StartAhead() {
    const bool picturesWait = !info.hasVideo || sink == nullptr || PicturesOverlap();
    std::optional<Segment> next;
    {
      // Taken: no decoding goes on into it from the one it follows.
      std::lock_guard<std::mutex> lock(mutex);
      next = std::exchange(this->next, std::nullopt);
    }
    if (!next || !OverlappedConversion() || !picturesWait || aborted()) return;
    // The caller's segment stays set: Run takes the one decoded ahead only
    // when the caller sets that one.
    const Segment running = Requested();
    startHns = std::max<std::int64_t>(0, next->startHns);
    stopHns = std::max(startHns, next->stopHns);
    wavPath = next->wavPath;
    if (Start(false)) ahead = Requested();
    startHns = running.startHns;
    stopHns = running.stopHns;
    wavPath = running.wavPath;
  }
};

MediaSource::MediaSource() : impl_(std::make_unique<Impl>()) { FixMmapThreshold(); }

MediaSource::~MediaSource() { CloseConversion(); }

OpenResult MediaSource::BuildConversionGraph(const std::string& path, bool wantAudio,
                                             bool wantVideo) {
  CloseConversion();
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return OpenResult::NoSuchFile;
  }
  Impl& s = *impl_;
  s.path = path;
  s.info = MediaInfo{};
  s.opened = true;
  // A file that libavformat cannot read opens with neither stream, so the
  // conversion makes nothing of it.
  av::InputPtr input = av::OpenInput(path);
  if (!input) {
    return OpenResult::Opened;
  }
  const ProbedStreams streams = ProbeMedia(input.get(), wantAudio, wantVideo, s.info);
  s.videoStream = streams.videoStream;
  s.audioStream = streams.audioStream;
  s.startHns = 0;
  s.stopHns = s.info.durationHns;
  return OpenResult::Opened;
}

bool ReadMediaInfo(const std::string& path, MediaInfo& info) {
  info = MediaInfo{};
  av::InputPtr input = av::OpenInput(path);
  if (!input) return false;
  ProbeMedia(input.get(), true, true, info);
  return true;
}

const MediaInfo& MediaSource::info() const { return impl_->info; }

bool MediaSource::SetSegment(std::int64_t startHns, std::int64_t stopHns) {
  if (!impl_->opened) {
    return false;
  }
  impl_->startHns = std::max<std::int64_t>(0, startHns);
  impl_->stopHns = std::max(impl_->startHns, stopHns);
  return true;
}

void MediaSource::SetWavFileName(const std::string& path) { impl_->wavPath = path; }

void MediaSource::SetPcmFormat(int sampleRate, int channels) {
  impl_->pcmRate = sampleRate;
  impl_->pcmChannels = channels;
}

void MediaSource::SetVideoSink(VideoFrameSink* sink) { impl_->sink = sink; }

void MediaSource::SetAbortFlag(const std::atomic<bool>* abortRequested) {
  impl_->abortFlag = abortRequested;
}

bool MediaSource::Run() {
  Impl& s = *impl_;
  if (!s.opened) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.next.reset();
  }
  if (s.ahead && *s.ahead == s.Requested()) {
    // The segment decoded ahead goes on, its pictures now to the sink; its
    // WAV file is the caller's.
    s.ahead.reset();
    if (s.runningVideo && s.pictures) s.StartPictureThread(true);
    return true;
  }
  s.StopThreads();  // a segment decoded ahead that is not this one goes
  return s.Start(true);
}

void MediaSource::SetNextSegment(std::int64_t startHns, std::int64_t stopHns,
                                 const std::string& wavPath) {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->next = Impl::Segment{startHns, stopHns, wavPath, 0, 0};
  }
  impl_->GoOnWhenFree();
}

MediaSource::WaitResult MediaSource::WaitForSegment(std::chrono::milliseconds stallPeriod,
                                                    const std::function<void()>& onPoll) {
  Impl& s = *impl_;
  if (!s.opened) {
    return WaitResult::Failed;
  }
  using Clock = std::chrono::steady_clock;
  // Any of these moving is progress: a decoder working its way from a distant
  // key frame to the start delivers nothing for a while, yet it works.
  const auto progress = [&s] {
    return std::array<std::uint64_t, 3>{s.deliveredFrames.load(), s.wavBytes.load(), s.work.load()};
  };
  auto seen = progress();
  Clock::time_point lastProgress = Clock::now();
  s.delivered = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(s.mutex);
      if (s.aborted()) return WaitResult::Aborted;
      if (s.writeFailed) return WaitResult::Failed;
      if (s.undecodable) return WaitResult::Undecodable;
      if (!s.brokenText.empty()) return WaitResult::Broken;
      if (s.videoDone && s.audioDone) {
        const WaitResult outcome = s.Outcome();
        s.delivered = outcome == WaitResult::Delivered;
        return outcome;
      }
      s.finished.wait_for(lock, std::min<std::chrono::milliseconds>(kAbortPoll, stallPeriod));
      if (s.videoDone && s.audioDone) continue;
    }
    if (onPoll) onPoll();
    const Clock::time_point now = Clock::now();
    if (const auto now_seen = progress(); now_seen != seen) {
      seen = now_seen;
      lastProgress = now;
    } else if (now - lastProgress >= stallPeriod) {
      return WaitResult::Stalled;
    }
  }
}

MediaSource::WaitResult MediaSource::DecodeSound(
    std::int64_t startHns, std::int64_t stopHns, int sampleRate, int channels,
    const std::function<void(const std::uint8_t*, std::size_t)>& take, std::string& failure) {
  Impl& s = *impl_;
  if (!s.opened || !s.info.hasAudio) return WaitResult::Failed;
  std::atomic<std::int64_t> reached{0};
  const std::atomic<bool> onlyAnAbortStops{false};
  const SegmentJob job = s.Job(s.audioStream, startHns, stopHns, &reached, onlyAnAbortStops);
  StreamDecoder decoder;
  const AudioSegmentResult result = DecodeAudio(
      job, decoder, sampleRate, channels, [&take](const std::uint8_t* pcm, std::size_t bytes) {
        take(pcm, bytes);
        return true;
      });
  if (s.aborted()) return WaitResult::Aborted;
  if (result == AudioSegmentResult::Undecodable) return WaitResult::Undecodable;
  if (result != AudioSegmentResult::ReadFailed) return WaitResult::Delivered;
  failure = av::ErrorText(decoder.reader ? decoder.reader->failure : AVERROR_UNKNOWN);
  return WaitResult::ReadFailed;
}

std::int64_t MediaSource::segmentPositionHns() const {
  const Impl& s = *impl_;
  const std::int64_t length = s.stopHns - s.startHns;
  std::int64_t position = length;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.videoDone) position = std::min(position, s.videoReachedHns.load());
  if (!s.audioDone) position = std::min(position, s.audioReachedHns.load());
  return std::clamp<std::int64_t>(position, 0, std::max<std::int64_t>(length, 0));
}

bool MediaSource::soundWritten() const {
  const Impl& s = *impl_;
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.runningAudio && s.audioDone && !s.writeFailed && !s.undecodable &&
         s.brokenText.empty() && s.audioEnd && s.audioEnd->failure == 0;
}

bool MediaSource::soundDecoded() const {
  const Impl& s = *impl_;
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.runningAudio && s.audioEnd && s.audioEnd->soundPlaced;
}

std::string MediaSource::failureText() const {
  const Impl& s = *impl_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.brokenText.empty()) return s.brokenText;
  for (const Impl::StreamEnd& stream : s.RunningEnds()) {
    if (stream.failure != 0) return av::ErrorText(stream.failure);
  }
  return {};
}

bool MediaSource::Stop() {
  Impl& s = *impl_;
  if (!s.opened) return !s.writeFailed;
  s.StopThreads(/*keepEarlyVideo=*/true);
  const bool written = !s.writeFailed;
  if (written && s.delivered) s.StartAhead();
  s.StopEarlyVideo();  // one that StartAhead did not take
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.next.reset();
  }
  s.delivered = false;
  return written;
}

void MediaSource::CloseConversion() {
  Impl& s = *impl_;
  s.StopThreads();
  s.next.reset();
  s.opened = false;
  // Nothing of the job that used us stays referenced.
  s.sink = nullptr;
  s.abortFlag = nullptr;
  s.wavPath.clear();
  s.pcmRate = 0;
  s.pcmChannels = 0;
  s.videoDecoder.Reset();
  s.audioDecoder.Reset();
  s.pictures.reset();
  s.path.clear();
  s.info = MediaInfo{};
  s.audioStream = -1;
  s.videoStream = -1;
  s.startHns = 0;
  s.stopHns = 0;
}

std::uint64_t MediaSource::deliveredFrames() const { return impl_->deliveredFrames; }

std::uint64_t MediaSource::wavBytes() const { return impl_->wavBytes; }

}  // namespace zel
