#pragma once

// The preview of a file: single pictures of the open file for the
// window, at the size its preview area gives them, and still frames at the
// picture's own size. Demuxers and decoders of its own (in the SeekerPool),
// so a running conversion (MediaSource) is never disturbed.

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

// Every operation is called from one thread, the window's; ReadPlaybackPcm
// also from the audio device's.
class PreviewSource {
 public:
  PreviewSource() = default;
  ~PreviewSource() { ClosePreview(); }
  PreviewSource(const PreviewSource&) = delete;
  PreviewSource& operator=(const PreviewSource&) = delete;

  // Opens path for the preview: Opened, NoSuchFile when the file does not
  // exist, NothingPlays when it holds nothing that plays (the caller shows
  // text::kRenderFileError for either). Pictures go to sink (may be null), at the
  // display size until LayoutVideoWindow sets another. The window then sets
  // its marks to [0, previewInfo().durationHns].
  OpenResult OpenPreview(const std::string& path, PreviewSink* sink);
  const MediaInfo& previewInfo() const { return info_; }
  bool previewOpened() const { return opened_; }

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
  std::size_t ReadPlaybackPcm(std::uint8_t* data, std::size_t maxBytes) {
    return player_.ReadPcm(data, maxBytes);
  }
  // The whole sound of the range has been read (or the file has none).
  bool playbackSoundDrained() const { return player_.pcmDrained(); }
  PlaybackCounters playbackCounters() const { return player_.counters(); }

  // Shows the picture at the position as ShowFrameAt does, and copies it at
  // its decoded size (not the display size) as 24-bit rows of width * 3
  // bytes, B, G, R, the bottom row first. False when there is no picture.
  bool GrabFrameAt(std::int64_t positionHns, std::vector<std::uint8_t>& rgb24BottomUp, int& width,
                   int& height);

  // 1, or 0 when nothing is open. The source can open another file afterwards.
  int ClosePreview();

  PreviewCounters previewCounters() const;

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
