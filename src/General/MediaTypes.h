#pragma once

// Units and kinds that every layer shares.

#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// Positions and lengths are 100-ns units in signed 64-bit; the window's
// cursor counts milliseconds.
inline constexpr std::int64_t kHnsPerSecond = 10'000'000;
inline constexpr std::int64_t kHnsPerMs = 10'000;
// The frame time of a video that declares none: 30 frames per second.
inline constexpr std::int64_t kDefaultFrameHns = 333'333;

// Stored integer values are those of setup.ini and the conversion parameters.
enum class AudioKind : int { None = 0, Aac = 1, AmrNb = 2 };
enum class VideoKind : int { None = 0, H263 = 1, Mpeg4 = 2 };
enum class ContainerMode : int { Both = 0, ThreeGpOnly = 1, ThreeG2Only = 2 };
enum class FileKind : int { ThreeGp = 1, ThreeG2 = 2 };

// A to Z become a to z; every other byte (UTF-8 included) stays.
inline char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

}  // namespace zel
