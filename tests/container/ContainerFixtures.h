#pragma once

// Hand-made track stores for the container tests (header only: every .cpp in
// this folder becomes a test program of its own).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/BoxWalker.h"
#include "container/ThreeGpWriter.h"
#include "container/TrackBuffers.h"

namespace zel::test {

constexpr std::uint32_t kFixedClock = 0xC0FFEE01;

// Both stores of one segment. Held by pointer: the audio store points at the
// parameter block.
struct Segment {
  AudioParameterBlock audioParams;
  AudioTrackBuffer audio;
  VideoTrackBuffer video;

  Segment() { audio.params = &audioParams; }
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;

  // Sample bytes carry their track and number so tests can find them again.
  void addVideo(std::size_t n, bool key) {
    std::vector<std::uint8_t> bytes(n,
                                    static_cast<std::uint8_t>(0x10 + video.samples.sampleCount()));
    video.appendFrame(bytes.data(), bytes.size(), key);
  }
  void addAudio(std::size_t n) {
    std::vector<std::uint8_t> bytes(n,
                                    static_cast<std::uint8_t>(0xA0 + audio.samples.sampleCount()));
    audio.samples.appendSample(bytes.data(), bytes.size());
  }
};

inline std::vector<std::uint8_t> Sequence(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

inline void SetMpeg4Video(Segment& s, std::size_t configBytes = 20) {
  s.video.present = true;
  s.video.kind = VideoKind::Mpeg4;
  s.video.stream.encoderName = "mpeg4";
  s.video.stream.bitRate = 64000;
  s.video.stream.frameRate = 15;
  s.video.stream.width = 176;
  s.video.stream.height = 144;
  s.video.stream.decoderConfig = Sequence(configBytes, 0x40);
}

inline void SetAacAudio(Segment& s) {
  s.audio.present = true;
  s.audio.kind = AudioKind::Aac;
  s.audioParams.bitRate = 32000;
  s.audioParams.sampleRate = 16000;
  s.audioParams.channels = 1;
  s.audioParams.frameLength = 1024;
  s.audioParams.decoderConfig = {0x14, 0x08};  // AAC-LC, 16000 Hz, mono
}

inline void SetAmrAudio(Segment& s) {
  s.audio.present = true;
  s.audio.kind = AudioKind::AmrNb;
  s.audioParams.bitRate = 48000;
  s.audioParams.sampleRate = 8000;
  s.audioParams.channels = 1;
  s.audioParams.frameLength = 160;
  s.audioParams.decoderConfig.clear();
}

// Three MPEG-4 Visual frames of 100, 50 and 70 bytes (the first a key frame)
// and four AAC frames of 10, 12, 11 and 9 bytes.
inline std::unique_ptr<Segment> WorkedExample() {
  auto s = std::make_unique<Segment>();
  SetMpeg4Video(*s);
  SetAacAudio(*s);
  s->addVideo(100, true);
  s->addVideo(50, false);
  s->addVideo(70, false);
  for (std::size_t n : {10, 12, 11, 9}) s->addAudio(n);
  return s;
}

inline std::uint32_t Write(const Segment& s, const std::string& base, FileKind kind,
                           ContainerMode mode, Notifier* notifier = nullptr) {
  WriterOptions options;
  options.containerMode = mode;
  options.clockValue = kFixedClock;
  options.notifier = notifier;
  return ThreeGpWriter(s.audio, s.video, base, kind, options);
}

// The entries of a full box's table that starts after version/flags and a
// 32-bit count (stco, stss), or after two words (stsz).
inline std::vector<std::uint32_t> Table(const BoxWalker& w, const BoxNode* box,
                                        std::uint64_t countAt = 4) {
  std::vector<std::uint32_t> out;
  if (!box) return out;
  std::uint32_t count = w.u32(box->payloadOffset + countAt);
  for (std::uint32_t i = 0; i < count && i < 1000000; ++i)
    out.push_back(w.u32(box->payloadOffset + countAt + 4 + 4 * std::uint64_t{i}));
  return out;
}

// n 32-bit words of a box's payload from `from` on.
inline std::vector<std::uint32_t> Words(const BoxWalker& w, const BoxNode* box, std::uint64_t from,
                                        std::size_t n) {
  std::vector<std::uint32_t> out;
  if (!box) return out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(w.u32(box->payloadOffset + from + 4 * i));
  return out;
}

inline std::vector<std::uint8_t> BoxBytes(const BoxWalker& w, const BoxNode* box) {
  if (!box) return {};
  return {w.bytes().begin() + static_cast<std::ptrdiff_t>(box->offset),
          w.bytes().begin() + static_cast<std::ptrdiff_t>(box->end())};
}

inline std::vector<std::string> ChildTypes(const BoxNode* box) {
  std::vector<std::string> out;
  if (box)
    for (const auto& c : box->children) out.push_back(c.type);
  return out;
}

}  // namespace zel::test
