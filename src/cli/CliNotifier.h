#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "General/Notifier.h"

namespace zel::cli {

// Messages go to stderr as the window would show them; progress is a bar on
// a terminal and one line per segment otherwise. Where several inputs are
// converted at once, each has its own notifier without a bar, and
// messagePrefix names its input in front of each message.
class CliNotifier final : public Notifier {
 public:
  CliNotifier(bool quiet, bool terminal, std::string messagePrefix = {});

  int showMessage(std::string_view text, bool systemModal) override;
  void setCaption(std::string_view) override {}  // the bar is drawn from the progress
  void reportProgress(const ConversionProgress& progress) override;

  // Starts a new input: resets the clock and names it in the progress.
  void beginInput(const std::string& name);
  // Ends the bar's line, if one is drawn.
  void endInput();

 private:
  void drawBar(std::int64_t doneHns);
  void clearBar();

  std::mutex mutex_;
  bool quiet_;
  bool terminal_;
  bool barShown_ = false;
  std::string messagePrefix_;
  std::string name_;
  ConversionProgress last_;

  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace zel::cli
