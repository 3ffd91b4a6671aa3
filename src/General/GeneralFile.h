#pragma once

#include <string>
#include <string_view>

namespace zel {

// Path-text helpers. They split at both '/' and '\\' and otherwise work byte
// by byte on UTF-8 text.

// The part of path after its last separator; the whole path without one;
// empty when path ends in a separator.
std::string GneGetFileName(std::string_view path);

// True when at least one directory entry matches path. The last component may
// hold the wildcards '*' (any run of bytes) and '?' (one byte); without them
// this is a plain existence test (folders count).
bool GneFileExists(std::string_view path);

}  // namespace zel
