#include "common/BoxWalker.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "common/TestSupport.h"

namespace zel {
namespace {

// Where the children of a box begin, counted from its payload, for the boxes
// of our files that hold children; nullopt for leaf boxes.
std::optional<std::uint64_t> ChildrenStart(std::string_view type) {
  static constexpr std::string_view kPlain[] = {"moov", "trak", "edts", "mdia", "minf",
                                                "dinf", "stbl", "udta", "drm "};
  if (std::find(std::begin(kPlain), std::end(kPlain), type) != std::end(kPlain)) return 0;
  if (type == "stsd" || type == "dref") return 8;   // version/flags, entry count
  if (type == "mp4v" || type == "s263") return 78;  // visual sample entries
  if (type == "mp4a" || type == "samr") return 28;  // audio sample entries
  return std::nullopt;
}

// Walks one step of a path ("trak[1]") over a level of boxes.
void Collect(const std::vector<BoxNode>& level, std::string_view path,
             std::vector<const BoxNode*>& out) {
  const std::size_t slash = path.find('/');
  std::string_view type = path.substr(0, slash);
  std::optional<std::size_t> index;
  if (const std::size_t open = type.find('['); open != std::string_view::npos) {
    if (type.back() != ']') return;
    std::size_t value = 0;
    const char* last = type.data() + type.size() - 1;
    auto [ptr, ec] = std::from_chars(type.data() + open + 1, last, value);
    if (ec != std::errc{} || ptr != last) return;
    type = type.substr(0, open);
    index = value;
  }
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

void CollectType(const std::vector<BoxNode>& level, std::string_view type,
                 std::vector<const BoxNode*>& out) {
  for (const BoxNode& node : level) {
    if (node.type == type) out.push_back(&node);
    CollectType(node.children, type, out);
  }
}

void Outline(const std::vector<BoxNode>& level, std::size_t depth, std::string& out) {
  for (const BoxNode& node : level) {
    out += std::string(2 * depth, ' ') + node.type + " @" + std::to_string(node.offset) + " " +
           std::to_string(node.size) + "\n";
    Outline(node.children, depth + 1, out);
  }
}

}  // namespace

BoxWalker::BoxWalker(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
  Walk(0, bytes_.size(), 0, roots_);
}

BoxWalker BoxWalker::FromFile(const std::filesystem::path& path) {
  if (std::filesystem::is_regular_file(path)) return BoxWalker(test::ReadFileBytes(path));
  BoxWalker empty({});
  empty.problems_.push_back("cannot read " + path.string());
  return empty;
}

void BoxWalker::Walk(std::uint64_t begin, std::uint64_t end, int depth, std::vector<BoxNode>& out) {
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

const BoxNode* BoxWalker::find(std::string_view path) const {
  std::vector<const BoxNode*> out;
  if (!path.empty()) Collect(roots_, path, out);
  return out.empty() ? nullptr : out.front();
}

std::vector<const BoxNode*> BoxWalker::findType(std::string_view type) const {
  std::vector<const BoxNode*> out;
  CollectType(roots_, type, out);
  return out;
}

std::uint32_t BoxWalker::Read(std::uint64_t offset, std::size_t n) const {
  if (offset > bytes_.size() || bytes_.size() - offset < n) return 0;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value = (value << 8) | bytes_[offset + i];
  return value;
}

std::string BoxWalker::text(std::uint64_t offset, std::size_t n) const {
  if (offset >= bytes_.size()) return {};
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - offset));
  return {bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
          bytes_.begin() + static_cast<std::ptrdiff_t>(offset + n)};
}

std::string BoxWalker::outline() const {
  std::string out;
  Outline(roots_, 0, out);
  return out;
}

}  // namespace zel
