#include "source/SeekerPool.h"

#include <algorithm>

namespace zel {

namespace {

constexpr std::size_t kHeads = 4;
// Decoded pictures kept for stepping back, shared out among the seekers.
constexpr std::size_t kRunBytes = std::size_t{64} << 20;

}  // namespace

bool SeekerPool::Open(const std::string& path, int streamIndex) {
  Close();
  path_ = path;
  streamIndex_ = streamIndex;
  auto seeker = OpenSeeker();
  if (!seeker) {
    Close();
    return false;
  }
  heads_.push_back({std::move(seeker), 0});
  return true;
}

std::unique_ptr<FrameSeeker> SeekerPool::OpenSeeker() {
  auto seeker = std::make_unique<FrameSeeker>();
  if (!seeker->Open(path_, streamIndex_, kRunBytes / kHeads, &memory_)) {
    return nullptr;
  }
  return seeker;
}

void SeekerPool::Close() {
  heads_.clear();  // before the memory they share
  keySeeker_ = nullptr;
  memory_ = KeyFrameMemory{};
  path_.clear();
  streamIndex_ = -1;
  uses_ = 0;
  cachedAnswers_ = 0;
}

const DecodedPicture* SeekerPool::PictureAt(std::int64_t positionHns, SeekKind kind) {
  if (heads_.empty()) {
    return nullptr;
  }
  for (Head& head : heads_) {
    if (const DecodedPicture* known = head.seeker->Cached(positionHns)) {
      head.lastUse = ++uses_;
      ++cachedAnswers_;
      return known;
    }
  }
  if (kind == SeekKind::NearestKeyFrame) {
    Head* head = KeyHead();
    head->lastUse = ++uses_;
    return head->seeker->PictureAt(positionHns, kind);
  }
  Head* head = Choose(positionHns);
  head->lastUse = ++uses_;
  return head->seeker->PictureAt(positionHns);
}

SeekerPool::Head* SeekerPool::KeyHead() {
  for (Head& head : heads_) {
    if (head.seeker.get() == keySeeker_) return &head;
  }
  Head* head = Choose(-1);  // no seeker reads on to there: a new one or the least used
  keySeeker_ = head->seeker.get();
  return head;
}

SeekerPool::Head* SeekerPool::Choose(std::int64_t positionHns) {
  Head* nearest = nullptr;
  std::int64_t nearestDistance = 0;
  for (Head& head : heads_) {
    const std::optional<std::int64_t> distance = head.seeker->ReadOnDistance(positionHns);
    if (distance && (nearest == nullptr || *distance < nearestDistance)) {
      nearest = &head;
      nearestDistance = *distance;
    }
  }
  if (nearest != nullptr) {
    return nearest;
  }
  if (heads_.size() < kHeads) {
    if (auto seeker = OpenSeeker()) {
      heads_.push_back({std::move(seeker), 0});
      return &heads_.back();
    }
  }
  Head* oldest = &heads_.front();
  for (Head& head : heads_) {
    if (head.lastUse < oldest->lastUse) oldest = &head;
  }
  return oldest;
}

std::unique_ptr<FrameSeeker> SeekerPool::Lend(std::int64_t positionHns) {
  if (path_.empty()) {
    return nullptr;
  }
  Head* head = nullptr;
  for (Head& one : heads_) {
    if (one.seeker->Cached(positionHns) != nullptr) {
      head = &one;
      break;
    }
  }
  if (head == nullptr) {
    // The nearest, else the one used longest ago: opening another file
    // would hold up the window's thread.
    std::optional<std::int64_t> nearest;
    for (Head& one : heads_) {
      const std::optional<std::int64_t> distance = one.seeker->ReadOnDistance(positionHns);
      if (distance && (!nearest || *distance < *nearest)) {
        nearest = distance;
        head = &one;
      }
      if (!nearest && (head == nullptr || one.lastUse < head->lastUse)) head = &one;
    }
  }
  if (head == nullptr) {
    return nullptr;
  }
  std::unique_ptr<FrameSeeker> seeker = std::move(head->seeker);
  heads_.erase(heads_.begin() + (head - heads_.data()));
  return seeker;
}

void SeekerPool::GiveBack(std::unique_ptr<FrameSeeker> seeker) {
  if (!seeker || path_.empty()) {
    return;
  }
  seeker->SetStopFlag(nullptr);
  heads_.push_back({std::move(seeker), ++uses_});
  if (heads_.size() > kHeads) {
    // The one used longest ago goes; the one back from playing stands where
    // the window looks next.
    auto oldest = std::min_element(heads_.begin(), heads_.end() - 1,
                                   [](const Head& a, const Head& b) { return a.lastUse < b.lastUse; });
    heads_.erase(oldest);
  }
}

PreviewCounters SeekerPool::counters() const {
  PreviewCounters sum;
  sum.cachedAnswers = cachedAnswers_;
  for (const Head& head : heads_) {
    const PreviewCounters& one = head.seeker->counters();
    sum.seeks += one.seeks;
    sum.decodedFrames += one.decodedFrames;
    sum.cachedAnswers += one.cachedAnswers;
  }
  return sum;
}

}  // namespace zel
