#pragma once

#include <memory>

#include "container/TrackBuffers.h"

struct AVCodecContext;

namespace zel {

struct ConversionParameters;

// The libavcodec encoder context of the video path. It is filled by
// ResetVideoEncoderContext at job start and after every segment, completed at
// segment set-up, opened and closed per segment.
class VideoEncoderContext {
 public:
  VideoEncoderContext();
  ~VideoEncoderContext();
  VideoEncoderContext(const VideoEncoderContext&) = delete;
  VideoEncoderContext& operator=(const VideoEncoderContext&) = delete;

  AVCodecContext* get() const { return context_.get(); }
  // Which encoder ResetVideoEncoderContext chose ("mpeg4" or "h263").
  VideoKind kind() const { return kind_; }

  // What the container writer reads of the context (valid once opened).
  VideoStreamParameters streamParameters() const;

 private:
  friend void ResetVideoEncoderContext(VideoEncoderContext&, const ConversionParameters&,
                                       AudioParameterBlock&);
  struct ContextDeleter {
    void operator()(AVCodecContext* c) const;
  };
  std::unique_ptr<AVCodecContext, ContextDeleter> context_;
  VideoKind kind_ = VideoKind::Mpeg4;
};

// Allocates a fresh context for the encoder of params.videoKind ("h263" for
// H.263, "mpeg4" otherwise) with the path's fixed parameters, frame rate and
// size from params; clears the audio parameter block.
void ResetVideoEncoderContext(VideoEncoderContext& context, const ConversionParameters& params,
                              AudioParameterBlock& audio);

}  // namespace zel
