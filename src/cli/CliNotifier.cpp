#include "cli/CliNotifier.h"

#include <cstdio>
#include <string>
#include <utility>

#include "General/MediaTypes.h"

namespace zel::cli {

namespace {

std::string Clock(std::int64_t hns) {
  if (hns < 0) hns = 0;
  std::int64_t s = hns / kHnsPerSecond;
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return text;
}

// The picture rate the size limit chose, after the progress; nothing without one.
std::string LimitedRate(int bitRate) {
  return bitRate > 0 ? ", video " + std::to_string(bitRate) + " bps" : std::string();
}

}  // namespace

CliNotifier::CliNotifier(bool quiet, bool terminal, std::string messagePrefix)
    : quiet_(quiet), terminal_(terminal), messagePrefix_(std::move(messagePrefix)) {}

int CliNotifier::showMessage(std::string_view text, bool) {
  std::lock_guard lock(mutex_);
  clearBar();
  std::string line = messagePrefix_ + std::string(text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  return 1;
}

void CliNotifier::reportProgress(const ConversionProgress& progress) {
  std::lock_guard lock(mutex_);
  last_ = progress;
  if (quiet_) return;
  if (terminal_) {
    // At most five redraws a second, and always the segment's end.
    const auto now = std::chrono::steady_clock::now();
    if (progress.segmentFinished || now - lastDraw_ >= std::chrono::milliseconds(200)) {
      drawBar(progress.doneHns);
    }
  } else if (progress.segmentFinished) {
    std::fprintf(stderr, "%s: segment %d/%d done, %s of %s%s\n", name_.c_str(),
                 progress.segmentIndex + 1, progress.segmentCount, Clock(progress.doneHns).c_str(),
                 Clock(progress.totalHns).c_str(), LimitedRate(progress.videoBitRate).c_str());
    std::fflush(stderr);
  }
}

void CliNotifier::beginInput(const std::string& name) {
  std::lock_guard lock(mutex_);
  name_ = name;
  last_ = {};
  started_ = std::chrono::steady_clock::now();
}

void CliNotifier::endInput() {
  std::lock_guard lock(mutex_);
  if (barShown_) {
    std::fputc('\n', stderr);
    barShown_ = false;
  }
}

void CliNotifier::drawBar(std::int64_t doneHns) {
  lastDraw_ = std::chrono::steady_clock::now();
  const std::int64_t total = last_.totalHns;
  if (doneHns > total) doneHns = total;
  double fraction = total > 0 ? static_cast<double>(doneHns) / static_cast<double>(total) : 0.0;
  constexpr int kWidth = 24;
  int filled = static_cast<int>(fraction * kWidth);
  std::string bar(filled, '#');
  bar.resize(kWidth, '.');
  std::string left = "--:--";
  auto elapsed = std::chrono::duration<double>(lastDraw_ - started_).count();
  if (fraction > 0.02) {
    left = Clock(static_cast<std::int64_t>(elapsed * (1.0 - fraction) / fraction * 1e7));
  }
  std::fprintf(stderr, "\r\033[K%s [%s] segment %d/%d  %s / %s  left %s%s", name_.c_str(),
               bar.c_str(), last_.segmentIndex + 1, last_.segmentCount > 0 ? last_.segmentCount : 1,
               Clock(doneHns).c_str(), Clock(total).c_str(), left.c_str(),
               LimitedRate(last_.videoBitRate).c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void CliNotifier::clearBar() {
  if (barShown_) {
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
  }
}

}  // namespace zel::cli
