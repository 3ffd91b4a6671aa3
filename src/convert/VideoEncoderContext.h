#pragma once

#include <memory>

#include "container/TrackBuffers.h"
#include "convert/ConversionParameters.h"

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

  // Frame rate as whole frames per second (0 until set-up fills it); 29
  // for 30000/1001.
  int frameRate() const;
  // The exact rate, frames per second as num / den (0/1 until set).
  int frameRateNum() const;
  int frameRateDen() const;
  // Completes the context at segment set-up: time base 1/frameRate, or
  // den/num for a rate that is no whole number, and size.
  void setFrameRate(int frameRate);
  void setFrameRate(int num, int den);
  void setSize(int width, int height);
  int width() const;
  int height() const;
  // The picture rate in bit/s; a rate set here (by the size limit) is also
  // held to closely, about a second's worth of bits at most off.
  int bitRate() const;
  void setBitRate(int bitRate);
  // Pictures from one key frame to the next.
  int keyInterval() const;
  // Output capacity of one encode call: width * height * 3 / 2.
  int frameSize() const { return frameSize_; }
  void setFrameSize(int bytes) { frameSize_ = bytes; }

  // Resets the context again with the parameters and the audio block of the
  // last ResetVideoEncoderContext, so that every segment starts from the
  // same values. Does nothing when the context was never reset.
  void resetAgain();

 private:
  friend void ResetVideoEncoderContext(VideoEncoderContext&, const ConversionParameters&,
                                       AudioParameterBlock&);
  struct ContextDeleter {
    void operator()(AVCodecContext* c) const;
  };
  std::unique_ptr<AVCodecContext, ContextDeleter> context_;
  VideoKind kind_ = VideoKind::Mpeg4;
  int frameSize_ = 0;
  // Remembered by ResetVideoEncoderContext for resetAgain.
  ConversionParameters lastParams_;
  AudioParameterBlock* lastAudio_ = nullptr;
};

// Allocates a fresh context for the encoder of params.videoKind ("h263" for
// H.263, "mpeg4" otherwise) with the path's fixed parameters, frame rate and
// size from params; clears the audio parameter block.
void ResetVideoEncoderContext(VideoEncoderContext& context, const ConversionParameters& params,
                              AudioParameterBlock& audio);

}  // namespace zel
