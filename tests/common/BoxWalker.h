#pragma once

// Reads an ISO base media byte buffer (a 3GP or 3G2 file) into a tree of
// boxes, to check written files. Every read is bounds checked: a malformed
// size (past the end of its parent, below the header) ends the walk of that
// level and is recorded in problems(); nothing is read past the buffer.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

struct BoxNode {
  std::string type;                 // four characters
  std::uint64_t offset = 0;         // of the size field, from the start of the buffer
  std::uint64_t size = 0;           // the whole box, header included
  std::uint64_t payloadOffset = 0;  // offset + 8
  std::vector<BoxNode> children;
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
  // Boxes of a type anywhere in the tree, in file order.
  std::vector<const BoxNode*> findType(std::string_view type) const;

  // Big-endian reads, 0 past the end of the buffer; n bytes as text,
  // shorter when the buffer ends first.
  std::uint32_t u8(std::uint64_t offset) const { return Read(offset, 1); }
  std::uint32_t u16(std::uint64_t offset) const { return Read(offset, 2); }
  std::uint32_t u32(std::uint64_t offset) const { return Read(offset, 4); }
  std::string text(std::uint64_t offset, std::size_t n) const;

  // Multi-line outline of the tree ("moov @28 1258"), for failure messages.
  std::string outline() const;

 private:
  std::uint32_t Read(std::uint64_t offset, std::size_t n) const;
  void Walk(std::uint64_t begin, std::uint64_t end, int depth, std::vector<BoxNode>& out);

  std::vector<std::uint8_t> bytes_;
  std::vector<BoxNode> roots_;
  std::vector<std::string> problems_;
};

}  // namespace zel
