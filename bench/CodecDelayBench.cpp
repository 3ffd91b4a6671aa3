// How far AMR-NB (12.2 kbit/s, as the audio path encodes it) delays the sound:
// bursts of noise at 8000 Hz through the encoder and libavcodec's decoder,
// the delay being the lag of the best cross-correlation. Counters: delay in
// samples and milliseconds (40 samples, 5 ms: the encoder's look-ahead, which
// the audio path leaves in place). The time is that of one second's encoding
// and decoding.

#include <benchmark/benchmark.h>
#include <opencore-amrnb/interf_enc.h>

#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

constexpr int kRate = 8000, kFrame = 160, kFrames = 50;

std::vector<float> Bursts() {
  std::vector<float> pcm(kFrame * kFrames);
  std::mt19937 rng(1);
  std::normal_distribution<float> noise(0, 3000);
  float low = 0;
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    low = 0.6f * low + 0.4f * noise(rng);  // speech-like: more low than high
    pcm[i] = (i / 2000) % 2 ? low : 0.05f * low;
  }
  return pcm;
}

std::vector<float> EncodeAndDecode(const std::vector<float>& pcm) {
  void* encoder = Encoder_Interface_init(0);
  AVCodecContext* decoder = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_AMR_NB));
  decoder->sample_rate = kRate;
  av_channel_layout_default(&decoder->ch_layout, 1);
  avcodec_open2(decoder, decoder->codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<float> out;
  std::vector<short> in(kFrame);
  for (std::size_t at = 0; at + kFrame <= pcm.size(); at += kFrame) {
    for (int i = 0; i < kFrame; ++i) in[i] = static_cast<short>(pcm[at + i]);
    std::uint8_t bytes[64];
    const int n = Encoder_Interface_Encode(encoder, MR122, in.data(), bytes, 0);
    av_new_packet(packet, n);
    std::memcpy(packet->data, bytes, static_cast<std::size_t>(n));
    avcodec_send_packet(decoder, packet);
    av_packet_unref(packet);
    while (avcodec_receive_frame(decoder, frame) == 0) {
      const float* samples = reinterpret_cast<const float*>(frame->data[0]);
      for (int i = 0; i < frame->nb_samples; ++i) out.push_back(samples[i] * 32768);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  Encoder_Interface_exit(encoder);
  return out;
}

void BM_AmrNbDelay(benchmark::State& state) {
  const std::vector<float> pcm = Bursts();
  std::vector<float> decoded;
  for (auto _ : state) decoded = EncodeAndDecode(pcm);
  int best = 0;
  double bestSum = -1e300;
  for (int lag = 0; lag < 400; ++lag) {
    double sum = 0;
    for (std::size_t i = 0; i + lag < decoded.size() && i < pcm.size(); ++i)
      sum += pcm[i] * decoded[i + lag];
    if (sum > bestSum) bestSum = sum, best = lag;
  }
  state.counters["delay_samples"] = best;
  state.counters["delay_ms"] = 1000.0 * best / kRate;
}
BENCHMARK(BM_AmrNbDelay)->Unit(benchmark::kMillisecond);

}  // namespace
