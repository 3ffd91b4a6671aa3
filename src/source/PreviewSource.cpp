#include "source/PreviewSource.h"

#include <algorithm>
#include <filesystem>

#include "source/MediaProbe.h"

namespace zel {

OpenResult PreviewSource::OpenPreview(const std::string& path, PreviewSink* sink) {
  ClosePreview();
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return OpenResult::NoSuchFile;
  }
  av::InputPtr input = av::OpenInput(path);
  if (!input) {
    return OpenResult::NothingPlays;
  }
  MediaInfo info;
  const ProbedStreams streams = ProbeMedia(input.get(), true, true, info);
  input.reset();
  if (info.hasVideo && !seekers_.Open(path, streams.videoStream)) {
    info.hasVideo = false;
    info.frameDurationHns = 0;
    info.frameRate = info.width = info.height = info.displayWidth = info.displayHeight = 0;
  }
  if (!info.hasAudio && !info.hasVideo) {
    return OpenResult::NothingPlays;
  }
  info_ = info;
  path_ = path;
  audioStream_ = streams.audioStream;
  sink_ = sink;
  outWidth_ = info.displayWidth;
  outHeight_ = info.displayHeight;
  positionHns_ = 0;
  opened_ = true;
  return OpenResult::Opened;
}

int PreviewSource::ClosePreview() {
  if (!opened_) {
    return 0;
  }
  StopPlayback();
  opened_ = false;
  seekers_.Close();
  path_.clear();
  audioStream_ = -1;
  shown_.reset();
  info_ = MediaInfo{};
  sink_ = nullptr;
  positionHns_ = 0;
  return 1;
}

int PreviewSource::ShowFrameAt(std::int64_t positionHns, SeekKind kind) {
  if (!opened_ || !info_.hasVideo) {
    return 0;
  }
  ++requests_;
  StopPlayback();
  const DecodedPicture* picture = seekers_.PictureAt(positionHns, kind);
  if (picture == nullptr) {
    return 0;
  }
  if (!shown_) shown_ = av::MakeFrame();
  if (!shown_) return 0;
  av_frame_unref(shown_.get());
  if (av_frame_ref(shown_.get(), picture->frame.get()) < 0) {
    return 0;
  }
  shownTimeHns_ = picture->timeHns;
  positionHns_ = std::clamp<std::int64_t>(positionHns, 0, info_.durationHns);
  return Deliver() ? 1 : 0;
}

PreviewCounters PreviewSource::previewCounters() const {
  PreviewCounters counters = seekers_.counters();
  counters.requests = requests_;
  return counters;
}

std::optional<VideoRect> PreviewSource::LayoutVideoWindow(int areaWidth, int areaHeight,
                                                          int adjustframe) {
  if (!opened_ || !info_.hasVideo) {
    return std::nullopt;
  }
  const VideoRect rect = LayoutVideoRect({0, 0, areaWidth, areaHeight}, info_.displayWidth,
                                         info_.displayHeight, adjustframe);
  if (rect.width() != outWidth_ || rect.height() != outHeight_) {
    outWidth_ = rect.width();
    outHeight_ = rect.height();
    player_.SetPictureSize(outWidth_, outHeight_);
    if (shown_ && shown_->buf[0] != nullptr) Deliver();  // the picture at its new size
  }
  return rect;
}

bool PreviewSource::GrabFrameAt(std::int64_t positionHns, std::vector<std::uint8_t>& rgb24BottomUp,
                                int& width, int& height) {
  if (ShowFrameAt(positionHns) == 0 || !rgb_.ToBgr24BottomUp(shown_.get(), rgb24BottomUp)) {
    return false;
  }
  width = shown_->width;
  height = shown_->height;
  return true;
}

std::int64_t PreviewSource::GetCurrentPosition() const {
  return player_.active() ? player_.positionHns() : positionHns_;
}

int PreviewSource::PlayRange(std::int64_t startHns, std::int64_t stopHns) {
  if (!opened_) {
    return 0;
  }
  StopPlayback();
  RangePlayer::Range range;
  range.path = path_;
  range.startHns = std::clamp<std::int64_t>(startHns, 0, info_.durationHns);
  range.stopHns = std::clamp<std::int64_t>(stopHns, range.startHns, info_.durationHns);
  if (info_.hasVideo) {
    range.seeker = seekers_.Lend(range.startHns);
    if (info_.frameDurationHns > 0) range.frameHns = info_.frameDurationHns;
    if (sink_ != nullptr) {
      range.width = outWidth_;
      range.height = outHeight_;
    }
  }
  if (info_.hasAudio) {
    range.audioStream = audioStream_;
    range.sampleRate = info_.sampleRate;
    range.channels = info_.channels;
  }
  if (!player_.Start(std::move(range))) {
    seekers_.GiveBack(player_.Stop());
    return 0;
  }
  return 1;
}

int PreviewSource::StopPlayback() {
  if (!opened_) {
    return 0;
  }
  if (player_.active()) {
    positionHns_ = player_.positionHns();
    seekers_.GiveBack(player_.Stop());
  }
  return 1;
}

PlaybackStatus PreviewSource::PresentPlayback(std::int64_t clockHns) {
  RangePlayer::Step step = player_.Present(clockHns);
  if (step.picture) {
    QueuedPicture& picture = *step.picture;
    std::swap(shown_, picture.decoded);  // kept for stills and a new layout
    shownTimeHns_ = picture.timeHns;
    const AVFrame* rgb = picture.rgb.get();
    if (rgb != nullptr && rgb->width == outWidth_ && rgb->height == outHeight_) {
      if (sink_ != nullptr) {
        sink_->ShowPreviewFrame(
            {rgb->data[0], rgb->width, rgb->height, rgb->linesize[0], shownTimeHns_});
      }
    } else if (shown_) {
      Deliver();  // converted before the layout changed
    }
    player_.Recycle(std::move(step.picture));
  }
  return step.status;
}

bool PreviewSource::Deliver() {
  if (sink_ == nullptr || outWidth_ <= 0 || outHeight_ <= 0) {
    return true;  // nowhere to show it, or an area too small for a picture
  }
  const AVFrame* rgb = rgb_.ToRgb32(shown_.get(), outWidth_, outHeight_);
  if (rgb == nullptr) {
    return false;
  }
  sink_->ShowPreviewFrame({rgb->data[0], rgb->width, rgb->height, rgb->linesize[0], shownTimeHns_});
  return true;
}

}  // namespace zel
