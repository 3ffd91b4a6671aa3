// Files written from real encoder output are read back by ffprobe and decoded
// by ffmpeg without complaint, with the packets the stores held.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}
#include <gtest/gtest.h>
#include <opencore-amrnb/interf_enc.h>

#include <cmath>
#include <map>
#include <memory>
#include <sstream>

#include "common/TestSupport.h"
#include "container/ContainerFixtures.h"

namespace zel::test {
namespace {

struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  void operator()(AVFrame* f) const { av_frame_free(&f); }
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Sends one frame (nullptr flushes) and hands every packet that comes out to `take`.
template <typename Take>
void Encode(AVCodecContext* ctx, AVFrame* frame, Take take) {
  ASSERT_GE(avcodec_send_frame(ctx, frame), 0);
  std::unique_ptr<AVPacket, CodecDeleter> packet(av_packet_alloc());
  while (avcodec_receive_packet(ctx, packet.get()) == 0) {
    take(*packet);
    av_packet_unref(packet.get());
  }
}

// Encodes `frames` pictures of a moving gradient into the video store.
void EncodeVideo(Segment& s, VideoKind kind, int frames) {
  bool h263 = kind == VideoKind::H263;
  const AVCodec* codec = avcodec_find_encoder(h263 ? AV_CODEC_ID_H263 : AV_CODEC_ID_MPEG4);
  ASSERT_NE(codec, nullptr);
  std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
  ctx->width = 176;
  ctx->height = 144;
  ctx->time_base = {1, 15};
  ctx->framerate = {15, 1};
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->gop_size = 4;
  ctx->max_b_frames = 0;
  ctx->bit_rate = 64000;
  if (!h263) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ASSERT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);

  s.video.present = true;
  s.video.kind = kind;
  s.video.stream.encoderName = codec->name;
  s.video.stream.bitRate = 64000;
  s.video.stream.frameRate = 15;
  s.video.stream.width = 176;
  s.video.stream.height = 144;
  s.video.stream.decoderConfig.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);

  std::unique_ptr<AVFrame, CodecDeleter> frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = 176;
  frame->height = 144;
  ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  auto take = [&](const AVPacket& p) {
    s.video.appendFrame(p.data, static_cast<std::size_t>(p.size), p.flags & AV_PKT_FLAG_KEY);
  };
  for (int i = 0; i < frames; ++i) {
    ASSERT_EQ(av_frame_make_writable(frame.get()), 0);
    for (int plane = 0; plane < 3; ++plane) {
      int w = plane ? 88 : 176, h = plane ? 72 : 144;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          frame->data[plane][y * frame->linesize[plane] + x] =
              static_cast<std::uint8_t>(plane ? 128 + y - i : x + y + 4 * i);
    }
    frame->pts = i;
    Encode(ctx.get(), frame.get(), take);
  }
  Encode(ctx.get(), nullptr, take);
}

void EncodeAac(Segment& s, int frames) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  ASSERT_NE(codec, nullptr);
  std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
  ctx->sample_rate = 16000;
  ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&ctx->ch_layout, 1);
  ctx->bit_rate = 32000;
  ctx->time_base = {1, 16000};
  ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ASSERT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
  ASSERT_EQ(ctx->frame_size, 1024);

  SetAacAudio(s);
  s.audioParams.decoderConfig.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);

  std::unique_ptr<AVFrame, CodecDeleter> frame(av_frame_alloc());
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->nb_samples = 1024;
  frame->sample_rate = 16000;
  ASSERT_EQ(av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout), 0);
  ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  auto take = [&](const AVPacket& p) {
    s.audio.samples.appendSample(p.data, static_cast<std::size_t>(p.size));
  };
  for (int i = 0; i < frames; ++i) {
    ASSERT_EQ(av_frame_make_writable(frame.get()), 0);
    auto* samples = reinterpret_cast<float*>(frame->data[0]);
    for (int n = 0; n < 1024; ++n)
      samples[n] = 0.3f * static_cast<float>(std::sin((i * 1024 + n) * 2 * M_PI * 440 / 16000));
    frame->pts = i * 1024;
    Encode(ctx.get(), frame.get(), take);
  }
  Encode(ctx.get(), nullptr, take);
}

// 12.2 kbit/s storage-format frames: a one-byte header (0x3C), then 31 bytes.
void EncodeAmr(Segment& s, int frames) {
  SetAmrAudio(s);
  void* state = Encoder_Interface_init(0);
  ASSERT_NE(state, nullptr);
  short speech[160];
  unsigned char out[64];
  for (int i = 0; i < frames; ++i) {
    for (int n = 0; n < 160; ++n)
      speech[n] = static_cast<short>(8000 * std::sin((i * 160 + n) * 2 * M_PI * 440 / 8000));
    int bytes = Encoder_Interface_Encode(state, MR122, speech, out, 0);
    ASSERT_EQ(bytes, 32);
    ASSERT_EQ(out[0], 0x3C);
    s.audio.samples.appendSample(out, 32);
  }
  Encoder_Interface_exit(state);
}

using Fields = std::map<std::string, std::string>;

// "ffprobe -of compact" lines as key=value maps.
std::vector<Fields> Compact(const std::string& text, std::string_view section) {
  std::vector<Fields> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(std::string(section) + "|", 0) != 0) continue;
    Fields fields;
    std::istringstream parts(line.substr(section.size() + 1));
    std::string part;
    while (std::getline(parts, part, '|'))
      if (auto eq = part.find('='); eq != std::string::npos)
        fields[part.substr(0, eq)] = part.substr(eq + 1);
    out.push_back(fields);
  }
  return out;
}

struct ProbeCase {
  FileKind kind;
  VideoKind video;
  AudioKind audio;
  const char* videoCodec;
  const char* audioCodec;
};

class ProbeTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeTest, ReadBackByFfprobe) {
  const ProbeCase& c = GetParam();
  TempDir dir;
  Segment s;
  EncodeVideo(s, c.video, 9);
  if (c.audio == AudioKind::Aac)
    EncodeAac(s, 6);
  else
    EncodeAmr(s, 12);
  ASSERT_GT(s.video.samples.sampleCount(), 0u);
  ASSERT_GT(s.audio.samples.sampleCount(), 0u);
  std::string base = dir.file("probe.wmv");
  ContainerMode mode =
      c.kind == FileKind::ThreeGp ? ContainerMode::ThreeGpOnly : ContainerMode::ThreeG2Only;
  ASSERT_NE(Write(s, base, c.kind, mode), 0u);
  std::string path = ThreeGpOutputPath(base, c.kind);

  CommandResult full =
      RunCommand({"ffprobe", "-v", "error", "-show_streams", "-show_packets", path});
  EXPECT_EQ(full.exitCode, 0);
  EXPECT_EQ(full.err, "");
  EXPECT_EQ(DecodeErrors(path), "");

  CommandResult r = RunCommand(
      {"ffprobe", "-v", "error", "-of", "compact", "-show_streams", "-show_packets", path});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto streams = Compact(r.out, "stream");
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], c.videoCodec);
  EXPECT_EQ(streams[1]["codec_name"], c.audioCodec);
  EXPECT_EQ(streams[0]["width"], "176");
  EXPECT_EQ(streams[0]["time_base"], "1/90000");
  EXPECT_EQ(streams[0]["nb_frames"], std::to_string(s.video.samples.sampleCount()));
  EXPECT_EQ(streams[1]["nb_frames"], std::to_string(s.audio.samples.sampleCount()));
  EXPECT_EQ(streams[1]["sample_rate"], std::to_string(s.audioParams.sampleRate));
  EXPECT_EQ(streams[1]["channels"], "1");
  if (c.video == VideoKind::Mpeg4) {
    EXPECT_EQ(streams[0]["extradata_size"], std::to_string(s.video.stream.decoderConfig.size()));
  }

  auto packets = Compact(r.out, "packet");
  std::vector<Fields> video, audio;
  for (const auto& p : packets) (p.at("stream_index") == "0" ? video : audio).push_back(p);
  ASSERT_EQ(video.size(), s.video.samples.sampleCount());
  ASSERT_EQ(audio.size(), s.audio.samples.sampleCount());
  std::size_t key = 0;
  for (std::size_t i = 0; i < video.size(); ++i) {
    SCOPED_TRACE("video " + std::to_string(i));
    EXPECT_EQ(video[i]["pts"], std::to_string(i * 6000));
    EXPECT_EQ(video[i]["dts"], std::to_string(i * 6000));
    EXPECT_EQ(video[i]["duration"], "6000");
    EXPECT_EQ(video[i]["size"], std::to_string(s.video.samples.sampleSizes()[i]));
    bool isKey = key < s.video.syncSamples.size() && s.video.syncSamples[key] == i + 1;
    if (isKey) ++key;
    EXPECT_EQ(video[i]["flags"].substr(0, 1), isKey ? "K" : "_");
  }
  int frameLength = c.audio == AudioKind::Aac ? 1024 : 160;
  for (std::size_t i = 0; i < audio.size(); ++i) {
    SCOPED_TRACE("audio " + std::to_string(i));
    EXPECT_EQ(audio[i]["pts"], std::to_string(i * frameLength));
    EXPECT_EQ(audio[i]["dts"], std::to_string(i * frameLength));
    EXPECT_EQ(audio[i]["duration"], std::to_string(frameLength));
    EXPECT_EQ(audio[i]["size"], std::to_string(s.audio.samples.sampleSizes()[i]));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ProbeTest,
    ::testing::Values(
        ProbeCase{FileKind::ThreeGp, VideoKind::Mpeg4, AudioKind::Aac, "mpeg4", "aac"},
        ProbeCase{FileKind::ThreeG2, VideoKind::Mpeg4, AudioKind::Aac, "mpeg4", "aac"},
        ProbeCase{FileKind::ThreeGp, VideoKind::H263, AudioKind::AmrNb, "h263", "amr_nb"},
        ProbeCase{FileKind::ThreeG2, VideoKind::H263, AudioKind::AmrNb, "h263", "amr_nb"}));

// A 200-byte decoder configuration: the real stream headers followed by a
// user-data start code and filler, described with multi-byte lengths.
TEST(ProbeLongConfigTest, TwoHundredByteConfigIsRead) {
  TempDir dir;
  Segment s;
  EncodeVideo(s, VideoKind::Mpeg4, 4);
  auto& config = s.video.stream.decoderConfig;
  ASSERT_LT(config.size(), 190u);
  config.insert(config.end(), {0x00, 0x00, 0x01, 0xB2});
  while (config.size() < 200) config.push_back('Z');
  EncodeAac(s, 3);
  ASSERT_NE(Write(s, dir.file("long.avi"), FileKind::ThreeGp, ContainerMode::Both), 0u);
  std::string path = dir.file("long.3gp");
  BoxWalker w = BoxWalker::FromFile(path);
  const BoxNode* esds = w.find("moov/trak[0]/mdia/minf/stbl/stsd/mp4v/esds");
  ASSERT_NE(esds, nullptr);
  EXPECT_EQ(esds->size, 240u);
  CommandResult r = RunCommand({"ffprobe", "-v", "error", "-of", "compact", "-show_streams",
                                "-show_data", "-select_streams", "v", path});
  EXPECT_EQ(r.err, "");
  auto streams = Compact(r.out, "stream");
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["codec_name"], "mpeg4");
  EXPECT_EQ(streams[0]["extradata_size"], "200");
  EXPECT_EQ(DecodeErrors(path), "");
}

}  // namespace
}  // namespace zel::test
