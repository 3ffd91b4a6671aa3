#include "General/MessageText.h"

namespace zel {

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string ShortenForMessage(std::string_view value, std::size_t maxBytes) {
  if (value.size() <= maxBytes || maxBytes < 8) return std::string(value);
  const std::size_t keep = (maxBytes - 3) / 2;
  std::size_t head = keep;
  while (head > 0 && IsContinuationByte(value[head])) --head;
  std::size_t tail = value.size() - keep;
  while (tail < value.size() && IsContinuationByte(value[tail])) ++tail;
  return std::string(value.substr(0, head)) + "..." + std::string(value.substr(tail));
}

}  // namespace zel
