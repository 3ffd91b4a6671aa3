#include "container/BoxBuffer.h"

#include <limits>

namespace zel {

// The layout checks are alive in every build (RelWithDebInfo defines
// NDEBUG, so assert would not do). A box written wrong is marked broken,
// and the operation that would write outside it is skipped; the writer
// refuses to write a file from a broken box.
#define ZEL_BOX_CHECK(condition, what) \
  ((condition) ? true : (fail(what), false))

void BoxBuffer::fail(const char* what) {
  if (broken_.empty()) broken_ = what;
}

BoxBuffer::BoxBuffer(std::string_view type, std::size_t capacityHint) {
  bytes_.reserve(capacityHint > 8 ? capacityHint : 8);
  put32(0);  // the size, stored by close()
  putFourcc(type);
}

BoxBuffer BoxBuffer::Full(std::string_view type, std::uint8_t version, std::uint32_t flags,
                          std::size_t capacityHint) {
  BoxBuffer box(type, capacityHint);
  box.put32((static_cast<std::uint32_t>(version) << 24) | (flags & 0x00FFFFFFu));
  return box;
}

void BoxBuffer::put8(std::uint8_t v) {
  if (ZEL_BOX_CHECK(!closed_, "fields go before the children")) bytes_.push_back(v);
}

void BoxBuffer::put16(std::uint16_t v) {
  put8(static_cast<std::uint8_t>(v >> 8));
  put8(static_cast<std::uint8_t>(v));
}

void BoxBuffer::put32(std::uint32_t v) {
  put16(static_cast<std::uint16_t>(v >> 16));
  put16(static_cast<std::uint16_t>(v));
}

void BoxBuffer::putFourcc(std::string_view code) {
  for (std::size_t i = 0; i < 4; ++i)
    put8(i < code.size() ? static_cast<std::uint8_t>(code[i]) : 0);
}

void BoxBuffer::putBytes(const std::uint8_t* bytes, std::size_t n) {
  if (ZEL_BOX_CHECK(!closed_, "fields go before the children") && n != 0) {
    bytes_.insert(bytes_.end(), bytes, bytes + n);
  }
}

void BoxBuffer::putZeros(std::size_t n) {
  if (ZEL_BOX_CHECK(!closed_, "fields go before the children")) bytes_.insert(bytes_.end(), n, 0);
}

void BoxBuffer::mark(PatchMark mark) { marks_.emplace_back(mark, bytes_.size()); }

void BoxBuffer::close(std::size_t expectedSize) {
  ZEL_BOX_CHECK(!closed_, "box closed twice");
  closed_ = true;
  storeSize();
  ZEL_BOX_CHECK(expectedSize == 0 || bytes_.size() == expectedSize,
                "box size differs from its layout");
}

void BoxBuffer::appendChild(const BoxBuffer& child) {
  if (!child.broken_.empty()) fail(child.broken_.c_str());
  if (!ZEL_BOX_CHECK(closed_ && child.closed_, "children are appended to closed boxes")) return;
  std::size_t base = bytes_.size();
  bytes_.insert(bytes_.end(), child.bytes_.begin(), child.bytes_.end());
  for (const auto& [mark, offset] : child.marks_) marks_.emplace_back(mark, base + offset);
  storeSize();
}

std::optional<std::size_t> BoxBuffer::markOffset(PatchMark mark) const {
  for (const auto& [m, offset] : marks_)
    if (m == mark) return offset;
  return std::nullopt;
}

void BoxBuffer::patch16(std::size_t offset, std::uint16_t v) {
  if (!ZEL_BOX_CHECK(offset <= bytes_.size() && bytes_.size() - offset >= 2,
                     "patched field outside the box")) {
    return;
  }
  bytes_[offset] = static_cast<std::uint8_t>(v >> 8);
  bytes_[offset + 1] = static_cast<std::uint8_t>(v);
}

void BoxBuffer::patch32(std::size_t offset, std::uint32_t v) {
  if (!ZEL_BOX_CHECK(offset <= bytes_.size() && bytes_.size() - offset >= 4,
                     "patched field outside the box")) {
    return;
  }
  patch16(offset, static_cast<std::uint16_t>(v >> 16));
  patch16(offset + 2, static_cast<std::uint16_t>(v));
}

void BoxBuffer::storeSize() {
  // Boxes larger than 4 GiB would need the 64-bit size form; no box of this
  // writer comes near it (the media data is not built in a BoxBuffer).
  if (!ZEL_BOX_CHECK(bytes_.size() <= std::numeric_limits<std::uint32_t>::max(),
                     "box larger than a 32-bit size")) {
    return;
  }
  std::uint32_t size = static_cast<std::uint32_t>(bytes_.size());
  bytes_[0] = static_cast<std::uint8_t>(size >> 24);
  bytes_[1] = static_cast<std::uint8_t>(size >> 16);
  bytes_[2] = static_cast<std::uint8_t>(size >> 8);
  bytes_[3] = static_cast<std::uint8_t>(size);
}

}  // namespace zel
