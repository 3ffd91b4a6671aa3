#include "General/WholeFile.h"

#include <filesystem>
#include <fstream>

namespace zel {

bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> parts) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (std::span<const std::uint8_t> part : parts) {
    out.write(reinterpret_cast<const char*>(part.data()),
              static_cast<std::streamsize>(part.size()));
  }
  out.close();
  if (!out) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
  }
  return true;
}

}  // namespace zel
