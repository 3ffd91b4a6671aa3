#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace zel {

// Writes the parts one after the other into a new file at path (replacing
// one that exists). On any failure the partial file is removed and false is
// returned.
bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> parts);

}  // namespace zel
