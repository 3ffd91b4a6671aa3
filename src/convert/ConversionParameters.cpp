#include "convert/ConversionParameters.h"

#include "convert/VideoEncoderContext.h"
#include "settings/ConversionSettings.h"
#include "settings/ValueLists.h"

namespace zel {

int FrameHeightForWidth(int width) {
  for (const FrameSize& size : kFrameSizes) {
    if (size.width == width) return size.height;
  }
  return 0;
}

bool IsH263FrameSize(int width, int height) {
  for (const FrameSize& size : kFrameSizes) {
    if (size.h263 && size.width == width && size.height == height) return true;
  }
  return false;
}

Fault PrepareConversion(const ConversionSettings& settings, ConversionParameters& params,
                        EncoderBlocks encoders) {
  const bool want3gp = settings.file3gp != 0;
  const bool want3g2 = settings.file3g2 != 0;
  if (!want3gp && !want3g2) return Fault{FaultKind::kNoOutputKind};

  // Every index goes through the value lists, which treat an index outside
  // its list as the list's first entry; an edited setup.ini cannot reach past
  // a list.
  const auto audioKind = static_cast<AudioKind>(AudioFormatValue(settings.mpeg_audio));
  const auto videoKind = static_cast<VideoKind>(VideoFormatValue(settings.mpeg_video));

  // The rate and channel lists follow the stored audio format: "amr" offers
  // only 8000 Hz mono, "none" only 0, whatever index is stored.
  const int sampleRate = SampleRateHz(settings.mpeg_audio, settings.samplerate);
  const int channels = ChannelCount(settings.mpeg_audio, settings.channels);

  int width = 0;
  int height = 0;
  if (videoKind != VideoKind::None) {
    // The "mpeg4" list for both formats: an H.263 job with index 2 gets
    // 320x240, which the video path then refuses.
    width = FrameWidth(settings.framesize);
    height = FrameHeightForWidth(width);
    if (height == 0) return Fault{FaultKind::kUnsupportedFrameSize};
  }

  // framerate is both index and value of the frame-rate list; a stored value
  // outside 0..30 keeps the source frame rate.
  const int frameRate = FrameRateFps(settings.framerate);

  params.thumbWidth = CaptureWidth(settings.capturesize);
  params.thumbHeight = params.thumbWidth * 3 / 4;
  params.reportEnabled = settings.logfile != 0;
  params.keepAspect = settings.keepaspect != 0;
  params.smoothScale = settings.smoothscale != 0;
  params.maxSizeBytes = settings.maxsize > 0 ? std::uint64_t(settings.maxsize) * 1024 : 0;
  params.normalize = settings.normalize != 0;

  const ContainerMode containerMode = !want3g2   ? ContainerMode::ThreeGpOnly
                                      : !want3gp ? ContainerMode::ThreeG2Only
                                                 : ContainerMode::Both;

  SetConversionParameters(params, encoders, audioKind, videoKind, sampleRate, channels, frameRate,
                          width, height, containerMode);
  return {};
}

void SetConversionParameters(ConversionParameters& params, EncoderBlocks encoders,
                             AudioKind audioKind, VideoKind videoKind, int sampleRate, int channels,
                             int frameRate, int width, int height, ContainerMode containerMode) {
  params.audioKind = audioKind;
  params.videoKind = videoKind;
  params.sampleRate = sampleRate;
  params.channels = channels;
  params.frameRate = frameRate;
  params.width = width;
  params.height = height;
  params.containerMode = containerMode;
  // The reset clears the audio parameter block too, so rate and channels go
  // in only after it.
  ResetVideoEncoderContext(encoders.video, params, encoders.audio);
  encoders.audio.sampleRate = sampleRate;
  encoders.audio.channels = channels;
}

}  // namespace zel
