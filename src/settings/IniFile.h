#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

// A private-profile (INI) file kept as its lines, so that sections, keys and
// comments this program does not know survive a save in their places.
//
// Reading: section and key names compare case-insensitively (ASCII); lines may
// end in LF or CRLF; blanks around names and values are dropped, and one pair
// of matching quotes around a value is removed. When a section or key occurs
// twice, the first one counts. Writing: "key=value" lines ending in LF (a
// value is cut at its first line break, and one with outer blanks or quotes
// is written in double quotes); a key that exists keeps its line, a new key
// goes after the last key of its section, a new section goes at the end of
// the file.
class IniFile {
 public:
  // A settings file has a few hundred bytes; anything larger is refused.
  static constexpr std::uintmax_t kMaxFileBytes = 1 << 20;
  static constexpr int kMaxLinkHops = 40;  // as the kernel follows them (ELOOP)

  enum class LoadStatus {
    Loaded,
    Missing,     // no such file
    NotAFile,    // a folder, a device, a FIFO... (never read, never written)
    TooLarge,    // over kMaxFileBytes (never read, never written)
    Unreadable,  // a file that cannot be read (permissions, I/O error)
  };
  // Replaces the contents with the file at path; the contents stay empty
  // unless it is Loaded. reason, when given, receives a short English text
  // for messages ("is a folder", "Permission denied", ...). Never blocks on
  // a FIFO and never reads more than kMaxFileBytes.
  LoadStatus load(const std::filesystem::path& path, std::string* reason);
  // The same, true when Loaded.
  bool load(const std::filesystem::path& path) { return load(path, nullptr) == LoadStatus::Loaded; }
  // Replaces the contents with text (LF or CRLF lines).
  void parse(std::string_view text);

  bool hasSection(std::string_view section) const { return findSection(section).has_value(); }
  // The value of key in section, or nothing when either is missing.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  std::string getString(std::string_view section, std::string_view key,
                        std::string_view fallback = {}) const;
  // The value read as ParseProfileInt does; fallback when the key is missing.
  int getInt(std::string_view section, std::string_view key, int fallback = 0) const;

  void set(std::string_view section, std::string_view key, std::string_view value);
  void setInt(std::string_view section, std::string_view key, std::int64_t value);

  // The file's text as save writes it.
  std::string text() const;

  // Writes text() into a temporary file next to path and renames it over
  // path, so a reader sees the old or the new file, never a part. A path
  // that is a symbolic link is followed: the file it names is replaced and
  // the link stays. False (and the old file untouched) when the folder is
  // missing or not writable.
  bool save(const std::filesystem::path& path) const;

 private:
  struct Line {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string raw;    // the line as read (Other and Section lines are written back so)
    std::string name;   // section or key name as written in the file
    std::string value;  // Key lines: the value, unquoted
  };
  // [begin, end) of the lines of the first section called name; begin is the
  // header line. Nothing when there is no such section.
  std::optional<std::pair<std::size_t, std::size_t>> findSection(std::string_view name) const;
  std::optional<std::size_t> findKey(std::string_view section, std::string_view key) const;

  std::vector<Line> lines_;
  bool byteOrderMark_ = false;  // kept so a saved file starts as the loaded one did
};

// Reads an integer the way the Windows profile reader does: optional blanks,
// an optional sign and the leading decimal digits; anything else ends the
// number, and text without digits gives 0. Numbers beyond the 32-bit range are
// clamped to INT_MIN / INT_MAX instead of wrapping around.
int ParseProfileInt(std::string_view text);

}  // namespace zel
