#include "settings/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <iterator>
#include <system_error>

#include "General/MediaTypes.h"

namespace zel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// A value that would lose its outer blanks or quotes on reading is written in
// double quotes; reading removes exactly that pair again.
std::string QuoteForWriting(std::string_view value) {
  bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  if (value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back()) {
    needsQuotes = true;
  }
  if (!needsQuotes) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted += '"';
  quoted += value;
  quoted += '"';
  return quoted;
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

int ParseProfileInt(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Accumulate in 64 bits and stop growing once past the 32-bit range, so a
  // long run of digits can neither overflow nor wrap.
  long long magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (c - '0');
  }
  long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

IniFile::LoadStatus IniFile::load(const std::filesystem::path& path, std::string* reason) {
  lines_.clear();
  byteOrderMark_ = false;
  const auto fail = [reason](LoadStatus status, std::string text) {
    if (reason) *reason = std::move(text);
    return status;
  };
  // Non-blocking: a FIFO of that name must not hang the program; it is
  // refused below like any other file that is not a regular one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return fail(LoadStatus::Missing, "does not exist");
    return fail(LoadStatus::Unreadable, std::generic_category().message(error));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    return fail(LoadStatus::Unreadable, std::generic_category().message(errno));
  }
  if (S_ISDIR(st.st_mode)) return fail(LoadStatus::NotAFile, "is a folder");
  if (!S_ISREG(st.st_mode)) return fail(LoadStatus::NotAFile, "is not a regular file");
  if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) {
    return fail(LoadStatus::TooLarge, "is larger than 1 MiB");
  }
  // Read at most one byte past the limit: a file that grows meanwhile is
  // still refused rather than read without end.
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(LoadStatus::Unreadable, std::generic_category().message(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxFileBytes) return fail(LoadStatus::TooLarge, "is larger than 1 MiB");
  }
  parse(text);
  return LoadStatus::Loaded;
}

void IniFile::parse(std::string_view text) {
  lines_.clear();
  byteOrderMark_ = text.starts_with(kByteOrderMark);
  if (byteOrderMark_) text.remove_prefix(kByteOrderMark.size());
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

    Line line;
    line.raw = std::string(raw);
    std::string_view trimmed = Trim(raw);
    if (trimmed.starts_with(';') || trimmed.starts_with('#')) {
      line.kind = Line::Kind::Other;  // comment
    } else if (trimmed.starts_with('[')) {
      std::size_t close = trimmed.find(']');
      line.kind = Line::Kind::Section;
      line.name = std::string(Trim(
          trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
    } else if (std::size_t eq = trimmed.find('='); eq != std::string_view::npos) {
      line.kind = Line::Kind::Key;
      line.name = std::string(Trim(trimmed.substr(0, eq)));
      line.value = Unquote(Trim(trimmed.substr(eq + 1)));
    }
    lines_.push_back(std::move(line));
  }
}

std::optional<std::pair<std::size_t, std::size_t>> IniFile::findSection(
    std::string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Line::Kind::Section || !SameName(lines_[i].name, name)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && lines_[end].kind != Line::Kind::Section) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

std::optional<std::size_t> IniFile::findKey(std::string_view section, std::string_view key) const {
  auto range = findSection(section);
  if (!range) return std::nullopt;
  for (std::size_t i = range->first + 1; i < range->second; ++i) {
    if (lines_[i].kind == Line::Kind::Key && SameName(lines_[i].name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
  auto index = findKey(section, key);
  if (!index) return std::nullopt;
  return lines_[*index].value;
}

std::string IniFile::getString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
  auto value = get(section, key);
  return value ? *value : std::string(fallback);
}

int IniFile::getInt(std::string_view section, std::string_view key, int fallback) const {
  auto value = get(section, key);
  return value ? ParseProfileInt(*value) : fallback;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
  // A value cannot span lines: it is cut at its first line break, so that a
  // strange folder name can never add keys or sections to the file.
  value = value.substr(0, value.find_first_of("\r\n"));
  if (auto index = findKey(section, key)) {
    Line& line = lines_[*index];
    line.value = std::string(value);
    line.raw = line.name + "=" + QuoteForWriting(value);
    return;
  }
  Line line;
  line.kind = Line::Kind::Key;
  line.name = std::string(key);
  line.value = std::string(value);
  line.raw = line.name + "=" + QuoteForWriting(value);

  auto range = findSection(section);
  if (!range) {
    Line header;
    header.kind = Line::Kind::Section;
    header.name = std::string(section);
    header.raw = "[" + header.name + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(line));
    return;
  }
  // After the section's last key, so blank lines and comments that close the
  // section stay below it.
  std::size_t at = range->first + 1;
  for (std::size_t i = range->first + 1; i < range->second; ++i) {
    if (lines_[i].kind == Line::Kind::Key) at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void IniFile::setInt(std::string_view section, std::string_view key, std::int64_t value) {
  set(section, key, std::to_string(value));
}

std::string IniFile::text() const {
  std::string out;
  if (byteOrderMark_) out += kByteOrderMark;
  for (const Line& line : lines_) {
    out += line.raw;
    out += '\n';
  }
  return out;
}

bool IniFile::save(const std::filesystem::path& link) const {
  // A setup.ini that links to a file kept elsewhere (with other settings
  // files) stays a link: its target is replaced, there.
  std::filesystem::path path = link;
  std::error_code error;
  for (int hops = 0; hops < kMaxLinkHops && std::filesystem::is_symlink(path, error); ++hops) {
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) return false;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  const std::string content = text();
  std::string tempPath = path.string() + ".XXXXXX";
  int fd = ::mkstemp(tempPath.data());
  if (fd < 0) return false;  // missing or read-only folder: the old file stays

  // mkstemp creates the file 0600; keep the old file's mode, or give a new
  // file the usual 0644.
  struct stat old {};
  mode_t mode = (::stat(path.c_str(), &old) == 0) ? (old.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0;

  std::size_t written = 0;
  while (ok && written < content.size()) {
    ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  // The new content reaches the disk before it replaces the old file, so a
  // crash leaves one whole file or the other.
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(tempPath.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tempPath.c_str());
  return ok;
}

}  // namespace zel
