#include "source/MediaSource.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

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

// Pictures are decoded on one thread and handed to the sink on another, so
// that decoding and encoding overlap; ZEL_SINGLE_THREAD=1 calls the sink on
// the decoding thread itself (the same pictures in the same order).
bool OverlapPictures() {
  const char* single = std::getenv("ZEL_SINGLE_THREAD");
  return single == nullptr || std::string_view(single) != "1";
}

}  // namespace

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
  std::thread videoThread;
  std::thread pictureThread;  // hands the decoded pictures to the sink
  std::thread audioThread;
  std::unique_ptr<FrameQueue> pictures;  // between videoThread and pictureThread
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

  // One of the picture side's threads has ended; the last ends the video.
  void MarkVideoThreadDone() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      videoDone = --videoThreadsLeft == 0;
      // A picture that could not be handed over fails the stream, as it does
      // on one thread.
      const int failure = videoDone && pictures ? pictures->failure() : 0;
      if (failure != 0 && videoDecoder.seeker) videoDecoder.seeker->Fail(failure);
    }
    finished.notify_all();
  }

  // A streaming thread's body: an exception (no memory, say) ends the
  // segment as Broken, never the program.
  template <typename Body>
  void Guarded(Body&& body) noexcept {
    std::string what;
    try {
      body();
      return;
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
      what = "unknown exception";
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (brokenText.empty()) brokenText = what;
  }

  // The readers of the running segment's streams.
  std::vector<const StreamReader*> RunningReaders() const {
    std::vector<const StreamReader*> readers;
    if (runningVideo && videoDecoder.seeker) readers.push_back(&videoDecoder.seeker->reader());
    if (runningAudio && audioDecoder.reader) readers.push_back(audioDecoder.reader.get());
    return readers;
  }

  // Whether every stream of the segment ran out of data well before its
  // stop, which the planned length of the file lies beyond: the file was
  // cut (or emptied) while it was converted.
  bool EndedEarly() const {
    const std::int64_t limit =
        std::min(stopHns, info.durationHns) - LengthToleranceHns(info.durationHns);
    const std::vector<const StreamReader*> readers = RunningReaders();
    for (const StreamReader* reader : readers) {
      const std::int64_t end = reader->packetEndHns >= 0 ? reader->packetEndHns : startHns;
      if (!reader->ended || reader->untimedPackets || end >= limit) return false;
    }
    return !readers.empty();
  }

  // After both streaming threads are done (mutex held).
  WaitResult Outcome() const {
    if (!brokenText.empty()) return WaitResult::Broken;
    for (const StreamReader* reader : RunningReaders()) {
      if (reader->failure != 0) return WaitResult::ReadFailed;
    }
    return EndedEarly() ? WaitResult::EndedEarly : WaitResult::Delivered;
  }

  SegmentJob Job(int streamIndex, std::atomic<std::int64_t>& reached) {
    SegmentJob job;
    job.work = &work;
    job.reachedHns = &reached;
    job.path = path;
    job.streamIndex = streamIndex;
    job.startHns = startHns;
    job.stopHns = stopHns;
    job.shouldStop = [this] { return stopRequested.load() || aborted(); };
    return job;
  }

  // The picture side of the segment: decoding on videoThread, the sink on
  // pictureThread (or on videoThread too when they do not overlap).
  void StartVideo(const SegmentJob& job) {
    if (!OverlapPictures() || info.width <= 0 || info.height <= 0) {
      pictures.reset();
      videoThreadsLeft = 1;
      videoThread = std::thread([this, job] {
        Guarded([&] {
          DecodeVideoSegment(job, videoDecoder, info.width, info.height, *sink, deliveredFrames);
        });
        MarkVideoThreadDone();
      });
      return;
    }
    // Decoded pictures as the decoder gives them (at most about this size).
    const std::size_t frameBytes = static_cast<std::size_t>(info.width) * info.height * 3 / 2;
    const std::size_t capacity = std::min(kQueuedPictures, kQueuedBytes / frameBytes);
    if (!pictures) pictures = std::make_unique<FrameQueue>(capacity);
    pictures->Reset();
    if (!videoDecoder.packer)
      videoDecoder.packer = std::make_unique<Yv12Packer>(info.width, info.height);
    videoThreadsLeft = 2;
    videoThread = std::thread([this, job] {
      Guarded([&] {
        WalkSegmentPictures(job, videoDecoder, [this](const AVFrame* frame, std::int64_t timeHns) {
          return pictures->Push(frame, timeHns);
        });
      });
      pictures->Finish();
      MarkVideoThreadDone();
    });
    pictureThread = std::thread([this] {
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

  void StopThreads() {
    stopRequested = true;
    if (pictures) pictures->Close();
    if (videoThread.joinable()) videoThread.join();
    if (pictureThread.joinable()) pictureThread.join();
    if (audioThread.joinable()) audioThread.join();
    stopRequested = false;
    if (wav) {
      if (!wav->Close()) writeFailed = true;
      wav.reset();
    }
  }
};

MediaSource::MediaSource() : impl_(std::make_unique<Impl>()) {}

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
  s.StopThreads();
  s.writeFailed = false;
  s.undecodable = false;
  s.deliveredFrames = 0;
  s.wavBytes = 0;
  s.work = 0;
  s.videoReachedHns = 0;
  s.audioReachedHns = 0;
  const bool withAudio = s.info.hasAudio && !s.wavPath.empty();
  const bool withVideo = s.info.hasVideo && s.sink != nullptr;
  s.runningAudio = withAudio;
  s.runningVideo = withVideo;
  s.brokenText.clear();
  s.wavRate = s.info.hasAudio ? (s.pcmRate > 0 ? s.pcmRate : s.info.sampleRate) : 8000;
  s.wavChannels = s.info.hasAudio ? (s.pcmChannels > 0 ? s.pcmChannels : s.info.channels) : 1;
  if (!s.wavPath.empty()) {
    // The file exists from the start of the segment, also without audio.
    s.wav = std::make_unique<WavFileWriter>(s.wavPath, s.wavRate, s.wavChannels);
    if (!s.wav->ok()) {
      s.wav.reset();
      return false;
    }
    s.wavBytes = WavFileWriter::kHeaderBytes;
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.videoDone = !withVideo;
    s.audioDone = !withAudio;
  }
  if (withVideo) s.StartVideo(s.Job(s.videoStream, s.videoReachedHns));
  if (withAudio) {
    s.audioThread = std::thread([&s, job = s.Job(s.audioStream, s.audioReachedHns)] {
      s.Guarded([&] {
        const AudioSegmentResult result =
            DecodeAudioSegment(job, s.audioDecoder, s.wavRate, s.wavChannels, *s.wav, s.wavBytes);
        if (result == AudioSegmentResult::Undecodable) s.undecodable = true;
        if (result == AudioSegmentResult::WriteFailed || !s.wav->Finish()) s.writeFailed = true;
      });
      s.MarkDone(s.audioDone);
    });
  }
  return true;
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
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(s.mutex);
      if (s.aborted()) return WaitResult::Aborted;
      if (s.writeFailed) return WaitResult::Failed;
      if (s.undecodable) return WaitResult::Undecodable;
      if (!s.brokenText.empty()) return WaitResult::Broken;
      if (s.videoDone && s.audioDone) return s.Outcome();
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

std::int64_t MediaSource::segmentPositionHns() const {
  const Impl& s = *impl_;
  const std::int64_t length = s.stopHns - s.startHns;
  std::int64_t position = length;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.videoDone) position = std::min(position, s.videoReachedHns.load());
  if (!s.audioDone) position = std::min(position, s.audioReachedHns.load());
  return std::clamp<std::int64_t>(position, 0, std::max<std::int64_t>(length, 0));
}

std::string MediaSource::failureText() const {
  const Impl& s = *impl_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.brokenText.empty()) return s.brokenText;
  for (const StreamReader* reader : s.RunningReaders()) {
    if (reader->failure != 0) return av::ErrorText(reader->failure);
  }
  return {};
}

bool MediaSource::Stop() {
  if (impl_->opened) impl_->StopThreads();
  return !impl_->writeFailed;
}

void MediaSource::CloseConversion() {
  Impl& s = *impl_;
  s.StopThreads();
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
