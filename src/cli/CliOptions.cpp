#include "cli/CliOptions.h"

#include <charconv>
#include <cmath>

#include "General/MediaTypes.h"

namespace zel::cli {

namespace {

std::optional<int> ParseInt(const std::string& text, int low, int high) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

template <typename T>
std::optional<T> Choose(const std::string& text,
                        std::initializer_list<std::pair<const char*, T>> choices) {
  for (const auto& [name, value] : choices) {
    if (text == name) return value;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ParseTime(const std::string& text) {
  if (text.empty()) return std::nullopt;
  // Up to two "m:" / "h:m:" fields before the seconds.
  std::int64_t wholeMinutes = 0;
  std::size_t pos = 0;
  int fields = 0;
  for (std::size_t colon; (colon = text.find(':', pos)) != std::string::npos; pos = colon + 1) {
    if (++fields > 2) return std::nullopt;
    std::string part = text.substr(pos, colon - pos);
    auto v = ParseInt(part, 0, 1000000);
    if (!v || (fields > 1 && *v > 59)) return std::nullopt;
    wholeMinutes = wholeMinutes * 60 + *v;
  }
  std::string seconds = text.substr(pos);
  if (seconds.empty()) return std::nullopt;
  std::int64_t whole = 0, fraction = 0;
  int digits = 0;
  bool seenDot = false;
  bool anyDigit = false;
  for (char c : seconds) {
    if (c == '.' && !seenDot) {
      seenDot = true;
    } else if (c >= '0' && c <= '9') {
      anyDigit = true;
      if (!seenDot) {
        whole = whole * 10 + (c - '0');
        if (whole > 100000000) return std::nullopt;
      } else if (digits < 7) {
        fraction = fraction * 10 + (c - '0');
        ++digits;
      }
    } else {
      return std::nullopt;
    }
  }
  if (!anyDigit || (fields > 0 && whole > 59)) return std::nullopt;
  while (digits < 7) {
    fraction *= 10;
    ++digits;
  }
  return (wholeMinutes * 60 + whole) * kHnsPerSecond + fraction;
}

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string value;
    bool hasInlineValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasInlineValue = true;
    }
    auto needValue = [&](const char* what) -> bool {
      if (hasInlineValue) return true;
      if (i + 1 >= args.size()) {
        error = "option " + arg + " needs " + what;
        return false;
      }
      value = args[++i];
      return true;
    };
    auto invalid = [&](const char* allowed) {
      error = "invalid value '" + value + "' for " + arg + " (allowed: " + allowed + ")";
      return false;
    };

    if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--report") {
      o.report = true;
    } else if (arg == "--keep-aspect" || arg == "--no-keep-aspect") {
      o.keepAspect = arg == "--keep-aspect";
    } else if (arg == "--smooth" || arg == "--no-smooth") {
      o.smooth = arg == "--smooth";
    } else if (arg == "--any-input" || arg == "--no-any-input") {
      o.anyInput = arg == "--any-input";
    } else if (arg == "--max-size") {
      if (!needValue("a size in KiB")) return false;
      o.maxSizeKib = ParseInt(value, 0, 4194303);
      if (!o.maxSizeKib) return invalid("0 to 4194303 KiB; 0: no limit");
    } else if (arg == "--normalize" || arg == "--no-normalize") {
      o.normalize = arg == "--normalize";
    } else if (arg == "-o" || arg == "--output") {
      if (!needValue("a folder")) return false;
      if (value.empty()) return invalid("a folder");
      o.outputFolder = value;
    } else if (arg == "-j" || arg == "--jobs") {
      if (!needValue("a number")) return false;
      const std::optional<int> jobs = ParseInt(value, 0, 256);
      if (!jobs) return invalid("0 to 256; 0 is one per processor");
      o.jobs = *jobs;
    } else if (arg == "--settings") {
      if (!needValue("a file")) return false;
      o.settingsFile = value;
    } else if (arg == "--start" || arg == "--end") {
      if (!needValue("a time")) return false;
      auto t = ParseTime(value);
      if (!t) return invalid("seconds such as 12.5, or m:ss.mmm");
      (arg == "--start" ? o.startHns : o.endHns) = *t;
    } else if (arg == "--audio") {
      if (!needValue("a codec")) return false;
      o.audioFormat = Choose<int>(value, {{"none", 0}, {"aac", 1}, {"amr", 2}});
      if (!o.audioFormat) return invalid("none, aac, amr");
    } else if (arg == "--rate") {
      if (!needValue("a sampling rate")) return false;
      o.sampleRate = Choose<int>(
          value, {{"8000", 8000}, {"16000", 16000}, {"22050", 22050}, {"24000", 24000}});
      if (!o.sampleRate) return invalid("8000, 16000, 22050, 24000");
    } else if (arg == "--channels") {
      if (!needValue("a channel count")) return false;
      o.channels = Choose<int>(value, {{"1", 1}, {"2", 2}});
      if (!o.channels) return invalid("1, 2");
    } else if (arg == "--video") {
      if (!needValue("a codec")) return false;
      o.videoFormat = Choose<int>(value, {{"none", 0}, {"h263", 1}, {"mpeg4", 2}});
      if (!o.videoFormat) return invalid("none, h263, mpeg4");
    } else if (arg == "--size") {
      if (!needValue("a frame size")) return false;
      o.frameWidth = Choose<int>(value, {{"128x96", 128}, {"176x144", 176}, {"320x240", 320}});
      if (!o.frameWidth) return invalid("128x96, 176x144, 320x240");
    } else if (arg == "--fps") {
      if (!needValue("a frame rate")) return false;
      o.frameRate = ParseInt(value, 0, 30);
      if (!o.frameRate) return invalid("0 to 30; 0 keeps the source's");
    } else if (arg == "--split") {
      if (!needValue("seconds")) return false;
      o.splitSeconds = ParseInt(value, 0, 30);
      if (!o.splitSeconds) return invalid("0 to 30; 0 does not split");
    } else if (arg == "--container") {
      if (!needValue("a container choice")) return false;
      o.containerMode = Choose<int>(value, {{"both", 0}, {"3gp", 1}, {"3g2", 2}});
      if (!o.containerMode) return invalid("both, 3gp, 3g2");
    } else if (arg == "--pattern") {
      if (!needValue("a pattern")) return false;
      o.pattern = value;
    } else if (arg == "--thumb") {
      if (!needValue("a size")) return false;
      o.thumbWidth = Choose<int>(value, {{"0", 0}, {"64", 64}, {"128", 128}});
      if (!o.thumbWidth) return invalid("0 (source size), 64, 128");
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (o.help || o.version) return true;
  if (o.inputs.empty()) {
    error = "no input file given";
    return false;
  }
  if (o.startHns && o.endHns && *o.endHns <= *o.startHns) {
    error = "--end must lie after --start: the range would be empty";
    return false;
  }
  return true;
}

const char* UsageText() {
  return R"(Usage: zel-convert [OPTIONS] INPUT...

Converts video and audio files (WMV, AVI, MPEG-1, WAV, WMA) into 3GP and 3G2
movie files for mobile phones: MPEG-4 Visual or H.263 video, AAC or AMR-NB audio.

Each INPUT is converted in turn (or up to N at a time with -j N) with the
settings of setup.ini in the current directory (as the window does) or of
--settings FILE. The options below override the settings for this run only;
setup.ini is never written.

Output:
  -o, --output DIR          output folder (default: the "result" setting)
      --container KIND      both, 3gp or 3g2
      --split SECONDS       cut the range into segments of 1 to 30 s (0: one file)
      --report              write a JPEG thumbnail per segment and thumbnail.html
      --pattern PATTERN     thumbnail names, one integer conversion (e.g. clip_%03d)
      --thumb SIZE          thumbnail width: 0 (source size), 64 or 128
      --max-size KIB        no file larger than KIB KiB: the picture bit rate
                            is chosen to fit (setting maxsize; 0: no limit)

Picture and inputs (settings keepaspect, smoothscale, anyinput; off unless set):
      --keep-aspect         keep the picture's aspect ratio: black bars instead
                            of a stretched picture (--no-keep-aspect: stretch)
      --smooth              scale by averaging the source pixels instead of
                            nearest neighbour (--no-smooth)
      --any-input           take any file with sound or pictures that can be
                            decoded: MP4, MOV, MKV, WebM, MP3, FLAC, Ogg, ...
                            (--no-any-input: only the types listed above)

Range:
      --start TIME          start mark (default: start of the file)
      --end TIME            end mark (default: end of the file)
                            TIME is seconds (12.5) or m:ss.mmm (1:02.500)

Audio:
      --audio CODEC         none, aac or amr
      --rate HZ             8000, 16000, 22050 or 24000 (AMR: 8000 only)
      --channels N          1 or 2 (AMR: 1 only)
      --normalize           bring the sound to -16 LUFS with one gain for the
                            whole range, peaks kept below -1 dBFS (setting
                            normalize, off unless set; --no-normalize)

Video:
      --video CODEC         none, h263 or mpeg4
      --size WxH            128x96, 176x144 or 320x240 (H.263: the first two)
      --fps N               0 to 30; 0 keeps the source's frame rate

Other:
      --settings FILE       read the settings from FILE instead of ./setup.ini
  -j, --jobs N              convert up to N inputs at the same time, each of
                            them named in its messages (default 1; 0: one per
                            processor)
  -q, --quiet               no progress output
  -v, --verbose             also the decoding libraries' own notices
  -h, --help                show this help and exit
      --version             show the version and exit

Exit status:
  0  every input was converted
  1  a conversion failed or was interrupted (its message is on stderr)
  2  usage error, an input refused by the type check, or a --start at or
     beyond the end of an input

Ctrl-C (or SIGTERM, SIGHUP) stops the run: the running conversions are
aborted, their unfinished files are not written, and no further input is
started. A second one ends the program at once. Either way no temporary file
remains, and files of an earlier run keep their content unless a new one
replaced them whole.

Examples:
  zel-convert clip.wmv
  zel-convert --container 3gp --video mpeg4 --size 176x144 --fps 15 clip.wmv
  zel-convert --split 10 --report -o out/ talk.avi
  zel-convert -j 0 -q -o out/ *.wmv
)";
}

}  // namespace zel::cli
