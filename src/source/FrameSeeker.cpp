#include "source/FrameSeeker.h"

#include <algorithm>
#include <limits>

namespace zel {

namespace {

constexpr std::size_t kRunMaxPictures = 100;
// Reading on from where the decoder stands beats a seek up to this distance
// when no key frame is known in between.
constexpr std::int64_t kReadOnHns = 2 * kHnsPerSecond;
// A seek to a key frame between the newest picture and the position must
// save at least this much decoding to be worth it.
constexpr std::int64_t kSeekGainHns = kHnsPerSecond / 4;
// Pictures further than this before the target are decoded in the fast way.
constexpr std::int64_t kFullDecodeHns = kHnsPerSecond / 2;
// In a file without an index of key frames (MPEG program streams) a seek to
// a time comes down near it, mostly after the key frame before it: a key
// frame met earlier is aimed at from this far before it, when it lies at most
// kNearKeyHns back.
constexpr std::int64_t kKeyLeadHns = kHnsPerSecond / 2;
constexpr std::int64_t kNearKeyHns = 30 * kHnsPerSecond;
// Packets read past the position to find the next key frame, at most.
constexpr std::int64_t kLookAheadBytes = std::int64_t{4} << 20;
constexpr int kMaxPasses = 8;

// Codecs whose non-reference pictures (B pictures) can be left out without
// harm to the others, and whose output lags their input by one reference
// picture at most: when a picture near the target comes out, the pictures
// after it have not entered the decoder yet, so none of them is left out.
bool CanSkipNonReference(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_WMV3:
    case AV_CODEC_ID_VC1:
      return true;
    default:
      return false;
  }
}

}  // namespace

FrameSeeker::FrameSeeker() = default;
FrameSeeker::~FrameSeeker() = default;

bool FrameSeeker::Open(const std::string& path, int streamIndex, std::size_t runBytes,
                       KeyFrameMemory* memory, int decoderThreads) {
  Close();
  memory_ = memory != nullptr ? memory : &ownMemory_;
  job_.path = path;
  job_.streamIndex = streamIndex;
  reader_.decoderThreads = decoderThreads;
  if (!reader_.Open(job_)) {
    return false;
  }
  const AVRational rate = reader_.stream->avg_frame_rate;
  frameHns_ = rate.num > 0 && rate.den > 0 ? av_rescale(kHnsPerSecond, rate.den, rate.num)
                                           : kDefaultFrameHns;
  const AVCodecParameters* format = reader_.stream->codecpar;
  canSkipNonReference_ = CanSkipNonReference(format->codec_id);
  rotator_ = PictureRotator(DisplayRotation(reader_.stream));
  const std::size_t pictureBytes =
      std::max<std::size_t>(1, static_cast<std::size_t>(format->width) * format->height * 3 / 2);
  runLimit_ = std::clamp<std::size_t>(runBytes / pictureBytes, 2, kRunMaxPictures);
  keepSpanHns_ = static_cast<std::int64_t>(runLimit_) * frameHns_;
  return true;
}

void FrameSeeker::Close() {
  run_.clear();
  ownMemory_ = KeyFrameMemory{};
  memory_ = &ownMemory_;
  reader_ = StreamReader{};
  job_ = SegmentJob{};
  runFromStart_ = fresh_ = skipping_ = passedOver_ = false;
  counters_ = PreviewCounters{};
}

const DecodedPicture* FrameSeeker::PictureAt(std::int64_t positionHns, SeekKind kind) {
  if (!isOpen()) {
    return nullptr;
  }
  const std::int64_t position = std::max<std::int64_t>(0, positionHns);
  if (const DecodedPicture* known = FromRun(position)) {
    ++counters_.cachedAnswers;
    return known;
  }
  if (kind == SeekKind::Exact) {
    return Find(position, !WorthReadingOn(position), false);
  }
  // A seek to the position finds the key frame at or before it; one known
  // after it is aimed at when it lies nearer than the one known before.
  std::int64_t key = position;
  const std::optional<std::int64_t> before = LearnedKeyAtOrBefore(position);
  const auto after = memory_->times.upper_bound(position);
  if (before && after != memory_->times.end() && *after - position < position - *before) {
    key = *after;
  }
  return Find(key, true, true);
}

const DecodedPicture* FrameSeeker::Find(std::int64_t position, bool seek, bool keyOnly) {
  std::int64_t target = FirstTarget(position);
  std::int64_t keyLimit = std::numeric_limits<std::int64_t>::max();
  std::int64_t back = kHnsPerSecond;
  // A key picture comes with every picture after it, B pictures included,
  // so that the run stays whole for reading on from it.
  bool fast = !keyOnly;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    Pass result = seek ? Reposition(target, position, keyLimit, fast) : Pass::Found;
    if (result == Pass::Found) {
      result = keyOnly ? DecodeKey() : DecodePast(position);
    }
    seek = true;
    switch (result) {
      case Pass::Found:
        return keyOnly ? &run_.back() : FromRun(position);
      case Pass::StartedLate:
        keyLimit = startKeyHns_;  // from a key frame before that one
        [[fallthrough]];
      case Pass::LandedLate: {
        // Further back, or straight to a key frame met before when nearer.
        memory_->seeksLandLate = true;
        const std::optional<std::int64_t> learned =
            LearnedKeyAtOrBefore(std::min(position, keyLimit - 1));
        std::int64_t next = std::max<std::int64_t>(0, position - back);
        back *= 2;
        if (learned && position - *learned <= kNearKeyHns) {
          next = std::min(next, std::max<std::int64_t>(0, *learned - kKeyLeadHns));
        }
        // A file whose seeks go astray is read from its start at last.
        target = next < target && pass < kMaxPasses - 2 ? next : 0;
        break;
      }
      case Pass::Overshot:
        fast = false;  // the picture lay among those the fast way left out
        break;
      case Pass::Failed:
        return nullptr;
    }
  }
  return nullptr;
}

FrameSeeker::Pass FrameSeeker::DecodeKey() {
  fresh_ = false;
  const LoopEnd end = DecodeFrames(reader_, job_, [this](AVFrame* frame) {
    Keep(Stamp(frame), frame);
    return FrameVerdict::Enough;
  });
  return end == LoopEnd::Enough && !run_.empty() ? Pass::Found : Pass::Failed;
}

std::int64_t FrameSeeker::FirstTarget(std::int64_t positionHns) const {
  // A file's own index (ASF, AVI) leads a seek to the key frame; in a file
  // whose seeks have come down late, a key frame met before is the surer aim.
  const std::optional<std::int64_t> learned = LearnedKeyAtOrBefore(positionHns);
  if (memory_->seeksLandLate && learned && positionHns - *learned <= kNearKeyHns) {
    return std::max<std::int64_t>(0, *learned - kKeyLeadHns);
  }
  return positionHns;
}

FrameSeeker::Pass FrameSeeker::Reposition(std::int64_t targetHns, std::int64_t positionHns,
                                          std::int64_t keyLimitHns, bool fast) {
  ++counters_.seeks;
  run_.clear();
  if (!reader_.SeekTo(job_, targetHns)) {
    return Pass::Failed;
  }
  reader_.used = true;  // a seek that fails then reads the file again from its start
  reader_.nextTime = reader_.seeked ? targetHns : 0;
  if (!ReadToKey(targetHns, positionHns, keyLimitHns)) {
    return reader_.seeked ? Pass::LandedLate : Pass::Failed;
  }
  fresh_ = true;
  skipping_ = fast && canSkipNonReference_;
  passedOver_ = false;
  reader_.decoder.codec->skip_frame = skipping_ ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
  return Pass::Found;
}

bool FrameSeeker::ReadToKey(std::int64_t targetHns, std::int64_t positionHns,
                            std::int64_t keyLimitHns) {
  // Reads on from where the seek came down until the decoding times pass the
  // position, keeping the packets from the last key frame at or before it
  // (and before keyLimitHns, in decoding time). The demuxer alone is fast,
  // and decoding from the key frame found this way costs no more than needed
  // even when the seek came down a key frame early (an ASF index points at
  // the key frame before each whole second).
  av::PacketPtr packet = av::MakePacket();
  if (!packet) {
    return false;
  }
  std::int64_t clock = reader_.seeked ? targetHns : 0;  // for packets without a time
  bool haveKey = false;
  std::int64_t readOnBytes = 0;
  // Without a seek (target 0, or a file that cannot seek) reading starts at
  // the first picture, which also stands for the positions before it.
  bool first = !reader_.seeked;
  runFromStart_ = false;
  while (av_read_frame(reader_.input.get(), packet.get()) >= 0) {
    if (packet->stream_index != job_.streamIndex) {
      av_packet_unref(packet.get());
      continue;
    }
    const std::int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    clock = ts != AV_NOPTS_VALUE ? reader_.HnsOf(ts) : clock + frameHns_;
    const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    // A key frame without a presentation time shows its picture after the
    // B pictures that follow it, two or three frames after its decoding time.
    const std::int64_t keyHns =
        packet->pts != AV_NOPTS_VALUE ? reader_.HnsOf(packet->pts) : clock + 3 * frameHns_;
    if (key) memory_->times.insert(keyHns);
    const bool start = first || (key && keyHns <= positionHns && clock < keyLimitHns);
    if (start) {
      reader_.readAhead.clear();
      haveKey = true;
      runFromStart_ = first;
      startKeyHns_ = clock;
    }
    first = false;
    const int bytes = packet->size;
    if (job_.work != nullptr) job_.work->fetch_add(1, std::memory_order_relaxed);
    if (haveKey) {
      av::PacketPtr kept = av::MakePacket();
      if (!kept) return false;
      av_packet_move_ref(kept.get(), packet.get());
      reader_.readAhead.push_back(std::move(kept));
    } else {
      av_packet_unref(packet.get());
    }
    if (clock > positionHns) {
      // No key frame at or before the position follows. Reading on to the
      // next one (a few megabytes at most) tells where this key-frame
      // interval ends: up to there, reading on beats a seek.
      if (!haveKey || (key && !start) || readOnBytes > kLookAheadBytes) break;
      readOnBytes += bytes;
    }
  }
  return haveKey;
}

FrameSeeker::Pass FrameSeeker::DecodePast(std::int64_t positionHns) {
  std::optional<Pass> verdict;
  const auto onFrame = [&](AVFrame* frame) {
    const std::int64_t timeHns = Stamp(frame);
    if (fresh_) {
      fresh_ = false;
      if (timeHns > positionHns && !runFromStart_) {
        verdict = Pass::StartedLate;
        return FrameVerdict::Enough;
      }
    }
    if (skipping_) {
      if (timeHns < positionHns - kFullDecodeHns) {
        passedOver_ = true;
        runFromStart_ = false;
        return FrameVerdict::More;
      }
      skipping_ = false;
      reader_.decoder.codec->skip_frame = AVDISCARD_DEFAULT;
      if (timeHns > positionHns && passedOver_) {
        verdict = Pass::Overshot;
        return FrameVerdict::Enough;
      }
    }
    if (timeHns < positionHns - keepSpanHns_) {
      // Too far before the position to stay in the run: held, it would only
      // take a buffer of its own, and decoding into buffers that leave the
      // processor's cache is a fifth slower.
      run_.clear();
      runFromStart_ = false;
      return FrameVerdict::More;
    }
    Keep(timeHns, frame);
    return timeHns > positionHns || reader_.failure != 0 ? FrameVerdict::Enough
                                                         : FrameVerdict::More;
  };
  const LoopEnd end = DecodeFrames(reader_, job_, onFrame);
  if (end == LoopEnd::Stopped) {
    // Stopped between packets, nothing lost: the run goes on where it
    // stands, unless it was still skipping towards the position.
    if (skipping_ || run_.empty()) Forget();
    return Pass::Failed;
  }
  if (verdict) {
    return *verdict;
  }
  if (FromRun(positionHns) != nullptr) {
    return Pass::Found;
  }
  if (end == LoopEnd::Ended && skipping_ && passedOver_) {
    return Pass::Overshot;  // the stream ended before the fast way stopped
  }
  return Pass::Failed;
}

const DecodedPicture* FrameSeeker::PictureAfter(std::int64_t timeHns) {
  if (!isOpen()) {
    return nullptr;
  }
  const auto next = [this, timeHns] {
    return std::upper_bound(
        run_.begin(), run_.end(), timeHns,
        [](std::int64_t time, const DecodedPicture& picture) { return time < picture.timeHns; });
  };
  auto after = next();
  if (after == run_.begin() && !runFromStart_) {
    // The run does not hold the picture at timeHns: find it first.
    if (PictureAt(timeHns) == nullptr) return nullptr;
    after = next();
  }
  if (after != run_.end()) {
    return &*after;
  }
  if (reader_.ended) {
    return nullptr;
  }
  const LoopEnd end = DecodeFrames(reader_, job_, [this](AVFrame* frame) {
    Keep(Stamp(frame), frame);
    return FrameVerdict::Enough;
  });
  return end == LoopEnd::Enough && !run_.empty() && run_.back().timeHns > timeHns ? &run_.back()
                                                                                  : nullptr;
}

void FrameSeeker::SetStopFlag(const std::atomic<bool>* stop) {
  if (stop == nullptr) {
    SetStop({});
  } else {
    SetStop([stop] { return stop->load(std::memory_order_relaxed); });
  }
}

void FrameSeeker::SetStop(std::function<bool()> shouldStop, std::atomic<std::uint64_t>* work) {
  job_.shouldStop = std::move(shouldStop);
  job_.work = work;
}

std::int64_t FrameSeeker::Stamp(const AVFrame* frame) {
  ++counters_.decodedFrames;
  std::int64_t timeHns = reader_.nextTime;
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
    timeHns = reader_.HnsOf(frame->best_effort_timestamp);
  }
  const std::int64_t durationHns =
      frame->pkt_duration > 0
          ? av_rescale_q(frame->pkt_duration, reader_.stream->time_base, kHnsBase)
          : frameHns_;
  reader_.nextTime = timeHns + std::max<std::int64_t>(durationHns, 1);
  if (frame->key_frame) memory_->times.insert(timeHns);
  return timeHns;
}

void FrameSeeker::Forget() {
  run_.clear();
  runFromStart_ = fresh_ = skipping_ = passedOver_ = false;
  reader_.decoder.codec->skip_frame = AVDISCARD_DEFAULT;
}

const DecodedPicture* FrameSeeker::FromRun(std::int64_t positionHns) const {
  if (run_.empty()) {
    return nullptr;
  }
  // The last picture at or before the position; the one after it (or the
  // end of the stream) closes its span.
  const auto after = std::upper_bound(run_.begin(), run_.end(), positionHns,
                                      [](std::int64_t position, const DecodedPicture& picture) {
                                        return position < picture.timeHns;
                                      });
  if (after == run_.begin()) {
    return runFromStart_ ? &run_.front() : nullptr;
  }
  if (after == run_.end() && !reader_.ended) {
    return nullptr;
  }
  return &*(after - 1);
}

const DecodedPicture* FrameSeeker::Cached(std::int64_t positionHns) const {
  return isOpen() ? FromRun(std::max<std::int64_t>(0, positionHns)) : nullptr;
}

std::optional<std::int64_t> FrameSeeker::ReadOnDistance(std::int64_t positionHns) const {
  if (!isOpen() || !WorthReadingOn(positionHns)) {
    return std::nullopt;
  }
  return positionHns - run_.back().timeHns;
}

bool FrameSeeker::WorthReadingOn(std::int64_t positionHns) const {
  if (run_.empty() || reader_.ended || positionHns < run_.front().timeHns) {
    return false;
  }
  const std::int64_t newest = run_.back().timeHns;
  const std::optional<std::int64_t> key = LearnedKeyAtOrBefore(positionHns);
  // A key frame well ahead: a seek to it decodes less.
  if (key && *key - newest > kSeekGainHns) return false;
  if (positionHns - newest <= kReadOnHns) return true;
  // Further on only within the key-frame interval the decoder stands in,
  // both of whose ends are known: a seek would decode from its start.
  const auto next = memory_->times.upper_bound(newest);
  return key && next != memory_->times.end() && *next > positionHns;
}

std::optional<std::int64_t> FrameSeeker::LearnedKeyAtOrBefore(std::int64_t positionHns) const {
  const auto after = memory_->times.upper_bound(positionHns);
  if (after == memory_->times.begin()) {
    return std::nullopt;
  }
  return *std::prev(after);
}

void FrameSeeker::Keep(std::int64_t timeHns, const AVFrame* frame) {
  // Times that do not grow (damaged files) would break the order the lookups
  // rely on.
  if (!run_.empty() && timeHns <= run_.back().timeHns) {
    timeHns = run_.back().timeHns + 1;
  }
  DecodedPicture picture;
  picture.timeHns = timeHns;
  int rc = AVERROR(ENOMEM);
  if (rotator_.degrees() != 0) {
    picture.frame = rotator_.Rotate(frame);
    if (picture.frame) rc = 0;
  } else {
    picture.frame = av::MakeFrame();
    if (picture.frame) rc = av_frame_ref(picture.frame.get(), frame);
  }
  if (rc < 0) {
    reader_.failure = rc;  // the stream cannot be delivered whole
    return;
  }
  run_.push_back(std::move(picture));
  while (run_.size() > runLimit_) {
    run_.pop_front();
    runFromStart_ = false;
  }
}

}  // namespace zel
