#include "convert/VideoPath.h"

#include "General/Log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "convert/ConversionParameters.h"
#include "convert/FrameConversion.h"
#include "convert/VideoEncoderContext.h"
#include "source/LibavHandles.h"

namespace zel {

namespace {

// Sample times come rounded to the container's precision (whole
// milliseconds in ASF): a picture that lies half-way between two ticks of the
// output clock, give or take this much, always goes to the later one, so
// that the rounding cannot make the choice flicker from picture to picture.
constexpr std::int64_t kClockToleranceUs = 1000;
// MPEG-4 Visual codes its clock's resolution in 16 bits.
constexpr int kMaxClockResolution = 65535;
constexpr std::int64_t kBlockReserve = 200000;  // bytes beyond the frames' estimate
// The first reservation of the data block is capped; the block grows past it
// when a long segment needs more, so the estimate never limits a segment.
constexpr std::int64_t kMaxInitialBlock = 64LL << 20;
// Spare bytes behind the scaled frame store; the encoder reads the picture
// through plane pointers and strides that assume even sizes.
constexpr std::size_t kStorePadding = 64;

}  // namespace

Fault SetUpVideoSegment(VideoEncoderContext& context, const VideoSourceFormat& source,
                        std::int64_t segmentLengthHns, VideoSegmentInfo& info,
                        const VideoScaling& scaling, std::int64_t segmentOffsetHns) {
  if (!context.get()) return Fault{FaultKind::kVideoEncoderMissing};
  if (source.width <= 0 || source.height <= 0) return Fault{FaultKind::kVideoFrameSizeUnknown};
  const std::int64_t sourceDurationHns =
      source.frameDurationHns > 0 ? source.frameDurationHns : kDefaultFrameHns;
  // The exact rate when the source knows it: a 60 fps frame time rounds to
  // 166667 100-ns units, which would make 59.
  const int sourceFrameRate =
      source.frameRate > 0 ? source.frameRate : static_cast<int>(kHnsPerSecond / sourceDurationHns);
  if (context.frameRate() == 0) {
    // The source's own rate is kept exactly: 30000/1001 stays 30000/1001
    // (300 pictures in ten seconds stay 300), where its whole number, 29,
    // would drop a picture every second.
    int num = source.frameRateNum, den = source.frameRateDen;
    if (num > 0 && den > 0 && num >= den) {
      av_reduce(&num, &den, num, den, kMaxClockResolution);
      context.setFrameRate(num, den);
    } else {
      // A source slower than one frame per second has an integer rate of
      // 0, which would leave the output frame duration undefined; 1 fps is
      // the slowest output clock.
      context.setFrameRate(std::max(sourceFrameRate, 1));
    }
  }
  const int frameRate = context.frameRate();
  const int rateNum = context.frameRateNum(), rateDen = context.frameRateDen();
  // The segment's ticks lie on the clock of the whole range, so that the
  // segments' pictures add up to the range's: tick k of the range at
  // k * den / num seconds, each segment from the tick nearest its start.
  const auto tickAt = [&](std::int64_t hns) {
    return av_rescale_rnd(hns, rateNum, rateDen * kHnsPerSecond, AV_ROUND_NEAR_INF);
  };
  std::int64_t frameCount = 0;
  if (segmentLengthHns > 0) {
    frameCount = std::max<std::int64_t>(
        1, tickAt(segmentOffsetHns + segmentLengthHns) - tickAt(segmentOffsetHns));
  }

  if (context.width() == 0 && context.height() == 0) context.setSize(source.width, source.height);
  const int width = context.width(), height = context.height();
  context.setFrameSize(width * height * 3 / 2);

  if (context.kind() == VideoKind::H263 && !IsH263FrameSize(width, height)) {
    // The conversion ends as failed here; nothing has been encoded yet.
    return Fault{FaultKind::kH263FrameSize};
  }

  info = FrameSizes(source.width, source.height, width, height);
  info.frameCount = static_cast<int>(std::min<std::int64_t>(frameCount, 0x7fffffff));
  info.bitRate = static_cast<int>(context.get()->bit_rate);
  info.sourceFrameRate = sourceFrameRate;
  info.targetFrameRate = frameRate;
  info.targetRateNum = rateNum;
  info.targetRateDen = rateDen;
  info.sampleAspectNum = source.sampleAspectNum;
  info.sampleAspectDen = source.sampleAspectDen;
  info.keepAspect = scaling.keepAspect;
  info.smoothScaling = scaling.smooth;
  return {};
}

struct VideoGrabber::Impl {
  VideoTrackBuffer& store;
  ConversionState& state;
  VideoEncoderContext* context = nullptr;
  VideoSegmentInfo info;
  bool open = false;
  bool haveFirstFrame = false;
  // The output clock runs from the segment's start, as the sound does: tick
  // k at k * rateDen / rateNum seconds, info.frameCount ticks in all.
  std::int64_t ticks = 0;  // the next tick to encode
  std::int64_t rateNum = 1, rateDen = 1;
  // Tick k shows the latest picture from before the middle between ticks k
  // and k + 1: every picture goes to the tick nearest its time.
  std::int64_t tickLimitUs(std::int64_t k) const {
    return (2 * k + 1) * 1000000 * rateDen / (2 * rateNum) - kClockToleranceUs;
  }
  // The latest delivered picture, raw, converted to the target size only
  // once a tick shows it: a picture that no tick shows costs no scaling.
  std::vector<std::uint8_t> current;
  bool haveCurrent = false;
  bool currentConverted = false;
  bool encodeTicksBefore(std::int64_t limitUs, std::atomic<std::uint32_t>& frameCount);
  bool aborted() const { return state.abortRequested.load(std::memory_order_relaxed); }
  std::int64_t nextPts = 0;     // the picture's number, in the encoder's time base
  std::size_t sourceBytes = 0;  // one delivered frame at the source size
  std::size_t targetBytes = 0;
  std::vector<std::uint8_t> scaledFrame;  // YV12 at the target size; the picture's planes
  // Fitting the picture (keepaspect, smoothscale): where it goes, and how.
  PictureArea area;
  bool wholeFrame = true;     // the picture fills the frame, nearest neighbour
  av::SwsPtr smoothScaler;    // smoothscale
  VideoSegmentInfo areaInfo;  // nearest neighbour into the area
  std::vector<std::uint8_t> areaFrame;
  bool setUpFitting();
  void convertPicture(const std::uint8_t* buffer, std::size_t length);
  void fitPicture(const std::uint8_t* buffer, std::size_t length);
  av::FramePtr picture;
  av::PacketPtr packet;
  std::uint32_t flushedPackets = 0;
  bool flushed = false;
  bool reportedError = false;

  Impl(VideoTrackBuffer& s, ConversionState& st) : store(s), state(st) {}
  void encodePicture(std::atomic<std::uint32_t>& frameCount);
};

VideoGrabber::VideoGrabber(VideoTrackBuffer& store, ConversionState& state)
    : impl_(std::make_unique<Impl>(store, state)) {}

VideoGrabber::~VideoGrabber() {
  if (impl_->open) CloseVideoEncoder();
}

bool VideoGrabber::hasFirstFrame() const { return impl_->haveFirstFrame; }

std::uint32_t VideoGrabber::flushedPackets() const { return impl_->flushedPackets; }

Fault VideoGrabber::OpenVideoEncoder(VideoEncoderContext& context, const VideoSegmentInfo& info) {
  Impl& d = *impl_;
  if (d.open) CloseVideoEncoder();
  d.context = &context;
  d.info = info;
  d.store.samples.clear();
  d.store.syncSamples.clear();
  frameCount_ = 0;
  d.flushedPackets = 0;
  d.flushed = false;
  d.reportedError = false;
  d.haveFirstFrame = false;
  d.ticks = 0;
  d.haveCurrent = false;
  d.nextPts = 0;

  AVCodecContext* c = context.get();
  const int sw = info.sourceWidth, sh = info.sourceHeight;
  const int tw = info.targetWidth, th = info.targetHeight;
  if (!c || sw <= 0 || sh <= 0 || tw <= 0 || th <= 0 || info.targetFrameRate <= 0) {
    return Fault{FaultKind::kVideoEncoderNotSetUp};
  }

  const std::size_t sourceLuma = static_cast<std::size_t>(sw) * sh;
  const std::size_t targetLuma = static_cast<std::size_t>(tw) * th;
  d.sourceBytes = sourceLuma * 3 / 2;
  d.targetBytes = targetLuma * 3 / 2;
  d.scaledFrame.assign(d.targetBytes + kStorePadding, 0);
  d.current.assign(d.sourceBytes, 0);
  firstFrame_.assign(sourceLuma * 3, 0);
  if (!d.setUpFitting()) {
    return Fault{FaultKind::kVideoScalingMissing};
  }
  // The data block's estimate: half a byte per target pixel and frame, plus a
  // reserve. The store grows beyond it when the frames need more.
  const std::int64_t estimate =
      static_cast<std::int64_t>(targetLuma) * std::max(info.frameCount, 0) / 2 + kBlockReserve;
  d.store.samples.prepareAppend(static_cast<std::size_t>(std::min(estimate, kMaxInitialBlock)));

  // A failed open clears the context's codec pointer: name it from before.
  const AVCodec* codec = c->codec;
  int err = avcodec_open2(c, codec, nullptr);
  if (err < 0) {
    d.scaledFrame.clear();
    firstFrame_.clear();
    return Fault{FaultKind::kVideoEncoderNotOpened,
                 {},
                 0,
                 std::string(codec ? codec->name : "?") + ": " + av::ErrorText(err)};
  }

  d.picture.reset(av_frame_alloc());
  d.packet.reset(av_packet_alloc());
  if (!d.picture || !d.packet) {
    return Fault{FaultKind::kVideoEncoderOutOfMemory};
  }
  AVFrame* p = d.picture.get();
  p->format = AV_PIX_FMT_YUV420P;
  p->width = tw;
  p->height = th;
  // YV12 order in the store: luma, then V (the encoder's plane 2), then U.
  p->data[0] = d.scaledFrame.data();
  p->data[2] = d.scaledFrame.data() + targetLuma;
  p->data[1] = d.scaledFrame.data() + targetLuma + static_cast<std::size_t>(tw / 2) * (th / 2);
  p->linesize[0] = tw;
  p->linesize[1] = tw / 2;
  p->linesize[2] = tw / 2;
  p->key_frame = 1;
  d.rateNum = info.targetRateDen > 0 ? info.targetRateNum : info.targetFrameRate;
  d.rateDen = info.targetRateDen > 0 ? info.targetRateDen : 1;

  d.store.stream = context.streamParameters();
  d.store.kind = context.kind();
  d.store.present = true;
  d.open = true;
  return {};
}

// Encodes the picture once and stores what the encoder returns. With no
// B-frames the mpeg4 and h263 encoders return one packet per picture at once.
void VideoGrabber::Impl::encodePicture(std::atomic<std::uint32_t>& frameCount) {
  Impl& d = *this;
  AVCodecContext* c = d.context->get();
  d.picture->pts = d.nextPts++;
  int err = avcodec_send_frame(c, d.picture.get());
  if (err < 0) {
    if (!d.reportedError) LogError("video encoding: " + av::ErrorText(err));
    d.reportedError = true;
    return;
  }
  while ((err = avcodec_receive_packet(c, d.packet.get())) == 0) {
    d.store.appendFrame(d.packet->data, static_cast<std::size_t>(d.packet->size),
                        (d.packet->flags & AV_PKT_FLAG_KEY) != 0);
    av_packet_unref(d.packet.get());
    frameCount = d.store.samples.sampleCount();
  }
  if (err != AVERROR(EAGAIN) && err != AVERROR_EOF && !d.reportedError) {
    LogError("video encoding: " + av::ErrorText(err));
    d.reportedError = true;
  }
}

void VideoGrabber::BufferCB(double sampleTime, const std::uint8_t* buffer, std::size_t length) {
  Impl& d = *impl_;
  if (!d.open || d.flushed || !buffer) return;
  const auto t = static_cast<std::int64_t>(sampleTime * 1000000.0);
  if (d.aborted()) return;

  if (const CaptionSink* window = d.state.statusWindow.load()) {
    char caption[128];
    const std::int64_t seconds = t / 1000000;
    const int n =
        std::snprintf(caption, sizeof caption, "file:%06d video 変換中 sampletime:%02d:%02d",
                      d.state.segmentIndex.load(), static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    // The rate a size limit chose; none without one.
    if (const int rate = d.state.limitedBitRate.load(); rate > 0 && n > 0) {
      std::snprintf(caption + n, sizeof caption - n, " bitrate:%d[bps]", rate);
    }
    (*window)(caption);
  }

  // The decoding source delivers YV12 at the source size; a short frame is
  // dropped rather than read past its end.
  if (length < d.sourceBytes) return;

  // The first picture delivered, not the first one coded: an encoder that
  // holds pictures back has coded none yet when the second one arrives.
  if (!d.haveFirstFrame) {
    d.haveFirstFrame = true;
    // The thumbnail is the segment's first delivered frame, raw.
    std::memcpy(firstFrame_.data(), buffer, std::min(length, firstFrame_.size()));
  }

  // The output clock: the picture before this one is encoded once for every
  // tick it is the latest for, which drops pictures of a faster source and
  // repeats those of a slower one. The first picture also fills the ticks
  // before its time: a stream that starts late shows it from the start.
  if (d.haveCurrent && !d.encodeTicksBefore(t, frameCount_)) return;
  if (d.ticks >= d.info.frameCount) return;  // beyond the segment's last tick
  std::memcpy(d.current.data(), buffer, d.sourceBytes);
  d.haveCurrent = true;
  d.currentConverted = false;
}

// Encodes the current picture for every tick up to the one whose limit
// reaches limitUs; false when an abort stopped it.
bool VideoGrabber::Impl::encodeTicksBefore(std::int64_t limitUs,
                                           std::atomic<std::uint32_t>& frameCount) {
  while (ticks < info.frameCount && tickLimitUs(ticks) < limitUs) {
    if (!currentConverted) convertPicture(current.data(), current.size());
    currentConverted = true;
    encodePicture(frameCount);
    ++ticks;
    if (aborted()) return false;
  }
  return true;
}

// The picture at the target size, from a delivered frame: scaled, or copied
// as it is.
void VideoGrabber::Impl::convertPicture(const std::uint8_t* buffer, std::size_t length) {
  if (!wholeFrame) {
    fitPicture(buffer, length);
  } else if (info.xRatio == 10000 && info.yRatio == 10000) {
    std::memcpy(scaledFrame.data(), buffer, std::min(targetBytes, length));
  } else {
    ScaleYV12(info, buffer, length, scaledFrame.data());
  }
}

// The picture's place in the frame and the scaler for it. With keepaspect
// and smoothscale off (or a picture that fills the frame anyway, scaled by
// nearest neighbour) nothing changes: the frame is stretched as always.
bool VideoGrabber::Impl::setUpFitting() {
  const int sw = info.sourceWidth, sh = info.sourceHeight;
  const int tw = info.targetWidth, th = info.targetHeight;
  area = FitPicture(sw, sh, info.sampleAspectNum, info.sampleAspectDen, tw, th, info.keepAspect);
  wholeFrame = !info.smoothScaling && area == PictureArea{0, 0, tw, th};
  smoothScaler.reset();
  areaFrame = {};
  if (wholeFrame) return true;
  // Black bars: Y 16, U and V 128, written once; the picture overwrites only
  // its area.
  const std::size_t luma = static_cast<std::size_t>(tw) * th;
  std::fill_n(scaledFrame.begin(), luma, std::uint8_t{16});
  std::fill(scaledFrame.begin() + static_cast<std::ptrdiff_t>(luma), scaledFrame.end(),
            std::uint8_t{128});
  if (info.smoothScaling) {
    // An area filter averages when shrinking; enlarging it would only
    // repeat pixels, so bicubic does that.
    const bool shrinks = area.width <= sw && area.height <= sh;
    smoothScaler.reset(sws_getContext(sw, sh, AV_PIX_FMT_YUV420P, area.width, area.height,
                                      AV_PIX_FMT_YUV420P, shrinks ? SWS_AREA : SWS_BICUBIC, nullptr,
                                      nullptr, nullptr));
    return smoothScaler != nullptr;
  }
  areaInfo = FrameSizes(sw, sh, area.width, area.height);
  areaFrame.assign(static_cast<std::size_t>(area.width) * area.height * 3 / 2 + kStorePadding, 0);
  return true;
}

// Scales the delivered YV12 frame into the picture's area of the target
// frame (planes Y, V, U, each without row padding).
void VideoGrabber::Impl::fitPicture(const std::uint8_t* buffer, std::size_t length) {
  const int sw = info.sourceWidth, sh = info.sourceHeight, tw = info.targetWidth;
  const std::size_t sourceLuma = static_cast<std::size_t>(sw) * sh;
  const std::size_t targetLuma = static_cast<std::size_t>(tw) * info.targetHeight;
  std::uint8_t* target[3] = {scaledFrame.data() + static_cast<std::size_t>(area.y) * tw + area.x,
                             // U is the third plane of YV12, V the second
                             scaledFrame.data() + targetLuma + targetLuma / 4 +
                                 static_cast<std::size_t>(area.y / 2) * (tw / 2) + area.x / 2,
                             scaledFrame.data() + targetLuma +
                                 static_cast<std::size_t>(area.y / 2) * (tw / 2) + area.x / 2};
  const int targetStride[3] = {tw, tw / 2, tw / 2};
  if (smoothScaler) {
    const std::uint8_t* source[3] = {buffer, buffer + sourceLuma + sourceLuma / 4,
                                     buffer + sourceLuma};
    const int sourceStride[3] = {sw, sw / 2, sw / 2};
    sws_scale(smoothScaler.get(), source, sourceStride, 0, sh, target, targetStride);
    return;
  }
  if (ScaleYV12(areaInfo, buffer, length, areaFrame.data()) == 0) return;
  const int aw = area.width, ah = area.height;
  const std::size_t areaLuma = static_cast<std::size_t>(aw) * ah;
  const std::uint8_t* planes[3] = {areaFrame.data(), areaFrame.data() + areaLuma + areaLuma / 4,
                                   areaFrame.data() + areaLuma};
  for (int plane = 0; plane < 3; ++plane) {
    const int rowBytes = plane == 0 ? aw : aw / 2;
    const int rows = plane == 0 ? ah : ah / 2;
    for (int y = 0; y < rows; ++y) {
      std::memcpy(target[plane] + static_cast<std::size_t>(y) * targetStride[plane],
                  planes[plane] + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
  }
}

void VideoGrabber::FlushVideoEncoder() {
  Impl& d = *impl_;
  if (!d.open || !d.packet || d.flushed || !d.context || !d.context->get()) return;
  // The last picture lasts until the segment's end.
  if (d.haveCurrent && !d.aborted()) d.encodeTicksBefore(INT64_MAX, frameCount_);
  AVCodecContext* c = d.context->get();
  d.flushed = true;  // an encoder takes the end of its input once
  if (avcodec_send_frame(c, nullptr) < 0) return;
  while (avcodec_receive_packet(c, d.packet.get()) == 0) {
    d.store.appendFrame(d.packet->data, static_cast<std::size_t>(d.packet->size),
                        (d.packet->flags & AV_PKT_FLAG_KEY) != 0);
    av_packet_unref(d.packet.get());
    ++d.flushedPackets;
  }
  frameCount_ = d.store.samples.sampleCount();
}

void VideoGrabber::CloseVideoEncoder() {
  Impl& d = *impl_;
  if (d.context && d.context->get()) {
    // A fresh context with the job's parameters: the next segment takes a
    // frame rate or size of 0 from its source again.
    d.context->resetAgain();
  }
  d.open = false;
  d.picture.reset();
  d.packet.reset();
  // The frame buffers stay for the next segment, whose encoder opens with
  // the same sizes.
  d.haveFirstFrame = false;
  d.haveCurrent = false;
  d.context = nullptr;
}

}  // namespace zel
