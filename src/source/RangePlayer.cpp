#include "source/RangePlayer.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "General/Log.h"
#include "source/PcmConverter.h"
#include "source/Positioning.h"
#include "source/RgbPictures.h"
#include "source/StreamReader.h"

namespace zel {

namespace {

// Pictures decoded ahead: enough to ride over a slow picture, few enough
// that a stop or a new layout is seen soon.
constexpr std::size_t kQueuedPictures = 6;
// Sound decoded ahead, and how much of it must be there before the clock
// starts.
constexpr std::int64_t kPcmQueueMs = 500;
constexpr std::int64_t kPcmReadyMs = 150;

}  // namespace

RangePlayer::~RangePlayer() { Stop(); }

bool RangePlayer::Start(Range range) {
  Stop();
  range_ = std::move(range);
  stop_ = false;
  ended_ = false;
  clockHns_ = std::numeric_limits<std::int64_t>::min();
  positionHns_ = range_.startHns;
  width_ = range_.width;
  height_ = range_.height;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_ = dropped_ = 0;
    videoDone_ = range_.seeker == nullptr;
  }
  const bool withSound = range_.audioStream >= 0 && range_.sampleRate > 0 && range_.channels > 0;
  if (withSound) {
    const std::size_t frameBytes = static_cast<std::size_t>(range_.channels) * 2;
    pcm_ = std::make_unique<PcmQueue>(
        static_cast<std::size_t>(range_.sampleRate * kPcmQueueMs / 1000) * frameBytes, frameBytes);
  } else {
    pcm_.reset();
  }
  active_ = true;
  try {
    if (range_.seeker) videoThread_ = std::thread([this] { DecodePictures(); });
    if (withSound) audioThread_ = std::thread([this] { DecodeSound(); });
  } catch (const std::system_error& error) {
    LogError(std::string("cannot start playback: ") + error.what());
    return false;
  }
  return true;
}

std::unique_ptr<FrameSeeker> RangePlayer::Stop() {
  {
    // Under the lock: the decoding thread may have just found the queue full
    // and be about to wait; set unlocked, the wake-up could come before its
    // wait and be lost, and the join below would never return.
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (pcm_) pcm_->Close();
  room_.notify_all();
  if (videoThread_.joinable()) videoThread_.join();
  if (audioThread_.joinable()) audioThread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& picture : pictures_) spare_.push_back(std::move(picture));
    pictures_.clear();
    videoDone_ = true;
  }
  active_ = false;
  return std::move(range_.seeker);
}

bool RangePlayer::Late(std::int64_t timeHns) const {
  // The clock has passed the picture after this one too: it would only be
  // dropped.
  return timeHns + range_.frameHns <= clockHns_.load(std::memory_order_relaxed);
}

bool RangePlayer::Queue(std::int64_t timeHns, const AVFrame* picture, RgbPictures& rgb) {
  std::unique_ptr<QueuedPicture> queued;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return stop_ || pictures_.size() < kQueuedPictures; });
    if (stop_) return false;
    if (!spare_.empty()) {
      queued = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!queued) queued = std::make_unique<QueuedPicture>();
  if (!queued->decoded) queued->decoded = av::MakeFrame();
  // Converted outside the lock, so that the window's thread never waits.
  const int width = width_.load();
  const int height = height_.load();
  bool made = queued->decoded != nullptr;
  if (made) {
    av_frame_unref(queued->decoded.get());
    made = av_frame_ref(queued->decoded.get(), picture) >= 0 &&
           (width <= 0 || height <= 0 || rgb.ToRgb32Into(picture, width, height, queued->rgb));
  }
  queued->timeHns = timeHns;
  std::lock_guard<std::mutex> lock(mutex_);
  if (made) {
    pictures_.push_back(std::move(queued));
  } else {
    spare_.push_back(std::move(queued));  // a picture that cannot be shown is passed over
  }
  return true;
}

void RangePlayer::DecodePictures() {
  FrameSeeker& seeker = *range_.seeker;
  seeker.SetStopFlag(&stop_);
  RgbPictures rgb;
  // The picture on show at the start (it may begin before it), then each
  // one after it up to the end of the range.
  WalkPictures(seeker, range_.startHns, range_.stopHns, [&](const DecodedPicture& picture) {
    if (stop_) return false;
    if (Late(picture.timeHns)) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++dropped_;  // never converted: decoding fell behind the clock
      return true;
    }
    return Queue(picture.timeHns, picture.frame.get(), rgb);
  });
  seeker.SetStopFlag(nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  videoDone_ = true;
}

void RangePlayer::DecodeSound() {
  PcmQueue& pcm = *pcm_;
  const int rate = range_.sampleRate;
  const std::size_t frameBytes = static_cast<std::size_t>(range_.channels) * 2;
  // Sample positions count from the start of the file at the output rate.
  const std::int64_t firstSample = av_rescale(range_.startHns, rate, kHnsPerSecond);
  const std::int64_t endSample = av_rescale(range_.stopHns, rate, kHnsPerSecond);
  SoundTimeline timeline(
      firstSample, endSample, frameBytes,
      [&pcm](const std::uint8_t* data, std::size_t bytes) { return pcm.Write(data, bytes); },
      [this] { return stop_.load(std::memory_order_relaxed); });

  SegmentJob job;
  job.path = range_.path;
  job.streamIndex = range_.audioStream;
  job.startHns = range_.startHns;
  job.stopHns = range_.stopHns;
  job.shouldStop = [this] { return stop_.load(std::memory_order_relaxed); };
  StreamReader reader;
  if (reader.Open(job) && reader.Position(job)) {
    // As the conversion places its samples (StreamReader::PlaceAudioFrame),
    // and a gap becomes silence, so the sound keeps its place against the
    // pictures.
    reader.nextTime = reader.seeked ? firstSample : 0;
    PcmConverter converter(rate, range_.channels);
    std::vector<std::uint8_t> data;
    DecodeFrames(reader, job, [&](const AVFrame* frame) {
      int samples = 0;
      if (!converter.Convert(frame, data, samples)) {
        return FrameVerdict::Enough;  // silence for the rest of the range
      }
      if (samples <= 0) return FrameVerdict::More;
      timeline.Place(data.data(), reader.PlaceAudioFrame(frame, samples, rate), samples);
      return timeline.done() ? FrameVerdict::Enough : FrameVerdict::More;
    });
  }
  // Sound that ends early, or cannot be read, leaves silence up to the end:
  // the clock runs through the whole range.
  timeline.FillTo(endSample);
  pcm.Finish();
}

RangePlayer::Step RangePlayer::Present(std::int64_t clockHns) {
  Step step;
  if (!active_ || ended_) {
    return step;
  }
  clockHns_ = clockHns;
  positionHns_ = std::clamp(clockHns, range_.startHns, std::max(range_.startHns, range_.stopHns));
  bool videoDone = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!pictures_.empty() && pictures_.front()->timeHns <= clockHns) {
      if (step.picture) {
        ++dropped_;  // a newer one is due as well
        spare_.push_back(std::move(step.picture));
      }
      step.picture = std::move(pictures_.front());
      pictures_.pop_front();
    }
    if (step.picture) ++shown_;
    if (!pictures_.empty()) step.status.nextPictureHns = pictures_.front()->timeHns;
    videoDone = videoDone_ && pictures_.empty();
    step.status.ready = videoDone_ || !pictures_.empty();
  }
  room_.notify_all();
  if (pcm_) {
    const std::size_t readyBytes =
        static_cast<std::size_t>(range_.sampleRate * kPcmReadyMs / 1000) * range_.channels * 2;
    step.status.ready = step.status.ready && (pcm_->finished() || pcm_->available() >= readyBytes);
  }
  ended_ = videoDone && clockHns >= range_.stopHns;
  step.status.ended = ended_;
  step.status.playing = !ended_;
  return step;
}

void RangePlayer::Recycle(std::unique_ptr<QueuedPicture> picture) {
  if (!picture) return;
  std::lock_guard<std::mutex> lock(mutex_);
  spare_.push_back(std::move(picture));
}

std::size_t RangePlayer::ReadPcm(std::uint8_t* data, std::size_t maxBytes) {
  return pcm_ ? pcm_->Read(data, maxBytes) : 0;
}

bool RangePlayer::pcmDrained() const { return !pcm_ || pcm_->drained(); }

void RangePlayer::SetPictureSize(int width, int height) {
  width_ = width;
  height_ = height;
}

PlaybackCounters RangePlayer::counters() const {
  PlaybackCounters counters;
  std::lock_guard<std::mutex> lock(mutex_);
  counters.shown = shown_;
  counters.dropped = dropped_;
  counters.pcmBytes = pcm_ ? pcm_->bytesRead() : 0;
  return counters;
}

}  // namespace zel
