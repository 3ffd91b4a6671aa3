#include "source/PcmConverter.h"

#include <algorithm>

#include "General/Log.h"

namespace zel {

PcmConverter::PcmConverter(int sampleRate, int channels) : rate_(sampleRate) {
  av_channel_layout_default(&outLayout_, channels);
}

PcmConverter::~PcmConverter() { av_channel_layout_uninit(&outLayout_); }

bool PcmConverter::Convert(const AVFrame* frame, std::vector<std::uint8_t>& out, int& samples) {
  samples = 0;
  if (!Configure(frame)) {
    return false;
  }
  const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
  if (capacity <= 0) {
    return true;
  }
  out.resize(static_cast<std::size_t>(capacity) * outLayout_.nb_channels * 2);
  std::uint8_t* outData = out.data();
  const int converted =
      swr_convert(swr_.get(), &outData, capacity,
                  const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
  if (converted < 0) {
    return false;
  }
  samples = converted;
  return true;
}

void PcmConverter::Flush(std::vector<std::uint8_t>& out, int& samples) {
  samples = 0;
  if (!swr_) return;
  const int capacity = swr_get_out_samples(swr_.get(), 0);
  if (capacity <= 0) return;
  out.resize(static_cast<std::size_t>(capacity) * outLayout_.nb_channels * 2);
  std::uint8_t* outData = out.data();
  samples = std::max(swr_convert(swr_.get(), &outData, capacity, nullptr, 0), 0);
}

bool PcmConverter::Configure(const AVFrame* frame) {
  const int channels = frame->ch_layout.nb_channels;
  if (channels <= 0 || frame->sample_rate <= 0) {
    return false;
  }
  if (swr_ && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
      channels == inChannels_) {
    return true;
  }
  AVChannelLayout inLayout{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&inLayout, channels);  // a WAV file without a channel mask
  } else if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0) {
    return false;
  }
  SwrContext* raw = nullptr;
  int rc = swr_alloc_set_opts2(&raw, &outLayout_, AV_SAMPLE_FMT_S16, rate_, &inLayout,
                               static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                               nullptr);
  av_channel_layout_uninit(&inLayout);
  swr_.reset(raw);
  // A pair is averaged into one channel and one channel doubled into two,
  // whatever the layouts say (libswresample's own matrix would put a mono
  // channel into both at -3 dB).
  static constexpr double kAverage[] = {0.5, 0.5}, kDouble[] = {1.0, 1.0};
  const int outChannels = outLayout_.nb_channels;
  if (rc >= 0 && channels == 2 && outChannels == 1) rc = swr_set_matrix(swr_.get(), kAverage, 2);
  if (rc >= 0 && channels == 1 && outChannels == 2) rc = swr_set_matrix(swr_.get(), kDouble, 1);
  if (rc < 0 || (rc = swr_init(swr_.get())) < 0) {
    LogError("cannot convert audio: " + av::ErrorText(rc));
    swr_.reset();
    return false;
  }
  inFormat_ = frame->format;
  inRate_ = frame->sample_rate;
  inChannels_ = channels;
  return true;
}

}  // namespace zel
