#pragma once

#include <string>

namespace zel {

// The part of a path after its last "/" (the whole path without one). Only
// "/" separates folders in a Linux file name: a backslash is part of the
// name, so this and not GneGetFileName takes names from the user's paths.
std::string PathFileName(const std::string& path);

// The file name's extension: the bytes after the last "." of
// PathFileName(path), without the dot; empty when the name has no ".".
std::string PathExtension(const std::string& path);

// path without its file name's extension and the "." before it; the whole
// path when the name has no ".".
std::string PathWithoutExtension(const std::string& path);

// folder + "/" + name; a folder that already ends in "/" (the root) gets no
// second separator, an empty folder gives the name alone.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace zel
