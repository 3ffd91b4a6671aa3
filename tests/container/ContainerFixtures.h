#pragma once

// Hand-made track stores for the container tests, and byte expectations
// written as annotated hex (header only: every .cpp in this folder becomes a
// test program of its own).

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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
  s.video.stream = {"mpeg4", 64000, 15, 176, 144, Sequence(configBytes, 0x40)};
}

inline void SetAacAudio(Segment& s) {
  s.audio.present = true;
  s.audio.kind = AudioKind::Aac;
  s.audioParams = {32000, 16000, 1, 1024, {0x14, 0x08}};  // AAC-LC, 16000 Hz, mono
}

inline void SetAmrAudio(Segment& s) {
  s.audio.present = true;
  s.audio.kind = AudioKind::AmrNb;
  s.audioParams = {48000, 8000, 1, 160, {}};
}

// Three MPEG-4 Visual frames of 100, 50 and 70 bytes (the first a key frame)
// and four AAC frames of 10, 12, 11 and 9 bytes.
inline void FillWorkedExample(Segment& s) {
  SetMpeg4Video(s);
  SetAacAudio(s);
  s.addVideo(100, true);
  s.addVideo(50, false);
  s.addVideo(70, false);
  for (std::size_t n : {10, 12, 11, 9}) s.addAudio(n);
}

inline std::unique_ptr<Segment> WorkedExample() {
  auto s = std::make_unique<Segment>();
  FillWorkedExample(*s);
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

// Writes and walks the file; the returned size and a clean walk are checked.
inline BoxWalker WriteAndWalk(const Segment& s, const std::string& base, FileKind kind,
                              ContainerMode mode = ContainerMode::Both) {
  std::uint32_t size = Write(s, base, kind, mode);
  BoxWalker w = BoxWalker::FromFile(ThreeGpOutputPath(base, kind));
  EXPECT_EQ(size, w.bytes().size());
  EXPECT_TRUE(w.problems().empty()) << w.outline();
  return w;
}

// The box at path starts with these bytes. Its size word is among them, so
// the whole box of a leaf is compared, and the header of a parent.
inline ::testing::AssertionResult BoxStartsWith(const BoxWalker& w, std::string_view path,
                                                std::string_view hex) {
  const BoxNode* box = w.find(path);
  if (!box) return ::testing::AssertionFailure() << "no " << path << " in\n" << w.outline();
  const std::vector<std::uint8_t> want = Hex(hex);
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (i < box->size && w.u8(box->offset + i) == want[i]) continue;
    return ::testing::AssertionFailure() << path << " differs at byte " << i << ": "
                                         << w.u8(box->offset + i) << " instead of " << +want[i];
  }
  return ::testing::AssertionSuccess();
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

// A 32-bit field of a box's payload; 0 when there is no such box.
inline std::uint32_t Field(const BoxWalker& w, std::string_view path, std::uint64_t at) {
  const BoxNode* box = w.find(path);
  return box ? w.u32(box->payloadOffset + at) : 0;
}

inline std::vector<std::uint8_t> BoxBytes(const BoxWalker& w, const BoxNode* box) {
  if (!box) return {};
  return {w.bytes().begin() + static_cast<std::ptrdiff_t>(box->offset),
          w.bytes().begin() + static_cast<std::ptrdiff_t>(box->end())};
}

// The box types of a level and their children, in file order:
// "ftyp moov(mvhd trak(tkhd mdia(...))) mdat" (padding blanks of a type dropped).
inline std::string Tree(const std::vector<BoxNode>& level) {
  std::string out;
  for (const BoxNode& node : level) {
    std::string type = node.type.substr(0, node.type.find(' '));
    out += (out.empty() ? "" : " ") + type;
    if (!node.children.empty()) out += "(" + Tree(node.children) + ")";
  }
  return out;
}

}  // namespace zel::test
