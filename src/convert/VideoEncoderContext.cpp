#include "convert/VideoEncoderContext.h"

#include "General/Log.h"
#include "settings/ValueLists.h"
#include "source/LibavHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <climits>
#include <cstdio>

namespace zel {

namespace {

// One quantiser step in lambda units (libavcodec's FF_QP2LAMBDA).
constexpr int kQp2Lambda = 118;

// Sets a private option of the mpegvideo encoders; a missing option is logged
// and otherwise ignored, the encoder then keeps its own default.
void setPrivate(AVCodecContext* c, const char* name, const char* value) {
  if (!c->priv_data) return;
  int err = av_opt_set(c->priv_data, name, value, 0);
  if (err < 0) {
    LogError(std::string("video encoder option ") + name + "=" + value + ": " + av::ErrorText(err));
  }
}

}  // namespace

void VideoEncoderContext::ContextDeleter::operator()(AVCodecContext* c) const {
  avcodec_free_context(&c);
}

VideoEncoderContext::VideoEncoderContext() = default;
VideoEncoderContext::~VideoEncoderContext() = default;

int VideoEncoderContext::frameRate() const {
  if (!context_ || context_->time_base.num <= 0) return 0;
  return context_->time_base.den / context_->time_base.num;
}

int VideoEncoderContext::frameRateNum() const {
  return context_ && context_->time_base.num > 0 ? context_->time_base.den : 0;
}

int VideoEncoderContext::frameRateDen() const {
  return context_ && context_->time_base.num > 0 ? context_->time_base.num : 1;
}

void VideoEncoderContext::setFrameRate(int frameRate) { setFrameRate(frameRate, 1); }

void VideoEncoderContext::setFrameRate(int num, int den) {
  if (!context_) return;
  if (num > 0 && den > 0) {
    av_reduce(&num, &den, num, den, INT_MAX);
    context_->time_base = AVRational{den, num};
    context_->framerate = AVRational{num, den};
  } else {
    context_->time_base = AVRational{0, 1};
    context_->framerate = AVRational{0, 1};
  }
}

void VideoEncoderContext::setSize(int width, int height) {
  if (!context_) return;
  context_->width = width;
  context_->height = height;
}

int VideoEncoderContext::width() const { return context_ ? context_->width : 0; }
int VideoEncoderContext::height() const { return context_ ? context_->height : 0; }

int VideoEncoderContext::bitRate() const {
  return context_ ? static_cast<int>(context_->bit_rate) : 0;
}

void VideoEncoderContext::setBitRate(int bitRate) {
  if (!context_) return;
  context_->bit_rate = bitRate;
  // The default tolerance lets a short segment end twice its rate's size.
  context_->bit_rate_tolerance = bitRate;
}

int VideoEncoderContext::keyInterval() const { return context_ ? context_->gop_size : 0; }

VideoStreamParameters VideoEncoderContext::streamParameters() const {
  VideoStreamParameters p;
  if (!context_) return p;
  p.encoderName = kind_ == VideoKind::H263 ? "h263" : "mpeg4";
  p.bitRate = static_cast<int>(context_->bit_rate);
  p.frameRate = frameRate();
  if (frameRateDen() > 1) {
    p.frameRateNum = frameRateNum();
    p.frameRateDen = frameRateDen();
  }
  p.width = context_->width;
  p.height = context_->height;
  if (context_->extradata && context_->extradata_size > 0) {
    p.decoderConfig.assign(context_->extradata, context_->extradata + context_->extradata_size);
  }
  return p;
}

void VideoEncoderContext::resetAgain() {
  if (lastAudio_) ResetVideoEncoderContext(*this, lastParams_, *lastAudio_);
}

void ResetVideoEncoderContext(VideoEncoderContext& context, const ConversionParameters& params,
                              AudioParameterBlock& audio) {
  // Remember the inputs first: params may be context.lastParams_ itself.
  const ConversionParameters saved = params;
  context.lastParams_ = saved;
  context.lastAudio_ = &audio;
  audio.clear();
  context.frameSize_ = 0;

  // A fresh context clears the encoder's private state and what the previous
  // segment's open left behind (extradata, codec pointer).
  context.kind_ = saved.videoKind == VideoKind::H263 ? VideoKind::H263 : VideoKind::Mpeg4;
  const AVCodec* codec =
      avcodec_find_encoder_by_name(context.kind_ == VideoKind::H263 ? "h263" : "mpeg4");
  context.context_.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
  AVCodecContext* c = context.context_.get();
  if (!c) {
    LogError(std::string("video encoder ") + (context.kind_ == VideoKind::H263 ? "h263" : "mpeg4") +
             " not available");
    return;
  }

  c->bit_rate = kVideoBitRate;  // no setting changes it
  c->bit_rate_tolerance = 4000000;
  c->flags = AV_CODEC_FLAG_GLOBAL_HEADER;  // headers into extradata, not into key frames
  // Frame rate and frame-rate base 1 become time base 1/frameRate; 0 stays
  // unset until segment set-up takes the source's rate.
  context.setFrameRate(saved.frameRate);
  c->width = saved.width;
  c->height = saved.height;
  c->gop_size = 12;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->max_b_frames = 0;
  c->qcompress = 0.5f;
  c->qblur = 0.5f;
  c->qmin = 2;
  c->qmax = 31;
  c->max_qdiff = 3;
  c->b_quant_factor = 1.25f;
  c->b_quant_offset = 1.25f;
  c->i_quant_factor = -0.8f;
  c->me_subpel_quality = 8;
  c->profile = FF_PROFILE_UNKNOWN;
  c->level = FF_LEVEL_UNKNOWN;
  c->sample_aspect_ratio = AVRational{0, 1};
  c->thread_count = 1;

  // Macroblock lambda limits are context fields (mb_lmin/mb_lmax); the frame
  // lambda limits moved into the encoders' private options lmin/lmax. The
  // frame lambda is also bounded by qmin/qmax * 118 when the rate control
  // picks a quantiser, so 236..3658 and 2..31 describe the same range.
  c->mb_lmin = 2 * kQp2Lambda;
  c->mb_lmax = 31 * kQp2Lambda;
  setPrivate(c, "lmin", "236");
  setPrivate(c, "lmax", "3658");

  // me_method left AVCodecContext; EPZS is the private option motion_est.
  setPrivate(c, "motion_est", "epzs");
  // rc_eq left AVCodecContext; the private option takes the same expression.
  setPrivate(c, "rc_eq", "tex^qComp");
  // rc_buffer_aggressivity left AVCodecContext; the private option
  // rc_buf_aggressivity is still accepted but has no effect any more.
  setPrivate(c, "rc_buf_aggressivity", "1.0");
  // Intra and inter quant bias: 999999 is the marker for "the library's
  // default bias". The context fields are gone and the mpeg4/h263 encoders
  // no longer offer ibias/pbias options; they always use their default, which
  // is what the marker asked for, so nothing is set.
}

}  // namespace zel
