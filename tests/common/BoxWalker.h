#pragma once

// Reads an ISO base media byte buffer (a 3GP or 3G2 file) into a tree of
// boxes, to check written files. Every read is bounds checked: a malformed
// size (past the end of its parent, below the header) ends the walk of that
// level and is recorded in problems(); nothing is read past the buffer.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/TestSupport.h"

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
  explicit BoxWalker(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    Walk(0, bytes_.size(), 0, roots_);
  }
  // An empty walker (no boxes) when the file cannot be read.
  static BoxWalker FromFile(const std::filesystem::path& path) {
    return BoxWalker(test::ReadFileBytes(path));
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // What was wrong with the input; empty when every box was well formed.
  const std::vector<std::string>& problems() const { return problems_; }

  // A box by path: types separated by '/', each optionally with a 0-based
  // index among the siblings of that type ("moov/trak[1]/mdia/minf/stbl/stco"
  // is the second track's chunk-offset table). nullptr when there is none.
  const BoxNode* find(std::string_view path) const {
    std::vector<const BoxNode*> out;
    if (!path.empty()) Collect(roots_, path, out);
    return out.empty() ? nullptr : out.front();
  }

  // Big-endian reads, 0 past the end of the buffer; n bytes as text,
  // shorter when the buffer ends first.
  std::uint32_t u8(std::uint64_t offset) const { return Read(offset, 1); }
  std::uint32_t u16(std::uint64_t offset) const { return Read(offset, 2); }
  std::uint32_t u32(std::uint64_t offset) const { return Read(offset, 4); }
  std::string text(std::uint64_t offset, std::size_t n) const {
    if (offset >= bytes_.size()) return {};
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - offset));
    return {bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes_.begin() + static_cast<std::ptrdiff_t>(offset + n)};
  }

  // The box types of the tree in file order, for failure messages:
  // "ftyp moov(mvhd trak(tkhd mdia(...))) mdat" (padding blanks of a type dropped).
  static std::string Tree(const std::vector<BoxNode>& level) {
    std::string out;
    for (const BoxNode& node : level) {
      out += (out.empty() ? "" : " ") + node.type.substr(0, node.type.find(' '));
      if (!node.children.empty()) out += "(" + Tree(node.children) + ")";
    }
    return out;
  }
  std::string tree() const { return Tree(roots_); }

 private:
  // Where the children of a box begin, counted from its payload, for the
  // boxes of our files that hold children; nullopt for leaf boxes.
  static std::optional<std::uint64_t> ChildrenStart(std::string_view type) {
    static constexpr std::string_view kPlain[] = {"moov", "trak", "edts", "mdia", "minf",
                                                  "dinf", "stbl", "udta", "drm "};
    if (std::find(std::begin(kPlain), std::end(kPlain), type) != std::end(kPlain)) return 0;
    if (type == "stsd" || type == "dref") return 8;   // version/flags, entry count
    if (type == "mp4v" || type == "s263") return 78;  // visual sample entries
    if (type == "mp4a" || type == "samr") return 28;  // audio sample entries
    return std::nullopt;
  }

  // Walks one step of a path ("trak[1]") over a level of boxes.
  static void Collect(const std::vector<BoxNode>& level, std::string_view path,
                      std::vector<const BoxNode*>& out) {
    const std::size_t slash = path.find('/');
    const std::string step(path.substr(0, slash));
    const std::size_t open = step.find('[');
    const std::string type = step.substr(0, open);
    std::optional<std::size_t> index;
    if (open != std::string::npos) index = std::stoul(step.substr(open + 1));
    std::size_t seen = 0;
    for (const BoxNode& node : level) {
      if (node.type != type || (index && *index != seen++)) continue;
      if (slash == std::string_view::npos) {
        out.push_back(&node);
      } else {
        Collect(node.children, path.substr(slash + 1), out);
      }
    }
  }

  std::uint32_t Read(std::uint64_t offset, std::size_t n) const {
    if (offset > bytes_.size() || bytes_.size() - offset < n) return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) value = (value << 8) | bytes_[offset + i];
    return value;
  }

  void Walk(std::uint64_t begin, std::uint64_t end, int depth, std::vector<BoxNode>& out) {
    const auto problem = [&](const std::string& what, std::uint64_t at) {
      problems_.push_back(what + " at " + std::to_string(at));
    };
    if (depth > 32) return problem("boxes nested too deeply", begin);
    for (std::uint64_t at = begin; at < end;) {
      if (end - at < 8) return problem(std::to_string(end - at) + " stray bytes", at);
      BoxNode node{text(at + 4, 4), at, Read(at, 4), at + 8, {}};
      // Our files need neither a 64-bit size (1) nor one that runs to the end (0).
      if (node.size < 8) return problem("box '" + node.type + "' too small", at);
      if (node.size > end - at) return problem("box '" + node.type + "' runs past its parent", at);
      if (const auto start = ChildrenStart(node.type)) {
        if (*start <= node.size - 8) {
          Walk(node.payloadOffset + *start, node.end(), depth + 1, node.children);
        } else {
          problem("box '" + node.type + "' too small for its fields", at);
        }
      }
      at = node.end();
      out.push_back(std::move(node));
    }
  }

  std::vector<std::uint8_t> bytes_;
  std::vector<BoxNode> roots_;
  std::vector<std::string> problems_;
};

}  // namespace zel
