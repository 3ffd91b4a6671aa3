// The ends of a segment's encoding: what the video encoder still holds when
// the pictures stop, and a temporary WAV file that is not there to encode.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <string>
#include <vector>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "container/ThreeGpWriter.h"
#include "convert/AudioPath.h"
#include "convert/ConversionParameters.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"
#include "convert/WorkFiles.h"

namespace zel {
namespace {

using test::RecordingNotifier;
using test::TempDir;

// An encoder that holds pictures back (B-frames) gives them up when drained:
// they must be in the store before the files are written.
TEST(EncoderEdgesTest, HeldPicturesReachTheFileWhenDrainedBeforeWriting) {
  constexpr int kFrames = 20;
  ConversionParameters params;
  params.videoKind = VideoKind::Mpeg4;
  params.frameRate = 10;
  params.width = 176;
  params.height = 144;
  VideoEncoderContext context;
  AudioParameterBlock audioBlock;
  ResetVideoEncoderContext(context, params, audioBlock);
  context.get()->max_b_frames = 2;
  RecordingNotifier notifier;
  VideoSegmentInfo info;
  ASSERT_TRUE(SetUpVideoSegment(context, {1000000, 176, 144}, kFrames * 1000000LL, info, notifier));
  ConversionState state;
  VideoTrackBuffer video;
  VideoGrabber grabber(video, state);
  ASSERT_TRUE(grabber.OpenVideoEncoder(context, info, notifier));
  std::vector<std::uint8_t> frame(176 * 144 * 3 / 2);
  for (int n = 0; n < kFrames; ++n) {
    for (std::size_t i = 0; i < 176 * 144; ++i) frame[i] = static_cast<std::uint8_t>(i + 7 * n);
    grabber.BufferCB(n / 10.0, frame.data(), frame.size());
  }
  EXPECT_LT(video.samples.sampleCount(), static_cast<std::uint32_t>(kFrames));
  grabber.FlushVideoEncoder();
  EXPECT_GT(grabber.flushedPackets(), 0u);

  TempDir dir;
  AudioTrackBuffer noAudio;
  ASSERT_NE(ThreeGpWriter(noAudio, video, dir.file("held.wmv"), FileKind::ThreeGp), 0u);
  grabber.CloseVideoEncoder();
  EXPECT_EQ(test::Probe(dir.file("held.3gp"), "stream=nb_read_packets", {"-count_packets"}),
            std::to_string(kFrames));
}

// EncodeTemporaryWav that finds no WAV, or one without PCM, says so and
// fails, so that the driver never writes the segment as one with sound.
TEST(EncoderEdgesTest, AMissingOrEmptyTemporaryWavFailsTheEncode) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;  // empty: no file at all
    const char* message;
  } cases[] = {
      {"missing", {}, "テンポラリファイルの取得に失敗しました。"},
      {"no data tag",
       {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'},
       "m_prev_buffer_sizeサイズが0です"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    if (!c.bytes.empty()) test::WriteFileBytes(TemporaryWavPath(work.path().string(), 0), c.bytes);
    AudioParameterBlock block;
    AudioSegmentInfo info;
    SetUpAudioSegment(block, AudioKind::Aac, 8000, 1, 8000, 1, info);
    ConversionState state;
    AudioTrackBuffer audio;
    AudioEncoder encoder(audio, state);
    RecordingNotifier notifier;
    ASSERT_TRUE(encoder.OpenAudioEncoder(block, info, AudioKind::Aac, notifier));
    EXPECT_FALSE(encoder.EncodeTemporaryWav(work.path().string(), notifier));
    EXPECT_EQ(notifier.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(audio.samples.sampleCount(), 0u);
  }
}

}  // namespace
}  // namespace zel
