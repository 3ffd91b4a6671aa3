#include "common/BoxWalker.h"

#include <algorithm>
#include <charconv>

#include "common/TestSupport.h"

namespace zel {
namespace {

// Where the children of a box begin, counted from its payload, for the boxes
// that hold children; nullopt for leaf boxes.
std::optional<std::uint64_t> ChildrenStart(std::string_view type) {
  static constexpr std::string_view kPlain[] = {"moov", "trak", "edts", "mdia", "minf",
                                                "dinf", "stbl", "udta", "drm ", "mvex",
                                                "moof", "traf", "mfra", "tref"};
  if (std::find(std::begin(kPlain), std::end(kPlain), type) != std::end(kPlain)) return 0;
  if (type == "stsd" || type == "dref") return 8;  // version/flags, entry count
  if (type == "meta") return 4;                    // version/flags
  // Sample entries: visual 78 bytes of fields, audio 28.
  if (type == "mp4v" || type == "s263" || type == "avc1" || type == "h263") return 78;
  if (type == "mp4a" || type == "samr" || type == "sawb") return 28;
  return std::nullopt;
}

// Walks one step of a path ("trak[1]") over a level of boxes.
void Collect(const std::vector<BoxNode>& level, std::string_view path,
             std::vector<const BoxNode*>& out) {
  std::size_t slash = path.find('/');
  std::string_view step = path.substr(0, slash), type = step;
  std::optional<std::size_t> index;
  if (std::size_t open = step.find('['); open != std::string_view::npos) {
    std::string_view digits = step.substr(open + 1);
    if (!digits.ends_with(']')) return;
    digits.remove_suffix(1);
    std::size_t value = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc{} || ptr != digits.data() + digits.size()) return;
    type = step.substr(0, open);
    index = value;
  }
  std::size_t seen = 0;
  for (const BoxNode& node : level) {
    if (node.type != type || (index && *index != seen++)) continue;
    if (slash == std::string_view::npos)
      out.push_back(&node);
    else
      Collect(node.children, path.substr(slash + 1), out);
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
  walk(0, bytes_.size(), 0, roots_);
}

BoxWalker BoxWalker::FromFile(const std::filesystem::path& path) {
  if (!std::filesystem::is_regular_file(path)) {
    BoxWalker empty({});
    empty.problems_.push_back("cannot read " + path.string());
    return empty;
  }
  return BoxWalker(test::ReadFileBytes(path));
}

void BoxWalker::walk(std::uint64_t begin, std::uint64_t end, int depth, std::vector<BoxNode>& out) {
  auto problem = [&](const std::string& what, std::uint64_t at) {
    problems_.push_back(what + " at " + std::to_string(at));
  };
  if (depth > 32) return problem("boxes nested too deeply", begin);
  for (std::uint64_t at = begin; at < end;) {
    if (end - at < 8) return problem(std::to_string(end - at) + " stray bytes", at);
    BoxNode node;
    node.offset = at;
    node.type = text(at + 4, 4);
    node.headerSize = 8;
    std::uint64_t size = *read32(at);
    if (size == 1) {
      if (end - at < 16) return problem("largesize cut off", at);
      size = *read64(at + 8);
      node.headerSize = 16;
    } else if (size == 0) {
      size = end - at;  // the box runs to the end of its parent
    }
    if (size < node.headerSize) return problem("box '" + node.type + "' too small", at);
    node.payloadOffset = at + node.headerSize;
    if (size > end - at) {
      node.size = end - at;  // kept, clamped, but not entered
      out.push_back(std::move(node));
      return problem("box runs past its parent", at);
    }
    node.size = size;
    if (auto start = ChildrenStart(node.type)) {
      if (*start <= node.payloadSize())
        walk(node.payloadOffset + *start, node.end(), depth + 1, node.children);
      else
        problem("box '" + node.type + "' too small for its fields", at);
    }
    at = node.end();
    out.push_back(std::move(node));
  }
}

const BoxNode* BoxWalker::find(std::string_view path) const {
  auto all = findAll(path);
  return all.empty() ? nullptr : all.front();
}

std::vector<const BoxNode*> BoxWalker::findAll(std::string_view path) const {
  std::vector<const BoxNode*> out;
  if (!path.empty()) Collect(roots_, path, out);
  return out;
}

std::vector<const BoxNode*> BoxWalker::findType(std::string_view type) const {
  std::vector<const BoxNode*> out;
  CollectType(roots_, type, out);
  return out;
}

std::optional<std::uint64_t> BoxWalker::read(std::uint64_t offset, std::size_t n) const {
  if (offset > bytes_.size() || bytes_.size() - offset < n) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value = (value << 8) | bytes_[offset + i];
  return value;
}

std::optional<std::uint8_t> BoxWalker::read8(std::uint64_t offset) const { return read(offset, 1); }
std::optional<std::uint16_t> BoxWalker::read16(std::uint64_t offset) const {
  return read(offset, 2);
}
std::optional<std::uint32_t> BoxWalker::read32(std::uint64_t offset) const {
  return read(offset, 4);
}
std::optional<std::uint64_t> BoxWalker::read64(std::uint64_t offset) const {
  return read(offset, 8);
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
