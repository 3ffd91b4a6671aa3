#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "common/MediaFixtures.h"
#include "convert/ConversionParameters.h"
#include "convert/StillCapture.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::RecordingNotifier;
using test::TempDir;

TEST(StillImageName, MinutesSecondsMilliseconds) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {834'560'000, "01m23s456"},
      {37'230'040'000, "62m03s004"},  // 1:02:03.004
      {60'050'070'000, "100m05s007"},
      {9'000'000'000'000'000'000, "15000000000m00s000"}};
  for (const auto& [positionHns, name] : cases) EXPECT_EQ(StillImageName(positionHns), name);
}

std::set<std::string> Files(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// The preview of a file, red above blue (rows taken upside down or at a
// wrong width show), at 1.5004567 s: "00m01s500".
struct Capture {
  explicit Capture(const std::string& file = "qvga.wmv", std::string size = "320x120") {
    if (file != "tone.wav") {
      const std::string half = size + ":r=25:d=2";
      path = test::Media(
          file, {"-f", "lavfi", "-i",
                 "color=c=red:s=" + half + "[a];color=c=blue:s=" + half + "[b];[a][b]vstack[out0]",
                 "-c:v", "wmv2", "-q:v", "2"});
    } else {
      path = test::Media(file, {"-f", "lavfi", "-i", "sine=duration=2"});
    }
    EXPECT_EQ(preview.OpenPreview(path, nullptr, notifier), 1);
    EXPECT_EQ(preview.ShowFrameAt(15'004'567), preview.previewInfo().hasVideo ? 1 : 0);
  }
  CaptureCommandResult Run(int capturesize, const std::string& folder, bool playing = false) {
    return CaptureCommand(preview, state, params, capturesize, folder, work.path().string(),
                          playing, notifier);
  }
  std::string path;
  TempDir out, work;
  MediaSource preview;
  RecordingNotifier notifier;
  ConversionState state;
  ConversionParameters params;
};

TEST(StillCaptureCommand, SavesThePictureAtTheCaptureSize) {
  const struct {
    const char* file;
    const char* half;
    int capturesize;
    bool playing;
    int width, height;
  } cases[] = {{"vga.wmv", "640x240", 0, false, 383, 288},  // the display size of 640x480
               {"vga.wmv", "640x240", 1, true, 64, 48},
               {"qvga.wmv", "320x120", 2, false, 128, 96},
               {"qvga.wmv", "320x120", 0, false, 320, 240},
               {"qvga.wmv", "320x120", 7, false, 320, 240}};  // outside the list: display size
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " size " + std::to_string(c.capturesize));
    Capture s(c.file, c.half);
    test::WriteFileBytes(s.out.file("00m01s500.bmp"), {'m', 'i', 'n', 'e'});  // not ours
    const CaptureCommandResult r = s.Run(c.capturesize, s.out.path(), c.playing);
    EXPECT_EQ(r.result, StillCaptureResult::kWritten);
    EXPECT_EQ(r.cursorMs, 1500);
    EXPECT_EQ(s.notifier.messages(), c.playing ? std::vector<std::string>{}
                                               : std::vector<std::string>{text::kStillCaptured});
    EXPECT_EQ(std::make_pair(s.params.thumbWidth, s.params.thumbHeight),
              std::make_pair(c.width, c.height));
    EXPECT_FALSE(s.state.rgb24Input);  // describes the conversion's frames, not ours
    EXPECT_EQ(Files(s.out.path()), (std::set<std::string>{"00m01s500.bmp", "00m01s500.jpg"}));
    EXPECT_EQ(test::ReadFileText(s.out.file("00m01s500.bmp")), "mine");
    EXPECT_TRUE(Files(s.work.path()).empty());
    // red above blue, read back as top-down RGB
    const std::string raw =
        test::RunCommand({"ffmpeg", "-v", "error", "-i", s.out.file("00m01s500.jpg"), "-f",
                          "rawvideo", "-pix_fmt", "rgb24", "-"})
            .out;
    ASSERT_EQ(raw.size(), std::size_t(c.width) * c.height * 3);
    const auto at = [&](int y, int i) {
      return static_cast<std::uint8_t>(raw[(y * c.width + c.width / 2) * 3 + i]);
    };
    EXPECT_TRUE(at(c.height / 4, 0) > 200 && at(c.height / 4, 2) < 60);
    EXPECT_TRUE(at(c.height * 3 / 4, 0) < 60 && at(c.height * 3 / 4, 2) > 200);
  }
}

TEST(StillCaptureCommand, FailuresSaySoAndLeaveNoFiles) {
  Capture s;
  fs::create_directory(s.out.file("00m01s500.jpg"));  // a folder where the image would go
  const std::pair<std::string, StillCaptureResult> cases[] = {
      {s.out.file("missing"), StillCaptureResult::kNoFolder},
      {"", StillCaptureResult::kNoFolder},
      {s.out.path().string(), StillCaptureResult::kNotWritten}};
  for (const auto& [folder, result] : cases) EXPECT_EQ(s.Run(1, folder).result, result) << folder;
  EXPECT_EQ(s.notifier.messages(), std::vector<std::string>(3, text::kStillNotCaptured));
  EXPECT_EQ(Files(s.out.path()), std::set<std::string>{"00m01s500.jpg"});
  EXPECT_TRUE(Files(s.work.path()).empty());
  EXPECT_FALSE(CaptureTookPicture(StillCaptureResult::kNoFolder));
  EXPECT_TRUE(CaptureTookPicture(StillCaptureResult::kNotWritten));
}

// A capture is refused while converting; without pictures there is nothing
// to capture or refuse.
TEST(StillCaptureCommand, RefusedDuringAConversionNothingWithoutPictures) {
  Capture s;
  s.state.converting = true;
  EXPECT_TRUE(s.Run(1, s.out.path()).refused);
  EXPECT_EQ(s.notifier.messages(), (std::vector<std::string>{text::kStillRefusedWhileConverting,
                                                             text::kStillNotCaptured}));
  EXPECT_EQ(s.params.thumbWidth, 0);
  Capture tone("tone.wav");
  tone.state.converting = true;
  EXPECT_EQ(tone.Run(0, tone.out.path()).result, StillCaptureResult::kNothing);
  MediaSource nothing;
  EXPECT_EQ(CaptureCommand(nothing, tone.state, tone.params, 0, tone.out.path(), tone.work.path(),
                           false, tone.notifier)
                .result,
            StillCaptureResult::kNothing);
  EXPECT_TRUE(tone.notifier.messages().empty());
  EXPECT_TRUE(Files(s.out.path()).empty() && Files(tone.out.path()).empty());
}

}  // namespace
}  // namespace zel
