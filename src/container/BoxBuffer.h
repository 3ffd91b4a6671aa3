#pragma once

// One ISO base media box under construction. A box holds its own fields
// first; its children are appended after it has been closed. Fields that are
// filled in later (chunk offsets, the dcmd value) are marked while they are
// written, and the marks follow the bytes when a box becomes a child, so the
// writer finds them by structure and never by looking for byte patterns.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zel {

// The fields that are patched once the layout of the whole file is known.
enum class PatchMark : int {
  VideoChunkOffsets = 0,  // first entry of the video stco table
  AudioChunkOffsets = 1,  // first entry of the audio stco table
  DcmdValue = 2,          // the 16-bit value of dcmd
};

class BoxBuffer {
 public:
  // Starts a box of the given type: a size word to be filled in by close(),
  // then the type. capacityHint reserves room for the fields.
  explicit BoxBuffer(std::string_view type, std::size_t capacityHint = 0);
  // A full box: the type, then the version byte and 24 bits of flags.
  static BoxBuffer Full(std::string_view type, std::uint8_t version, std::uint32_t flags,
                        std::size_t capacityHint = 0);

  void put8(std::uint8_t v);
  void put16(std::uint16_t v);
  void put32(std::uint32_t v);
  void putFourcc(std::string_view code);  // exactly 4 bytes, zero padded if shorter
  void putBytes(const std::uint8_t* bytes, std::size_t n);
  void putZeros(std::size_t n);

  // Remembers that the next field written is the patched field `mark`.
  void mark(PatchMark mark);

  // Ends the box's own fields and stores the size. expectedSize (when not 0)
  // is the size the box must have. This check and the others (fields after
  // the children, patches outside the box, children of open boxes) mark the
  // box broken in every build; a broken child makes its parent broken.
  void close(std::size_t expectedSize = 0);
  // Appends a closed child after this closed box's bytes and grows the size.
  void appendChild(const BoxBuffer& child);

  bool closed() const { return closed_; }
  // What was done wrong first, or empty when the layout holds.
  const std::string& broken() const { return broken_; }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // Offset of a marked field from the start of this box, or nullopt.
  std::optional<std::size_t> markOffset(PatchMark mark) const;

  // Overwrites a field in place (bounds checked).
  void patch16(std::size_t offset, std::uint16_t v);
  void patch32(std::size_t offset, std::uint32_t v);

 private:
  void storeSize();
  void fail(const char* what);

  std::vector<std::uint8_t> bytes_;
  std::vector<std::pair<PatchMark, std::size_t>> marks_;
  bool closed_ = false;
  std::string broken_;
};

}  // namespace zel
