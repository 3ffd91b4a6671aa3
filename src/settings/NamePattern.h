#pragma once

#include <string>
#include <string_view>

namespace zel {

// The pattern used instead of an empty or unsafe "edit" setting.
inline constexpr std::string_view kDefaultNamePattern = "%06d";

// Whether pattern may be handed to the formatter: at most one integer
// conversion (see NamePattern.cpp) and otherwise only "%%".
bool IsSafeNamePattern(std::string_view pattern);

// The name of segment index's thumbnail (without ".jpg"): the index formatted
// with pattern printf-style. An empty or unsafe pattern formats as "%06d".
std::string FormatSegmentName(std::string_view pattern, int index);

}  // namespace zel
