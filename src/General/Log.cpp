#include "General/Log.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace zel {

namespace {

std::mutex gMutex;
std::string gProgram = "zel";
std::atomic<bool> gVerbose{false};

void WriteLine(std::string_view text) {
  std::string line;
  {
    std::lock_guard lock(gMutex);
    line = gProgram;
  }
  line += ": ";
  line += text;
  if (line.back() != '\n') line += '\n';
  // One write: the line stays whole between threads, and a closed stderr
  // (SIGPIPE is ignored) costs nothing but the line.
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void SetLogProgram(std::string_view program, bool verbose) {
  std::lock_guard lock(gMutex);
  gProgram = std::string(program);
  gVerbose = verbose;
}

bool LogVerbose() { return gVerbose; }

const std::string& LogProgram() {
  std::lock_guard lock(gMutex);
  return gProgram;
}

void LogError(std::string_view text) { WriteLine(text); }

void LogInfo(std::string_view text) {
  if (gVerbose) WriteLine(text);
}

}  // namespace zel
