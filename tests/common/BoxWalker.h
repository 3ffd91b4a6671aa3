#pragma once

// Reads an ISO base media byte buffer (a 3GP, 3G2 or MP4 file) into a tree of
// boxes, to check written files. Every read is bounds checked: a malformed
// size (past the end of its parent, below the header size, a largesize that
// does not fit) ends the walk of that level and is recorded in problems();
// nothing is ever read past the buffer.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

struct BoxNode {
  std::string type;                 // four characters
  std::uint64_t offset = 0;         // of the size field, from the start of the buffer
  std::uint64_t size = 0;           // the whole box, header included (size 0: to the parent's end)
  std::uint64_t headerSize = 0;     // 8, or 16 with a largesize
  std::uint64_t payloadOffset = 0;  // offset + headerSize
  std::vector<BoxNode> children;

  std::uint64_t payloadSize() const { return size - headerSize; }
  std::uint64_t end() const { return offset + size; }
};

class BoxWalker {
 public:
  explicit BoxWalker(std::vector<std::uint8_t> bytes);
  // An empty walker (no boxes, one problem) when the file cannot be read.
  static BoxWalker FromFile(const std::filesystem::path& path);

  const std::vector<BoxNode>& roots() const { return roots_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // What was wrong with the input; empty when every box was well formed.
  const std::vector<std::string>& problems() const { return problems_; }

  // A box by path: types separated by '/', each optionally with a 0-based
  // index among the siblings of that type ("moov/trak[1]/mdia/minf/stbl/stco"
  // is the second track's chunk-offset table). nullptr when there is none.
  const BoxNode* find(std::string_view path) const;
  // Every box with this path, indexes honoured where given.
  std::vector<const BoxNode*> findAll(std::string_view path) const;
  // Boxes of a type anywhere in the tree, in file order.
  std::vector<const BoxNode*> findType(std::string_view type) const;

  // Big-endian reads; nullopt past the end of the buffer.
  std::optional<std::uint8_t> read8(std::uint64_t offset) const;
  std::optional<std::uint16_t> read16(std::uint64_t offset) const;
  std::optional<std::uint32_t> read32(std::uint64_t offset) const;
  std::optional<std::uint64_t> read64(std::uint64_t offset) const;
  // The same, 0 past the end (for tests that compare against known values).
  std::uint32_t u8(std::uint64_t offset) const { return read8(offset).value_or(0); }
  std::uint32_t u16(std::uint64_t offset) const { return read16(offset).value_or(0); }
  std::uint32_t u32(std::uint64_t offset) const { return read32(offset).value_or(0); }
  // n bytes as text; shorter when the buffer ends first.
  std::string text(std::uint64_t offset, std::size_t n) const;

  // Multi-line outline of the tree ("moov @28 1258"), for failure messages.
  std::string outline() const;

 private:
  std::optional<std::uint64_t> read(std::uint64_t offset, std::size_t n) const;
  void walk(std::uint64_t begin, std::uint64_t end, int depth, std::vector<BoxNode>& out);

  std::vector<std::uint8_t> bytes_;
  std::vector<BoxNode> roots_;
  std::vector<std::string> problems_;
};

}  // namespace zel
