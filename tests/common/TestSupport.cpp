#include "common/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zel::test {

int RecordingNotifier::showMessage(std::string_view text, bool) {
  std::lock_guard lock(mutex_);
  messages_.emplace_back(text);
  return 1;
}

void RecordingNotifier::setCaption(std::string_view text) {
  std::lock_guard lock(mutex_);
  captions_.emplace_back(text);
}

std::vector<std::string> RecordingNotifier::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::string> RecordingNotifier::captions() const {
  std::lock_guard lock(mutex_);
  return captions_;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zeltest-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

// The streams go to files of a temporary folder: no pipe can fill up.
CommandResult RunCommand(const std::vector<std::string>& argv) {
  const TempDir dir;
  const std::string out = dir.file("out"), err = dir.file("err");
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
  ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int status = 127 << 8;  // as a shell reports a program it cannot run
  if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
    ::waitpid(pid, &status, 0);
  ::posix_spawn_file_actions_destroy(&actions);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFileText(out),
          ReadFileText(err)};
}

void MakeMedia(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-y", "-v", "error"};
  argv.insert(argv.end(), args.begin(), args.end());
  CommandResult r = RunCommand(argv);
  ASSERT_EQ(r.exitCode, 0) << "ffmpeg failed: " << r.err;
}

std::string DecodeErrors(const std::string& path) {
  CommandResult r =
      RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
  if (r.exitCode != 0 && r.err.empty()) return "ffmpeg exit code " + std::to_string(r.exitCode);
  return r.err;
}

std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> out;
  auto byte = [](std::string_view digits) {
    return static_cast<std::uint8_t>(std::stoul(std::string(digits), nullptr, 16));
  };
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
    } else if (text[i] == '\'') {
      std::size_t close = text.find('\'', i + 1);
      out.insert(out.end(), text.begin() + i + 1, text.begin() + close);
      i = close + 1;
    } else if (text.substr(i + 2, 1) == "*") {
      std::size_t end = std::min(text.find(' ', i), text.size());
      out.insert(out.end(), std::stoul(std::string(text.substr(i + 3, end - i - 3))),
                 byte(text.substr(i, 2)));
      i = end;
    } else {
      out.push_back(byte(text.substr(i, 2)));
      i += 2;
    }
  }
  return out;
}

std::vector<std::uint8_t> WavBytes(std::uint32_t rate, std::uint32_t channels,
                                   const std::vector<std::uint8_t>& pcm,
                                   const std::vector<std::uint8_t>& beforeData,
                                   std::int64_t dataLength) {
  std::vector<std::uint8_t> out = Hex("'RIFF' 00000000 'WAVEfmt ' 10000000 0100");
  const auto put = [&out](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(channels, 2), put(rate, 4), put(rate * channels * 2, 4), put(channels * 2, 2), put(16, 2);
  out.insert(out.end(), beforeData.begin(), beforeData.end());
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put(static_cast<std::uint32_t>(dataLength < 0 ? pcm.size() : dataLength), 4);
  out.insert(out.end(), pcm.begin(), pcm.end());
  return out;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace zel::test
