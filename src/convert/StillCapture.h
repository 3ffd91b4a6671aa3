// Still capture: the frame at the preview's position saved as a JPEG in the
// output folder, named after its time in the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

class PreviewSource;
struct ConversionParameters;
struct ConversionState;

namespace text {
inline constexpr const char kStillCaptured[] = "画像をキャプチャしました。";
inline constexpr const char kStillNotCaptured[] = "画像をキャプチャできませんでした。";
// Shown before kStillNotCaptured when a capture is asked for during a conversion.
inline constexpr const char kStillRefusedWhileConverting[] = "変換中はキャンプチャできません。";
}  // namespace text

struct StillSize {
  int width = 0;
  int height = 0;
  bool keepAspect = false;  // the picture keeps its shape in black bars, as the movie does
  friend bool operator==(const StillSize&, const StillSize&) = default;
};

// The size of the saved image for the capture-size setting: its width
// (64 or 128) and three quarters of it, or for "変更なし" the display size
// that the preview reports.
StillSize StillCaptureSize(int capturesize, int displayWidth, int displayHeight);

// "%02dm%02ds%03d" of a position in 100-ns units: minutes (all their digits
// beyond 99), seconds and milliseconds, truncated. 83.456 s is "01m23s456".
std::string StillImageName(std::int64_t positionHns);

enum class StillCaptureResult {
  kNothing,     // no file in the preview, or one without video: nothing to say
  kNoFolder,    // the output folder is missing (or not given)
  kNoPicture,   // the preview could not decode a picture at the position
  kNotWritten,  // the picture was taken but its JPEG could not be written
  kWritten,
};

// Takes the picture at positionHns from the preview (which then shows it and
// stands still there) and writes outputFolder/<StillImageName>.jpg at size,
// through a temporary BMP in workFolder (the program's private work folder,
// which must be given: a BMP beside the image could meet a user's file).
// An earlier image of the same name is replaced whole.
StillCaptureResult CaptureStill(PreviewSource& preview, std::int64_t positionHns,
                                const std::string& outputFolder, StillSize size,
                                const std::string& workFolder);

// Whether the capture went as far as taking the picture, which stops a
// playback: the window then plays on from the captured position to the end
// mark.
bool CaptureTookPicture(StillCaptureResult result);

// The message after a capture: kStillCaptured only when the image was
// written (and not while playing, when playback simply goes on);
// kStillNotCaptured for every failure; nullptr when there is nothing to say.
const char* StillCaptureMessage(StillCaptureResult result, bool playing);

struct CaptureCommandResult {
  StillCaptureResult result = StillCaptureResult::kNothing;
  std::int64_t cursorMs = 0;          // the captured position, the window's new cursor
  bool refused = false;               // a conversion was running
  std::vector<const char*> messages;  // for the window to show, in this order
};

// The Capture button: refused with its two messages during a conversion;
// otherwise the capture size goes into params.thumbWidth/thumbHeight, the
// picture at the preview's position (in whole milliseconds) is saved and
// its message given. The caller resumes playback (PlayRange from
// cursorMs to the end mark) when playing and CaptureTookPicture(result).
CaptureCommandResult CaptureCommand(PreviewSource& preview, const ConversionState& state,
                                    ConversionParameters& params, int capturesize,
                                    const std::string& outputFolder, const std::string& workFolder,
                                    bool playing, bool keepAspect = false);

}  // namespace zel
