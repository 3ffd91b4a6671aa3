#pragma once

// One function per box of the 3GP/3G2 layout. Each returns its box closed,
// with its children appended in file order.

#include <cstdint>
#include <string_view>
#include <vector>

#include "container/BoxBuffer.h"
#include "container/TrackBuffers.h"

namespace zel::boxes {

constexpr std::uint32_t kMovieTimescale = 90000;

// What one trak needs beyond its store.
struct TrackLayout {
  std::uint32_t trackId = 1;
  std::uint32_t clock = 0;
  std::uint32_t movieDuration = 0;  // 90000 units
  bool editList = false;
};

BoxBuffer Ftyp(FileKind kind);
BoxBuffer Free();
BoxBuffer Mvhd(std::uint32_t clock, std::uint32_t duration, std::uint32_t nextTrackId);
BoxBuffer Drm();  // dcmd holds a placeholder, marked DcmdValue
BoxBuffer Udta(std::string_view title);

// The video track's duration in movie units: sample count * 90000 / frame
// rate, at a fractional rate (30000/1001) with the exact fraction; in 64
// bits, so that one too long for the file's 32-bit fields shows.
std::uint64_t VideoDuration(const VideoTrackBuffer& video);

BoxBuffer VideoTrak(const VideoTrackBuffer& video, const TrackLayout& layout);
BoxBuffer AudioTrak(const AudioTrackBuffer& audio, const AudioParameterBlock& params,
                    const TrackLayout& layout);

// The decoder configuration wrapped in MPEG-4 Systems descriptors.
BoxBuffer Esds(std::uint8_t objectType, std::uint8_t streamType, std::uint32_t bitRate,
               const std::vector<std::uint8_t>& config);
// A descriptor length in the expandable form of ISO/IEC 14496-1: one byte
// below 128, else groups of 7 bits, most significant first, each but the last
// with 0x80 set.
std::vector<std::uint8_t> DescriptorLength(std::uint32_t length);

}  // namespace zel::boxes
