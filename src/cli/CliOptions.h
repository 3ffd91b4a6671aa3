#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zel::cli {

// What the command line asked for. Unset options leave the settings alone.
struct CliOptions {
  std::vector<std::string> inputs;
  std::optional<std::string> settingsFile;
  std::optional<std::string> outputFolder;
  std::optional<std::int64_t> startHns;
  std::optional<std::int64_t> endHns;
  std::optional<int> audioFormat;  // index of the audio format list
  std::optional<int> sampleRate;   // Hz
  std::optional<int> channels;
  std::optional<int> videoFormat;  // index of the video format list
  std::optional<int> frameWidth;   // 128, 176 or 320
  std::optional<int> frameRate;
  std::optional<int> splitSeconds;
  std::optional<int> containerMode;  // 0 both, 1 3gp, 2 3g2
  bool report = false;
  std::optional<std::string> pattern;
  std::optional<int> thumbWidth;  // 0, 64, 128
  // Beyond the described converter (settings keepaspect, smoothscale, anyinput,
  // normalize).
  std::optional<bool> keepAspect;
  std::optional<bool> smooth;
  std::optional<bool> anyInput;
  int jobs = 1;  // inputs converted at once; 0: one per processor
  std::optional<int> maxSizeKib;  // setting maxsize; 0: no limit
  std::optional<bool> normalize;
  bool quiet = false;
  bool verbose = false;  // the libraries' own notices too
  bool help = false;
  bool version = false;
};

// Parses argv[1..]. On a usage error returns false with the message in error.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options,
                      std::string& error);

// "12.5", "75", "1:02.5" or "1:02:03.250" into 100-ns units; digits beyond
// the seventh after the point are dropped. Nothing for anything else
// (signs, blanks, more than two colons, minutes or seconds of 60 and above
// after a colon, more than about three years).
std::optional<std::int64_t> ParseTime(const std::string& text);

const char* UsageText();

}  // namespace zel::cli
