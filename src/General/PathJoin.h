#pragma once

#include <string>

namespace zel {

// folder + "/" + name; a folder that already ends in "/" (the root) gets no
// second separator, an empty folder gives the name alone.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace zel
