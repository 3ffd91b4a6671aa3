#include "settings/NamePattern.h"

#include <cstdio>
#include <optional>

namespace zel {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The rule for a user's name pattern. It reaches snprintf only when it holds
// at most one integer conversion and otherwise no '%' but "%%". An integer
// conversion is '%', any of the flags "-+ 0#", a width of at most three
// digits, optionally '.' and a precision of at most three digits, then 'd' or
// 'i' ("%d", "%02d", "%6d", "%-4d", "%.3d"). Only d and i count: the argument
// is a signed int, and %u/%x/%o would read it as unsigned for no gain in a
// file name. Everything else ("%s", "%n", "%x", "%d%d", "%99999d", "%*d",
// "%ld", a lone '%' at the end, ...) makes the whole pattern unsafe, and it is
// formatted as "%06d" instead; so does a '/', since a pattern is a file name. The width and
// precision limits keep a name below a few kilobytes.
//
// Returns the pattern to hand to snprintf: the input with every '#' flag
// dropped ('#' with d or i is undefined in C; glibc ignores it, so dropping it
// changes nothing), or nothing when the pattern is unsafe.
std::optional<std::string> SanitizePattern(std::string_view pattern) {
  std::string format;
  format.reserve(pattern.size());
  int conversions = 0;
  std::size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i++];
    // A pattern names a file in the output folder: a folder separator (or a
    // byte that would end the name early) would write elsewhere.
    if (c == '/' || c == '\0') return std::nullopt;
    format += c;
    if (c != '%') continue;
    if (i < pattern.size() && pattern[i] == '%') {
      format += pattern[i++];
      continue;
    }
    while (i < pattern.size() &&
           std::string_view("-+ 0#").find(pattern[i]) != std::string_view::npos) {
      if (pattern[i] != '#') format += pattern[i];
      ++i;
    }
    int widthDigits = 0;
    while (i < pattern.size() && IsDigit(pattern[i])) {
      format += pattern[i++];
      if (++widthDigits > 3) return std::nullopt;
    }
    if (i < pattern.size() && pattern[i] == '.') {
      format += pattern[i++];
      int precisionDigits = 0;
      while (i < pattern.size() && IsDigit(pattern[i])) {
        format += pattern[i++];
        if (++precisionDigits > 3) return std::nullopt;
      }
    }
    if (i >= pattern.size() || (pattern[i] != 'd' && pattern[i] != 'i')) return std::nullopt;
    format += pattern[i++];
    if (++conversions > 1) return std::nullopt;
  }
  return format;
}

std::string FormatInt(const std::string& format, int index) {
  // format passed SanitizePattern (or is kDefaultNamePattern): one int at most.
  int size = std::snprintf(nullptr, 0, format.c_str(), index);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(out.data(), out.size(), format.c_str(), index);
  out.resize(static_cast<std::size_t>(size));
  return out;
}

}  // namespace

bool IsSafeNamePattern(std::string_view pattern) { return SanitizePattern(pattern).has_value(); }

std::string FormatSegmentName(std::string_view pattern, int index) {
  std::optional<std::string> format;
  if (!pattern.empty()) format = SanitizePattern(pattern);
  if (!format) format = std::string(kDefaultNamePattern);
  return FormatInt(*format, index);
}

}  // namespace zel
