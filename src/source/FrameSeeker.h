#pragma once

// Finds the picture that a video stream shows at any position, as fast as a
// cursor moved by hand needs it: a demuxer and decoder of its own that stay
// where they stopped, the pictures decoded last, and the key frames seen.
//
// A FrameSeeker holds all of its state and touches nothing else (but the
// KeyFrameMemory it may share), so it can be driven from any one thread at a
// time: the window's for single frames, a playback worker for a range.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "source/LibavHandles.h"
#include "source/PictureRotation.h"
#include "source/PreviewFrame.h"
#include "source/StreamReader.h"

namespace zel {

struct DecodedPicture {
  std::int64_t timeHns = 0;  // file time, 0 at the start of the file
  av::FramePtr frame;
};

// What reading a stream teaches about its file, shared by the seekers on it.
struct KeyFrameMemory {
  std::set<std::int64_t> times;  // key frames met, by presentation time
  bool seeksLandLate = false;    // a seek came down after the key frame it was for
};

class FrameSeeker {
 public:
  FrameSeeker();
  ~FrameSeeker();
  FrameSeeker(const FrameSeeker&) = delete;
  FrameSeeker& operator=(const FrameSeeker&) = delete;

  // Opens the stream on a demuxer and decoder of its own. Pictures kept for
  // stepping back take about runBytes. memory, when given, is shared with
  // other seekers on the same stream and must outlive this one. The
  // decoder's slice threads: two for a cursor moved by hand; the
  // conversion, which decodes audio and video at once, takes one.
  bool Open(const std::string& path, int streamIndex, std::size_t runBytes,
            KeyFrameMemory* memory = nullptr, int decoderThreads = 2);
  void Close();
  bool isOpen() const { return reader_.input != nullptr; }

  // The picture at the position when the pictures decoded last hold it.
  const DecodedPicture* Cached(std::int64_t positionHns) const;
  // How far the decoder would read on from where it stands to reach the
  // position; nothing when a seek serves better.
  std::optional<std::int64_t> ReadOnDistance(std::int64_t positionHns) const;

  // The picture whose time span holds the position: the last one at or
  // before it; the first picture for positions before it, the last for
  // positions after the end (or, for SeekKind::NearestKeyFrame, one decoded
  // already that holds it, else the key picture nearest it). Null when the
  // stream gives no picture. The pointer stays valid until the next call.
  const DecodedPicture* PictureAt(std::int64_t positionHns, SeekKind kind = SeekKind::Exact);

  // The first picture after timeHns: one decoded already, or the next one
  // the decoder gives from where it stands. Reading on like this is how a
  // range plays. Null at the end of the stream. The pointer stays valid
  // until the next call.
  const DecodedPicture* PictureAfter(std::int64_t timeHns);

  // While set and true, decoding stops between packets and the call returns
  // null; the seeker then seeks afresh on its next call.
  void SetStopFlag(const std::atomic<bool>* stop);
  // The same with a test of one's own (empty: none); work, when given,
  // counts every packet read and frame decoded.
  void SetStop(std::function<bool()> shouldStop, std::atomic<std::uint64_t>* work = nullptr);

  // The stream's reader: where it stands, and why it failed.
  const StreamReader& reader() const { return reader_; }
  // Marks the stream failed with a libav error (a picture that cannot be
  // converted).
  void Fail(int error) { reader_.failure = error; }

  const PreviewCounters& counters() const { return counters_; }

 private:
  // How a pass went: the picture found; no key frame at or before the
  // position after where the seek came down; the key frame decoded from
  // shows its picture after the position (an open GOP, whose first B
  // pictures belong to the key frame before); the picture lay among those
  // the fast way left out; the file cannot be read.
  enum class Pass { Found, LandedLate, StartedLate, Overshot, Failed };

  // The passes that find the picture at positionHns (keyOnly: the first
  // picture from the key frame at or before it), seeking first or not.
  const DecodedPicture* Find(std::int64_t positionHns, bool seek, bool keyOnly);
  Pass Reposition(std::int64_t targetHns, std::int64_t positionHns, std::int64_t keyLimitHns,
                  bool fast);
  Pass DecodeKey();
  bool ReadToKey(std::int64_t targetHns, std::int64_t positionHns, std::int64_t keyLimitHns);
  Pass DecodePast(std::int64_t positionHns);
  std::int64_t FirstTarget(std::int64_t positionHns) const;
  const DecodedPicture* FromRun(std::int64_t positionHns) const;
  bool WorthReadingOn(std::int64_t positionHns) const;
  std::optional<std::int64_t> LearnedKeyAtOrBefore(std::int64_t positionHns) const;
  std::int64_t Stamp(const AVFrame* frame);
  void Keep(std::int64_t timeHns, const AVFrame* frame);
  void Forget();

  SegmentJob job_;
  StreamReader reader_;
  std::int64_t frameHns_ = kDefaultFrameHns;
  bool canSkipNonReference_ = false;
  // Consecutive pictures as they came out of the decoder since the last
  // seek, oldest first; the newest one is where the decoder stands.
  std::deque<DecodedPicture> run_;
  std::size_t runLimit_ = 2;
  std::int64_t keepSpanHns_ = 0;  // how far before a position the run reaches
  bool runFromStart_ = false;     // run_ begins with the stream's first picture
  std::int64_t startKeyHns_ = 0;  // decoding time of the key frame the run began at
  // The pass that follows a seek.
  bool fresh_ = false;       // nothing decoded since the seek
  bool skipping_ = false;    // far before the target: reference pictures only
  bool passedOver_ = false;  // pictures went by unkept while skipping
  PictureRotator rotator_;   // turns the pictures upright as they are kept
  KeyFrameMemory ownMemory_;
  KeyFrameMemory* memory_ = &ownMemory_;
  PreviewCounters counters_;
};

}  // namespace zel
