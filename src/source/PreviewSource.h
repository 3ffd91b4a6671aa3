#pragma once

// The preview side of MediaSource: single pictures of the open file for the
// window, at the size its preview area gives them, and still frames at the
// picture's own size. Demuxers and decoders of its own (in the SeekerPool),
// so a running conversion on another MediaSource is never disturbed.
//
// Every operation is called from one thread, the window's, but for
// ReadPlaybackPcm, which the audio device may call from its own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "source/MediaSource.h"
#include "source/PlaybackStatus.h"
#include "source/PreviewFrame.h"
#include "source/RangePlayer.h"
#include "source/RgbPictures.h"
#include "source/SeekerPool.h"
#include "source/VideoLayout.h"

namespace zel {

class Notifier;

class PreviewSource {
 public:
  int Open(const std::string& path, PreviewSink* sink, Notifier& notifier);
  int Close();
  bool opened() const { return opened_; }
  const MediaInfo& info() const { return info_; }

  int ShowFrameAt(std::int64_t positionHns, SeekKind kind = SeekKind::Exact);
  std::optional<VideoRect> Layout(int areaWidth, int areaHeight, int adjustframe);
  std::int64_t currentPosition() const;
  bool GrabFrameAt(std::int64_t positionHns, std::vector<std::uint8_t>& rgb24BottomUp, int& width,
                   int& height);
  PreviewCounters counters() const;

  int PlayRange(std::int64_t startHns, std::int64_t stopHns);
  int StopPlayback();
  PlaybackStatus PresentPlayback(std::int64_t clockHns);
  std::size_t ReadPlaybackPcm(std::uint8_t* data, std::size_t maxBytes) {
    return player_.ReadPcm(data, maxBytes);
  }
  bool playbackSoundDrained() const { return player_.pcmDrained(); }
  PlaybackCounters playbackCounters() const { return player_.counters(); }

 private:
  bool Deliver();

  bool opened_ = false;
  std::string path_;
  int audioStream_ = -1;
  MediaInfo info_;
  PreviewSink* sink_ = nullptr;
  SeekerPool seekers_;
  RgbPictures rgb_;
  // The size pictures are delivered at: the display size until the window
  // lays the picture out.
  int outWidth_ = 0;
  int outHeight_ = 0;
  // The picture shown last, kept for a new layout and for stills.
  av::FramePtr shown_;
  std::int64_t shownTimeHns_ = 0;
  std::int64_t positionHns_ = 0;
  std::uint64_t requests_ = 0;
  // Playing a range; it borrows a seeker of the pool meanwhile.
  RangePlayer player_;
};

}  // namespace zel
