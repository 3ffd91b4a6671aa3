#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "common/MediaFixtures.h"
#include "convert/ConversionParameters.h"
#include "convert/StillCapture.h"
#include "source/MediaSource.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::RecordingNotifier;
using test::TempDir;

constexpr std::int64_t kPositionHns = 15'004'567;  // 1.5004567 s: "00m01s500"

TEST(StillImageName, MinutesSecondsMilliseconds) {
  const struct {
    std::int64_t positionHns;
    const char* name;
  } cases[] = {{834'560'000, "01m23s456"},
               {37'230'040'000, "62m03s004"},  // 1:02:03.004
               {60'050'070'000, "100m05s007"},
               {9'000'000'000'000'000'000, "15000000000m00s000"}};
  for (const auto& c : cases) EXPECT_EQ(StillImageName(c.positionHns), c.name);
}

TEST(StillCaptureSize, ListWidthOrDisplaySize) {
  EXPECT_EQ(StillCaptureSize(0, 383, 288), (StillSize{383, 288}));
  EXPECT_EQ(StillCaptureSize(1, 383, 288), (StillSize{64, 48}));
  EXPECT_EQ(StillCaptureSize(2, 383, 288), (StillSize{128, 96}));
  EXPECT_EQ(StillCaptureSize(7, 320, 240), (StillSize{320, 240}));  // outside the list
}

class StillCaptureCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    media_ = new TempDir;
    // red above blue, so that rows taken upside down or at a wrong width show
    for (auto [name, w, h] : {std::tuple{"vga.wmv", 640, 240}, std::tuple{"qvga.wmv", 320, 120}}) {
      const std::string half = std::to_string(w) + "x" + std::to_string(h);
      test::MakeMedia({"-f", "lavfi", "-i",
                       "color=c=red:s=" + half + ":r=25:d=2[a];color=c=blue:s=" + half +
                           ":r=25:d=2[b];[a][b]vstack[out0]",
                       "-c:v", "wmv2", "-q:v", "2", media_->file(name)});
    }
    test::MakeMedia({"-f", "lavfi", "-i", "sine=duration=2", media_->file("tone.wav")});
  }
  static void TearDownTestSuite() { delete media_; }

  void Open(const char* name) {
    ASSERT_EQ(preview_.OpenPreview(media_->file(name), nullptr, notifier_), 1);
    ASSERT_EQ(preview_.ShowFrameAt(kPositionHns), preview_.previewInfo().hasVideo ? 1 : 0);
  }
  CaptureCommandResult Capture(int capturesize, const std::string& folder, bool playing = false) {
    return CaptureCommand(preview_, state_, params_, capturesize, folder, work_.path().string(),
                          playing, notifier_);
  }
  std::set<std::string> Files(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
    return names;
  }

  static TempDir* media_;
  TempDir out_, work_;
  MediaSource preview_;
  RecordingNotifier notifier_;
  ConversionState state_;
  ConversionParameters params_;
};
TempDir* StillCaptureCommand::media_ = nullptr;

TEST_F(StillCaptureCommand, SavesThePictureAtTheCaptureSize) {
  const struct {
    const char* file;
    int capturesize;
    bool playing;
    int width, height;
  } cases[] = {{"vga.wmv", 0, false, 383, 288},  // the display size of 640x480
               {"vga.wmv", 1, true, 64, 48},
               {"qvga.wmv", 2, false, 128, 96},
               {"qvga.wmv", 0, false, 320, 240}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " size " + std::to_string(c.capturesize));
    TempDir out;
    RecordingNotifier notifier;
    const std::string users = out.file("00m01s500.bmp");  // not ours: stays as it is
    test::WriteFileBytes(users, {'m', 'i', 'n', 'e'});
    Open(c.file);
    const CaptureCommandResult r = CaptureCommand(preview_, state_, params_, c.capturesize,
                                                  out.path(), work_.path(), c.playing, notifier);
    EXPECT_EQ(r.result, StillCaptureResult::kWritten);
    EXPECT_EQ(r.cursorMs, 1500);
    EXPECT_EQ(notifier.messages(), c.playing ? std::vector<std::string>{}
                                             : std::vector<std::string>{text::kStillCaptured});
    EXPECT_EQ(params_.thumbWidth, c.width);
    EXPECT_EQ(params_.thumbHeight, c.height);
    EXPECT_FALSE(state_.rgb24Input);  // describes the conversion's frames, not ours
    EXPECT_EQ(Files(out.path()), (std::set<std::string>{"00m01s500.bmp", "00m01s500.jpg"}));
    EXPECT_EQ(test::ReadFileText(users), "mine");
    EXPECT_TRUE(Files(work_.path()).empty());
    const std::string jpeg = out.file("00m01s500.jpg");
    EXPECT_EQ(test::Probe(jpeg, "stream=width,height"),
              std::to_string(c.width) + "," + std::to_string(c.height));
    // red above blue, read back as top-down RGB
    const test::CommandResult raw = test::RunCommand(
        {"ffmpeg", "-v", "error", "-i", jpeg, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(raw.out.size(), std::size_t(c.width) * c.height * 3);
    const auto at = [&](int y) { return raw.out.data() + (y * c.width + c.width / 2) * 3; };
    EXPECT_GT(std::uint8_t(at(c.height / 4)[0]), 200);
    EXPECT_LT(std::uint8_t(at(c.height / 4)[2]), 60);
    EXPECT_LT(std::uint8_t(at(c.height * 3 / 4)[0]), 60);
    EXPECT_GT(std::uint8_t(at(c.height * 3 / 4)[2]), 200);
  }
}

TEST_F(StillCaptureCommand, FailuresSaySoAndLeaveNoFiles) {
  Open("qvga.wmv");
  fs::create_directory(out_.file("00m01s500.jpg"));  // a folder where the image would go
  const struct {
    std::string folder;
    StillCaptureResult result;
  } cases[] = {{out_.file("missing"), StillCaptureResult::kNoFolder},
               {"", StillCaptureResult::kNoFolder},
               {out_.path().string(), StillCaptureResult::kNotWritten}};
  for (const auto& c : cases) {
    RecordingNotifier notifier;
    const CaptureCommandResult r =
        CaptureCommand(preview_, state_, params_, 1, c.folder, work_.path(), false, notifier);
    EXPECT_EQ(r.result, c.result) << c.folder;
    EXPECT_EQ(notifier.messages(), std::vector<std::string>{text::kStillNotCaptured});
  }
  EXPECT_TRUE(fs::is_directory(out_.file("00m01s500.jpg")));
  EXPECT_EQ(Files(out_.path()), std::set<std::string>{"00m01s500.jpg"});
  EXPECT_TRUE(Files(work_.path()).empty());
  EXPECT_FALSE(CaptureTookPicture(StillCaptureResult::kNoFolder));
  EXPECT_TRUE(CaptureTookPicture(StillCaptureResult::kNotWritten));
}

TEST_F(StillCaptureCommand, RefusedDuringAConversion) {
  Open("qvga.wmv");
  state_.converting = true;
  const CaptureCommandResult r = Capture(1, out_.path());
  EXPECT_TRUE(r.refused);
  EXPECT_EQ(notifier_.messages(), (std::vector<std::string>{text::kStillRefusedWhileConverting,
                                                            text::kStillNotCaptured}));
  EXPECT_TRUE(Files(out_.path()).empty());
  EXPECT_EQ(params_.thumbWidth, 0);
}

TEST_F(StillCaptureCommand, NothingWithoutPictures) {
  EXPECT_EQ(Capture(0, out_.path()).result, StillCaptureResult::kNothing);  // nothing open
  Open("tone.wav");
  state_.converting = true;  // no refusal either: there is nothing to capture
  EXPECT_EQ(Capture(0, out_.path()).result, StillCaptureResult::kNothing);
  EXPECT_TRUE(notifier_.messages().empty());
  EXPECT_TRUE(Files(out_.path()).empty());
}

}  // namespace
}  // namespace zel
