#include "container/BoxWalker.h"

#include <charconv>
#include <fstream>
#include <iterator>

namespace zel {
namespace {

constexpr int kMaxDepth = 32;

// Where the children of a box begin, counted from its payload, for the boxes
// that hold children; nullopt for leaf boxes.
std::optional<std::uint64_t> ChildrenStart(std::string_view type) {
  static constexpr std::string_view kPlain[] = {"moov", "trak", "edts", "mdia", "minf",
                                                "dinf", "stbl", "udta", "drm ", "mvex",
                                                "moof", "traf", "mfra", "tref"};
  for (auto t : kPlain)
    if (t == type) return 0;
  if (type == "stsd" || type == "dref") return 8;  // version/flags, entry count
  if (type == "meta") return 4;                    // version/flags
  // Sample entries: visual 78 bytes of fields, audio 28.
  if (type == "mp4v" || type == "s263" || type == "avc1" || type == "h263") return 78;
  if (type == "mp4a" || type == "samr" || type == "sawb") return 28;
  return std::nullopt;
}

struct PathStep {
  std::string_view type;
  std::optional<std::size_t> index;
};

std::optional<std::vector<PathStep>> ParsePath(std::string_view path) {
  std::vector<PathStep> steps;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    PathStep step{part, std::nullopt};
    if (std::size_t open = part.find('['); open != std::string_view::npos) {
      if (part.back() != ']') return std::nullopt;
      std::string_view digits = part.substr(open + 1, part.size() - open - 2);
      std::size_t index = 0;
      auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
      if (ec != std::errc{} || ptr != digits.data() + digits.size()) return std::nullopt;
      step = {part.substr(0, open), index};
    }
    steps.push_back(step);
  }
  return steps;
}

void Collect(const std::vector<BoxNode>& level, const std::vector<PathStep>& steps, std::size_t at,
             std::vector<const BoxNode*>& out) {
  if (at == steps.size()) return;
  std::size_t seen = 0;
  for (const BoxNode& node : level) {
    if (node.type != steps[at].type) continue;
    std::size_t index = seen++;
    if (steps[at].index && *steps[at].index != index) continue;
    if (at + 1 == steps.size())
      out.push_back(&node);
    else
      Collect(node.children, steps, at + 1, out);
  }
}

void CollectType(const std::vector<BoxNode>& level, std::string_view type,
                 std::vector<const BoxNode*>& out) {
  for (const BoxNode& node : level) {
    if (node.type == type) out.push_back(&node);
    CollectType(node.children, type, out);
  }
}

void Outline(const std::vector<BoxNode>& level, int depth, std::string& out) {
  for (const BoxNode& node : level) {
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
    out += node.type + " @" + std::to_string(node.offset) + " " + std::to_string(node.size) + "\n";
    Outline(node.children, depth + 1, out);
  }
}

}  // namespace

BoxWalker::BoxWalker(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
  walk(0, bytes_.size(), 0, roots_);
}

BoxWalker BoxWalker::FromFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    BoxWalker empty({});
    empty.problems_.push_back("cannot read " + path.string());
    return empty;
  }
  return BoxWalker(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

void BoxWalker::walk(std::uint64_t begin, std::uint64_t end, int depth, std::vector<BoxNode>& out) {
  if (depth > kMaxDepth) {
    problems_.push_back("boxes nested too deeply at " + std::to_string(begin));
    return;
  }
  std::uint64_t at = begin;
  while (at < end) {
    if (end - at < 8) {
      problems_.push_back(std::to_string(end - at) + " stray bytes at " + std::to_string(at));
      return;
    }
    BoxNode node;
    node.offset = at;
    node.type = text(at + 4, 4);
    std::uint64_t size = *read32(at);
    node.headerSize = 8;
    if (size == 1) {
      if (end - at < 16) {
        problems_.push_back("largesize cut off at " + std::to_string(at));
        return;
      }
      size = *read64(at + 8);
      node.headerSize = 16;
    } else if (size == 0) {
      size = end - at;  // the box runs to the end of its parent
    }
    if (size < node.headerSize) {
      problems_.push_back("box '" + node.type + "' at " + std::to_string(at) + " has size " +
                          std::to_string(size));
      return;
    }
    if (size > end - at) {
      problems_.push_back("box '" + node.type + "' at " + std::to_string(at) +
                          " runs past its parent (" + std::to_string(size) + " bytes, " +
                          std::to_string(end - at) + " left)");
      node.size = end - at;  // kept, clamped, but not entered
      node.payloadOffset = at + node.headerSize;
      out.push_back(std::move(node));
      return;
    }
    node.size = size;
    node.payloadOffset = at + node.headerSize;
    if (auto start = ChildrenStart(node.type)) {
      if (*start <= node.payloadSize())
        walk(node.payloadOffset + *start, node.end(), depth + 1, node.children);
      else
        problems_.push_back("box '" + node.type + "' at " + std::to_string(at) +
                            " too small for its fields");
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
  if (auto steps = ParsePath(path); steps && !steps->empty()) Collect(roots_, *steps, 0, out);
  return out;
}

std::vector<const BoxNode*> BoxWalker::findType(std::string_view type) const {
  std::vector<const BoxNode*> out;
  CollectType(roots_, type, out);
  return out;
}

std::optional<std::uint8_t> BoxWalker::read8(std::uint64_t offset) const {
  if (offset >= bytes_.size()) return std::nullopt;
  return bytes_[offset];
}

std::optional<std::uint16_t> BoxWalker::read16(std::uint64_t offset) const {
  if (offset > bytes_.size() || bytes_.size() - offset < 2) return std::nullopt;
  return static_cast<std::uint16_t>((bytes_[offset] << 8) | bytes_[offset + 1]);
}

std::optional<std::uint32_t> BoxWalker::read32(std::uint64_t offset) const {
  auto hi = read16(offset), lo = read16(offset + 2);
  if (!hi || !lo || offset + 2 < offset) return std::nullopt;
  return (std::uint32_t{*hi} << 16) | *lo;
}

std::optional<std::uint64_t> BoxWalker::read64(std::uint64_t offset) const {
  auto hi = read32(offset), lo = read32(offset + 4);
  if (!hi || !lo || offset + 4 < offset) return std::nullopt;
  return (std::uint64_t{*hi} << 32) | *lo;
}

std::string BoxWalker::text(std::uint64_t offset, std::size_t n) const {
  std::string out;
  for (std::size_t i = 0; i < n && offset + i < bytes_.size() && offset + i >= offset; ++i)
    out.push_back(static_cast<char>(bytes_[offset + i]));
  return out;
}

std::string BoxWalker::outline() const {
  std::string out;
  Outline(roots_, 0, out);
  return out;
}

}  // namespace zel
