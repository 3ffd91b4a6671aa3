#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "General/Fault.h"
#include "container/TrackBuffers.h"
#include "convert/SegmentInfo.h"
#include "source/VideoFrameSink.h"

namespace zel {

class VideoEncoderContext;
struct ConversionState;

// What the source says about the frames it delivers.
struct VideoSourceFormat {
  std::int64_t frameDurationHns = 0;  // average frame time; 0: unknown (30 fps)
  int width = 0;
  int height = 0;
  int frameRate = 0;  // whole frames per second of the exact rate; 0: from the frame time
  int frameRateNum = 0, frameRateDen = 0;        // the exact rate; 0: unknown
  int sampleAspectNum = 0, sampleAspectDen = 0;  // the pixels' shape; 0: square
};

// How the picture is fitted into the target frame; both off gives the
// nearest-neighbour stretch over the whole frame.
struct VideoScaling {
  bool keepAspect = false;  // keep the display aspect ratio, black bars around
  bool smooth = false;      // average the source pixels (area filter; bicubic to enlarge)
};

// Segment set-up: completes the context (frame rate and size of 0 taken from
// the source, the rate exactly), checks the H.263 frame sizes and fills info,
// whose frameCount is the segment's number of output pictures (the segment
// starting segmentOffsetHns after the range's start). Returns the fault when
// the segment cannot be encoded.
Fault SetUpVideoSegment(VideoEncoderContext& context, const VideoSourceFormat& source,
                        std::int64_t segmentLengthHns, VideoSegmentInfo& info,
                        const VideoScaling& scaling = {}, std::int64_t segmentOffsetHns = 0);

// The encoding side of the VideoTrackBuffer: receives the decoded frames of a
// segment, scales them, resamples the frame rate and encodes into the store.
// The output clock starts at the segment's start, where its sound starts:
// each picture goes to the tick nearest its time and lasts until the next
// one, the last until the segment's end.
class VideoGrabber final : public VideoFrameSink {
 public:
  VideoGrabber(VideoTrackBuffer& store, ConversionState& state);
  ~VideoGrabber() override;

  // Opens the encoder for one segment. The fault when the encoder refuses to
  // open.
  Fault OpenVideoEncoder(VideoEncoderContext& context, const VideoSegmentInfo& info);
  void BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) override;
  // Ends the segment once its frames are all in: the last picture fills the
  // ticks up to the segment's end, then whatever the encoder still holds is
  // stored like the other pictures (nothing without B-frames). Runs before
  // the container files are written.
  void FlushVideoEncoder();
  // Closes the encoder and resets the context for the next segment; the
  // store's samples stay.
  void CloseVideoEncoder();

  // The segment's first delivered frame, raw at the source size; valid when
  // hasFirstFrame().
  const std::vector<std::uint8_t>& firstFrame() const { return firstFrame_; }
  bool hasFirstFrame() const;
  std::uint32_t frameCount() const { return frameCount_.load(); }
  // Packets the encoder still returned when flushed (none without B-frames).
  std::uint32_t flushedPackets() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<std::uint8_t> firstFrame_;
  std::atomic<std::uint32_t> frameCount_{0};
};

}  // namespace zel
