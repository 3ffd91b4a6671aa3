#pragma once

#include <string>
#include <string_view>

namespace zel {

// A value quoted in a message: at most maxBytes, a longer one keeps its start
// and its end around "...", cut at UTF-8 character boundaries.
std::string ShortenForMessage(std::string_view value, std::size_t maxBytes = 160);

}  // namespace zel
