// The limits of the file format: chunk offsets and box sizes are 32-bit.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "container/ThreeGpWriter.h"

namespace zel {
namespace {

// A store whose samples add up to more than 4 GiB cannot be written: its
// offsets would wrap. The total must be seen whole, not cut to 32 bits (here
// it would be cut to 48 bytes and pass).
TEST(ThreeGpLimitsTest, MoreThanFourGibibytesOfSamplesIsRefused) {
  VideoTrackBuffer video;
  video.present = true;
  video.kind = VideoKind::Mpeg4;
  video.stream.frameRate = 15;
  video.stream.width = 176;
  video.stream.height = 144;
  constexpr std::size_t kBig = 0xFFFFFFF0u;
  video.samples.prepareAppend(kBig + 64);
  video.samples.commitSample(kBig);
  video.samples.appendSample(std::vector<std::uint8_t>(64, 1).data(), 64);
  ASSERT_EQ(video.samples.totalBytes(), std::uint64_t{kBig} + 64);

  test::TempDir dir;
  test::RecordingNotifier notifier;
  WriterOptions options;
  options.notifier = &notifier;
  AudioTrackBuffer noAudio;
  EXPECT_EQ(ThreeGpWriter(noAudio, video, dir.file("huge.wmv"), FileKind::ThreeGp, options), 0u);
  EXPECT_EQ(notifier.messages(),
            std::vector<std::string>{"ファイル書き込み失敗[" + dir.file("huge.3gp") + "]"});
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace zel
