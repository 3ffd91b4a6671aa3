#include "convert/ConversionDriver.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "General/Log.h"
#include "General/Notifier.h"
#include "General/PathJoin.h"
#include "General/WorkFolder.h"
#include "General/Worker.h"
#include "container/ThreeGpWriter.h"
#include "convert/AudioPath.h"
#include "convert/ConversionParameters.h"
#include "convert/Loudness.h"
#include "convert/Messages.h"
#include "convert/Report.h"
#include "convert/SegmentPlan.h"
#include "convert/SizeLimit.h"
#include "convert/Thumbnail.h"
#include "convert/VideoEncoderContext.h"
#include "convert/VideoPath.h"
#include "convert/WorkFiles.h"
#include "settings/ConversionSettings.h"
#include "settings/NamePattern.h"
#include "source/MediaSource.h"

namespace zel {

namespace {

constexpr const char* kReportName = "thumbnail.html";
constexpr FileKind kFileKinds[] = {FileKind::ThreeGp, FileKind::ThreeG2};

// Whether a file of that path can be made in its folder: a name within the
// folder's NAME_MAX and a path within PATH_MAX.
bool NameFits(const std::string& path) {
  const std::string name = PathFileName(path);
  const std::string folder = path.substr(0, path.size() - name.size());
  const long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return name.size() <= static_cast<std::size_t>(nameMax > 0 ? nameMax : NAME_MAX) &&
         path.size() < PATH_MAX;
}

// Runs a function when the scope ends, whichever way it ends.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

// A segment whose files are being written while the next one decodes and
// encodes: its encoded samples (swapped out of the job's stores, so that the
// next segment's encoders fill those), and what its completion reports.
struct FinishingSegment {
  bool active = false;
  int index = 0;
  SegmentBounds bounds;
  std::string outputBase;
  VideoSegmentInfo videoInfo;
  AudioSegmentInfo audioInfo;
  std::vector<std::uint8_t> firstFrame;  // the thumbnail's picture; empty: none
  AudioParameterBlock audioBlock;        // the sound's parameters as they were encoded
  AudioTrackBuffer audio;
  VideoTrackBuffer video;
  // Set by the writing: the files written, in order, and what stopped it.
  std::vector<std::string> written;
  Fault fault;
  std::exception_ptr thrown;
};

// Everything one job holds between its segments.
class Conversion {
 public:
  Conversion(const std::string& inputPath, const std::string& workingDirectory, ConversionJob& job,
             ConversionSummary& summary)
      : input_(inputPath),
        workDir_(workingDirectory),
        job_(job),
        summary_(summary),
        grabber_(video_, job.state),
        encoder_(audio_, job.state) {}

  int run();

 private:
  bool convertSegment(const SegmentBounds& bounds);
  Fault setUpVideo(const SegmentBounds& bounds, VideoSegmentInfo& videoInfo);
  std::string decodingFailure(MediaSource::WaitResult wait, bool wavWritten,
                              const std::string& failureText);
  bool fitSizeLimit(const SegmentBounds& bounds, VideoSegmentInfo& videoInfo,
                    const std::string& outputBase);
  bool encodePictures(const SegmentBounds& bounds, VideoSegmentInfo& videoInfo, int bitRate);
  bool tooLarge(std::uint64_t smallestBytes);
  void handOver(int index, const SegmentBounds& bounds, const std::string& outputBase,
                const VideoSegmentInfo& videoInfo, const AudioSegmentInfo& audioInfo);
  void writeContainers(FinishingSegment& segment);
  bool settle();
  bool writeThumbnail(const VideoSegmentInfo& videoInfo, const std::vector<std::uint8_t>& frame,
                      const std::string& thumbnailBase, bool& written);
  void reportProgress(const SegmentBounds& bounds, std::int64_t positionHns, bool finished,
                      int index);
  void reportProgress(const SegmentBounds& bounds, std::int64_t positionHns, bool finished) {
    reportProgress(bounds, positionHns, finished, job_.state.segmentIndex);
  }
  bool checkPlannedOutputs();
  bool measureLoudness();
  bool refuse(const std::string& message);
  bool fail(const Fault& fault) {
    job_.notifier.showMessage(MessageFor(fault));
    return false;
  }
  // The file the user named, not the WMV made from an AVI input.
  const std::string& named() const { return job_.namedInput.empty() ? input_ : job_.namedInput; }
  bool wants(FileKind kind) const { return kind == FileKind::ThreeGp ? want3gp_ : want3g2_; }

  const std::string& input_;
  const std::string& workDir_;
  ConversionJob& job_;
  ConversionSummary& summary_;

  AudioTrackBuffer audio_;
  VideoTrackBuffer video_;
  VideoGrabber grabber_;
  AudioEncoder encoder_;

  bool want3gp_ = false;
  bool want3g2_ = false;
  int segmentCount_ = 1;
  int limitedBitRate_ = 0;  // the size limit's picture rate of the segment; 0 without one
  std::string reportPath_;
  bool reportStarted_ = false;
  ReportLock reportLock_;
  bool soundStarted_ = false;  // some sound has been decoded in the job's segments so far
  FinishingSegment finishing_;
  Worker writer_;  // last: it ends (and finishes its work) before what that work uses goes
};

int Conversion::run() {
  ConversionParameters& params = job_.params;
  MediaSource& source = job_.source;
  want3gp_ = params.containerMode == ContainerMode::Both ||
             params.containerMode == ContainerMode::ThreeGpOnly;
  want3g2_ = params.containerMode == ContainerMode::Both ||
             params.containerMode == ContainerMode::ThreeG2Only;

  if (source.BuildConversionGraph(input_, params.audioKind != AudioKind::None,
                                  params.videoKind != VideoKind::None) != OpenResult::Opened) {
    job_.notifier.showMessage(text::kRenderFileError);
    return 0;
  }
  // Whatever way the job ends, the source lets go of the file and of us.
  ScopeExit close([&source] { source.CloseConversion(); });
  const MediaInfo& info = source.info();
  job_.range.duration = info.durationHns;
  audio_.present = info.hasAudio;
  audio_.kind = params.audioKind;
  video_.present = info.hasVideo;
  video_.kind = params.videoKind;
  if (info.hasVideo) source.SetVideoSink(&grabber_);
  source.SetAbortFlag(&job_.state.abortRequested);
  if (const std::string refused = RefusedStreamsMessage(info, input_); !refused.empty()) {
    refuse(refused);
    return 0;
  }
  summary_.hadStreams = info.hasAudio || info.hasVideo;
  if (!summary_.hadStreams) return 1;  // the caller tells that nothing was converted

  ClampMarks(job_.range);
  if (job_.range.end <= job_.range.start) {
    // Nothing to convert: an empty range would only give empty files that
    // no player opens.
    job_.notifier.showMessage(text::kEmptyRange);
    return 0;
  }
  // Each job starts a new report: its first block replaces what the file
  // held, so a job that fails before then leaves an earlier report whole.
  reportPath_ = JoinPath(job_.settings.result, kReportName);

  job_.state.segmentIndex = 0;
  segmentCount_ = SegmentCount(job_.settings.splittime, job_.range);
  if (!checkPlannedOutputs()) return 0;
  // Two jobs writing a report into one folder would mix their pages.
  if (params.reportEnabled &&
      !reportLock_.Acquire(job_.settings.result, job_.state.abortRequested, [this] {
        job_.notifier.showWarning(std::string(text::kReportBusyPrefix) + job_.settings.result +
                                  "]");
      })) {
    return 1;  // aborted while waiting
  }
  // Once per job, before its first segment: a box in every segment would
  // halt a split job as many times.
  if (audio_.present && want3g2_ && params.sampleRate == 8000) {
    job_.notifier.showWarning(text::k3g2At8000Warning);
  }
  if (params.normalize && audio_.present && !measureLoudness()) {
    return job_.state.abortRequested ? 1 : 0;
  }
  for (;;) {
    if (job_.state.abortRequested) break;
    const SegmentBounds bounds =
        SegmentAt(job_.state.segmentIndex, job_.settings.splittime, job_.range);
    if (!convertSegment(bounds)) return 0;
    ++summary_.segments;
    job_.state.segmentIndex++;
    if (bounds.last) break;
  }
  return settle() ? 1 : 0;
}

bool Conversion::refuse(const std::string& message) {
  job_.notifier.showMessage(message);
  summary_.refused = true;
  return false;
}

// Before anything is converted, every file the job will write is checked:
// none may be its own input (a 3GP input converted into its own folder, or
// a link to one named as the input), nor another input's output of the same
// run, and each must have a name the folder can hold. No segment may be
// longer than the file's durations can hold, nor the job have more than
// kMaxSegments of them.
bool Conversion::checkPlannedOutputs() {
  const std::string& named = this->named();
  if (segmentCount_ > kMaxSegments) {
    return refuse(std::string(text::kTooManySegmentsPrefix) + named + "]");
  }
  const std::vector<std::string> outputs = PlannedOutputs(
      input_, job_.settings, segmentCount_, job_.params.reportEnabled && video_.present);
  for (const std::string& path : outputs) {
    if (IsSameFile(path, input_) || IsSameFile(path, job_.namedInput)) {
      job_.notifier.showMessage(std::string(text::kOutputIsInputPrefix) + named + "]");
      return false;
    }
    if (job_.takenOutputs != nullptr && job_.takenOutputs->count(path) != 0) {
      summary_.takenOutput = path;
      return false;
    }
    if (!NameFits(path)) {
      return refuse(std::string(text::kOutputNameTooLongPrefix) + path + "] (" +
                    std::strerror(ENAMETOOLONG) + ")");
    }
  }
  for (int index = 0; index < segmentCount_; ++index) {
    const SegmentBounds bounds = SegmentAt(index, job_.settings.splittime, job_.range);
    if (bounds.end - bounds.start > kMaxTrackDurationHns) {
      return refuse(std::string(text::kSegmentTooLongPrefix) + named + "]");
    }
  }
  return true;
}

// The first pass of normalize: the whole range's sound, as the encoder will
// get it, measured once, so that every segment gets the same gain.
bool Conversion::measureLoudness() {
  const MediaInfo& info = job_.source.info();
  AudioParameterBlock block;
  AudioSegmentInfo format;
  SetUpAudioSegment(block, job_.params.audioKind, job_.params.sampleRate, job_.params.channels,
                    info.sampleRate, info.channels, format);
  LoudnessMeter meter(format.targetRate, format.targetChannels);
  const std::size_t frameBytes = 2 * static_cast<std::size_t>(format.targetChannels);
  std::string failure;
  const MediaSource::WaitResult wait = job_.source.DecodeSound(
      job_.range.start, job_.range.end, format.targetRate, format.targetChannels,
      [&](const std::uint8_t* pcm, std::size_t bytes) { meter.Add(pcm, bytes / frameBytes); },
      failure);
  if (wait == MediaSource::WaitResult::Delivered) {
    encoder_.SetGain(NormalizationGain(meter.IntegratedLufs()));
    return true;
  }
  // The first pass ends Delivered, Aborted (the caller sees the flag),
  // Undecodable or ReadFailed.
  if (const std::string message = decodingFailure(wait, true, failure); !message.empty()) {
    job_.notifier.showMessage(message);
  }
  return false;
}

void Conversion::reportProgress(const SegmentBounds& bounds, std::int64_t positionHns,
                                bool finished, int index) {
  ConversionProgress p;
  p.segmentIndex = index;
  p.segmentCount = segmentCount_;
  p.segmentLengthHns = bounds.end - bounds.start;
  p.segmentPositionHns = positionHns;
  p.doneHns = bounds.start - job_.range.start + positionHns;
  p.totalHns = job_.range.end - job_.range.start;
  p.segmentFinished = finished;
  p.videoBitRate = limitedBitRate_;
  job_.notifier.reportProgress(p);
}

bool Conversion::convertSegment(const SegmentBounds& bounds) {
  ConversionParameters& params = job_.params;
  MediaSource& source = job_.source;
  const MediaInfo& info = source.info();
  const int index = job_.state.segmentIndex;
  const std::int64_t length = bounds.end - bounds.start;
  const bool splitting = job_.settings.splittime > 0;
  Notifier& notifier = job_.notifier;

  // The segment before may still be writing its files: this one starts
  // meanwhile, and says nothing before that one has settled (false: it
  // failed, with its message, and this one says nothing at all).
  // Its pictures' captions wait for that too.
  const CaptionSink* captions = job_.state.statusWindow;
  if (finishing_.active) job_.state.statusWindow = nullptr;
  std::optional<bool> begun;
  const auto begin = [&] {
    if (!begun) {
      begun = settle();
      job_.state.statusWindow = captions;
      if (*begun) reportProgress(bounds, 0, false);
      limitedBitRate_ = 0;
    }
    return *begun;
  };
  // With nothing before it to wait for, it begins at once.
  if (!finishing_.active) begin();
  source.SetSegment(bounds.start, bounds.end);

  VideoSegmentInfo videoInfo;
  // With a size limit the pictures are encoded once the sound is, at a rate
  // chosen from its size.
  const bool limited = params.maxSizeBytes != 0;
  if (video_.present) {
    if (const Fault fault = setUpVideo(bounds, videoInfo)) return begin() && fail(fault);
    if (!limited) {
      if (const Fault fault = grabber_.OpenVideoEncoder(job_.videoContext, videoInfo)) {
        return begin() && fail(fault);
      }
    }
    source.SetVideoSink(limited ? nullptr : &grabber_);
  }
  AudioSegmentInfo audioInfo;
  if (audio_.present) {
    SetUpAudioSegment(job_.audioBlock, params.audioKind, params.sampleRate, params.channels,
                      info.sampleRate, info.channels, audioInfo);
    // The source resamples and mixes: the WAV file holds what the encoder takes.
    source.SetPcmFormat(audioInfo.targetRate, audioInfo.targetChannels);
  }

  const std::string wavPath = TemporaryWavPath(workDir_, index);
  // However the segment ends, its encoders close and its WAV file goes.
  ScopeExit cleanup([&] {
    if (audio_.present) encoder_.CloseAudioEncoder();
    if (video_.present) grabber_.CloseVideoEncoder();
    RemoveWorkFile(wavPath);
  });
  source.SetWavFileName(wavPath);
  if (!source.Run()) {
    if (begin()) notifier.showMessage(text::kTemporaryWavFailure);
    return false;
  }
  // The next segment decodes while this one is encoded and written. Under a
  // size limit the pictures are decoded again for each try, which would drop
  // a segment decoded ahead.
  if (!bounds.last && !limited) {
    const SegmentBounds next = SegmentAt(index + 1, job_.settings.splittime, job_.range);
    source.SetNextSegment(next.start, next.end, TemporaryWavPath(workDir_, index + 1));
  }
  // The audio encoder is first needed once the segment has been decoded; it
  // opens (FAAC's set-up is costly) while the streaming threads decode.
  if (audio_.present) {
    if (const Fault fault =
            encoder_.OpenAudioEncoder(job_.audioBlock, audioInfo, params.audioKind)) {
      source.Stop();
      return begin() && fail(fault);
    }
  }
  // The sound is encoded as soon as its WAV file is whole, while the
  // pictures still decode; its fault waits for its turn.
  std::optional<Fault> sound;
  const auto encodeSound = [&] {
    if (!sound && audio_.present && source.soundWritten() && !job_.state.abortRequested) {
      sound = encoder_.EncodeTemporaryWav(workDir_, false);
    }
  };
  encodeSound();
  // The segment before settles once its files are written: waiting for them
  // here would leave this one's end unnoticed, and its encoder idle, meanwhile.
  const MediaSource::WaitResult wait = source.WaitForSegment(job_.stallPeriod, [&] {
    encodeSound();
    if ((begun || writer_.Done()) && begin()) {
      reportProgress(bounds, source.segmentPositionHns(), false);
    }
  });
  const bool soundDecoded = source.soundDecoded();
  // Stopping starts the next segment's decoding: that one need not wait for
  // the files of the one before this.
  const bool wavWritten = source.Stop();
  if (!begin()) return false;
  if (const std::string failure = decodingFailure(wait, wavWritten, source.failureText());
      !failure.empty()) {
    notifier.showMessage(failure);
    return false;
  }
  const bool aborted = job_.state.abortRequested;
  soundStarted_ = soundStarted_ || soundDecoded;

  // The encoder may still hold pictures: they belong in this segment's files.
  if (video_.present) grabber_.FlushVideoEncoder();
  if (audio_.present && !aborted) {
    if (sound) encoder_.ShowCaption();
    if (const Fault fault = sound ? *sound : encoder_.EncodeTemporaryWav(workDir_)) {
      return fail(fault);
    }
    // under a second of sound gives no track
    if (audio_.samples.sampleCount() == 0 && soundStarted_) summary_.soundTooShort = true;
  }
  const std::string outputBase = SegmentOutputBase(input_, job_.settings.result, splitting, index);
  if (limited && !aborted && !fitSizeLimit(bounds, videoInfo, outputBase)) return false;

  // A segment in which neither stream delivered anything (the last moments
  // of a file whose streams end before its declared length) would give
  // files that no player opens: it has no files, no thumbnail and no place
  // in the report. Sound counts once some has been decoded, in this segment
  // or one before: until then it is silence that the source made up (a
  // stream whose every packet is damaged gives nothing else).
  const bool holdsNothing =
      (!video_.present || video_.samples.sampleCount() == 0) &&
      (!audio_.present || audio_.samples.sampleCount() == 0 || !soundStarted_);
  if (!aborted && holdsNothing) {
    reportProgress(bounds, length, false);
    return true;
  }

  // An aborted segment is incomplete: its files are not written, and files
  // of that name from an earlier run stay as they were; so it has no
  // thumbnail and no place in the report either.
  if (aborted) return true;
  handOver(index, bounds, outputBase, videoInfo, audioInfo);
  return true;
}

// The segment's files are written on the writer's thread while the next
// segment decodes and encodes; its samples leave the job's stores, which the
// next segment's encoders fill.
void Conversion::handOver(int index, const SegmentBounds& bounds, const std::string& outputBase,
                          const VideoSegmentInfo& videoInfo, const AudioSegmentInfo& audioInfo) {
  FinishingSegment& f = finishing_;
  f.active = true;
  f.index = index;
  f.bounds = bounds;
  f.outputBase = outputBase;
  f.videoInfo = videoInfo;
  f.audioInfo = audioInfo;
  f.firstFrame.clear();
  if (job_.params.reportEnabled && video_.present && grabber_.hasFirstFrame()) {
    f.firstFrame = grabber_.firstFrame();
  }
  f.audioBlock = job_.audioBlock;
  f.audio.present = audio_.present;
  f.audio.kind = audio_.kind;
  f.audio.params = &f.audioBlock;
  std::swap(f.audio.samples, audio_.samples);
  f.video.present = video_.present;
  f.video.kind = video_.kind;
  f.video.stream = video_.stream;
  std::swap(f.video.samples, video_.samples);
  std::swap(f.video.syncSamples, video_.syncSamples);
  f.written.clear();
  f.fault = {};
  f.thrown = nullptr;
  const auto write = [this] {
    try {
      writeContainers(finishing_);
    } catch (...) {
      finishing_.thrown = std::current_exception();
    }
  };
  // Without the overlap (ZEL_SINGLE_THREAD=1) the files are written at once.
  if (OverlappedConversion()) {
    writer_.Post(write);
  } else {
    write();
  }
}

// Waits for the segment handed over last to be written and completes it as
// the user sees it: the files written, its thumbnail, its block of the
// report, its progress. False when it failed (with its message).
bool Conversion::settle() {
  FinishingSegment& f = finishing_;
  if (!f.active) return true;
  writer_.Wait();
  f.active = false;
  if (f.thrown) std::rethrow_exception(f.thrown);
  summary_.filesWritten += static_cast<int>(f.written.size());
  summary_.outputs.insert(summary_.outputs.end(), f.written.begin(), f.written.end());
  if (f.fault) return fail(f.fault);
  const ConversionParameters& params = job_.params;
  const SegmentBounds& bounds = f.bounds;
  const VideoSegmentInfo& videoInfo = f.videoInfo;
  const AudioSegmentInfo& audioInfo = f.audioInfo;
  const std::string& outputBase = f.outputBase;
  const std::string thumbnailBase =
      JoinPath(job_.settings.result, FormatSegmentName(job_.settings.edit, f.index));
  bool thumbnailWritten = false;
  if (params.reportEnabled && video_.present &&
      !writeThumbnail(videoInfo, f.firstFrame, thumbnailBase, thumbnailWritten)) {
    return false;
  }

  if (params.reportEnabled) {
    ReportSegment r;
    r.outputBasePath = outputBase;
    r.inputDurationHns = job_.range.duration;
    r.startHns = bounds.start;
    r.endHns = bounds.end;
    r.hasAudio = audio_.present;
    r.sourceRate = audioInfo.sourceRate;
    r.sourceChannels = audioInfo.sourceChannels;
    r.targetRate = audioInfo.targetRate;
    r.targetChannels = audioInfo.targetChannels;
    r.audioBitRate = audioInfo.bitRate;
    r.hasVideo = video_.present;
    r.sourceFrameRate = videoInfo.sourceFrameRate;
    r.sourceWidth = videoInfo.sourceWidth;
    r.sourceHeight = videoInfo.sourceHeight;
    r.targetFrameRate = videoInfo.targetFrameRate;
    r.targetWidth = videoInfo.targetWidth;
    r.targetHeight = videoInfo.targetHeight;
    r.videoBitRate = videoInfo.bitRate;
    // The page shows the thumbnail only when there is one.
    r.containerSelected = (want3gp_ || want3g2_) && thumbnailWritten;
    r.thumbnailBasePath = thumbnailBase;
    if (!AppendReport(reportPath_, r, /*startNew=*/!reportStarted_)) {
      job_.notifier.showMessage(std::string(text::kReportFailurePrefix) + reportPath_ + "]");
      return false;
    }
    reportStarted_ = true;
  }
  reportProgress(bounds, bounds.end - bounds.start, true, f.index);
  return true;
}

// Completes the video encoder context for the segment and describes it.
Fault Conversion::setUpVideo(const SegmentBounds& bounds, VideoSegmentInfo& videoInfo) {
  const MediaInfo& info = job_.source.info();
  const VideoSourceFormat format{info.frameDurationHns, info.width,          info.height,
                                 info.frameRate,        info.frameRateNum,   info.frameRateDen,
                                 info.sampleAspectNum,  info.sampleAspectDen};
  const VideoScaling scaling{job_.params.keepAspect, job_.params.smoothScale};
  return SetUpVideoSegment(job_.videoContext, format, bounds.end - bounds.start, videoInfo, scaling,
                           bounds.start - job_.range.start);
}

// The message for a segment whose decoding did not end well; empty when it
// did (or was aborted).
std::string Conversion::decodingFailure(MediaSource::WaitResult wait, bool wavWritten,
                                        const std::string& failureText) {
  using Wait = MediaSource::WaitResult;
  switch (wait) {
    case Wait::Stalled:
      return text::kDecodingStalled;
    case Wait::Undecodable:
      return std::string(text::kUndecodableSoundPrefix) + input_ + "]";
    case Wait::Broken:
      return std::string(text::kConversionErrorPrefix) + failureText + "]";
    case Wait::ReadFailed:
      return std::string(text::kReadFailurePrefix) + input_ + "] (" + failureText + ")";
    case Wait::EndedEarly:
      return std::string(text::kEndedEarlyPrefix) + input_ + "]";
    case Wait::Failed:
      return text::kTemporaryWavWriteFailure;
    case Wait::Delivered:
    case Wait::Aborted:
      break;
  }
  return wavWritten ? std::string() : text::kTemporaryWavWriteFailure;
}

// With a size limit, once the sound is encoded: the pictures are encoded at
// a rate that keeps each of the segment's files within the limit, or the
// segment fails (nothing written) naming the smallest size it could reach.
bool Conversion::fitSizeLimit(const SegmentBounds& bounds, VideoSegmentInfo& videoInfo,
                              const std::string& outputBase) {
  const std::uint64_t limit = job_.params.maxSizeBytes;
  const ContainerMode mode = job_.params.containerMode;
  if (!video_.present) {
    const std::uint64_t bytes = LargestFileBytes(audio_, video_, outputBase, mode);
    return bytes <= limit || tooLarge(bytes);
  }
  VideoEncoderContext& context = job_.videoContext;
  const VideoTrackBuffer planned = PlaceholderPictures(context.streamParameters(), context.kind(),
                                                       videoInfo.frameCount, context.keyInterval());
  const std::uint64_t fixed =
      LargestFileBytes(audio_, planned, outputBase, mode) - planned.samples.totalBytes();
  const FitOutcome fit = FitPictures(
      limit, fixed, bounds.end - bounds.start, context.bitRate(), [&](int rate, PictureTry& got) {
        if (!encodePictures(bounds, videoInfo, rate)) return false;
        got.fileBytes = LargestFileBytes(audio_, video_, outputBase, mode);
        got.pictureBytes = video_.samples.totalBytes();
        LogInfo("size limit " + std::to_string(limit) + ": pictures at " + std::to_string(rate) +
                " bit/s give " + std::to_string(got.fileBytes) + " bytes");
        return true;
      });
  job_.state.limitedBitRate = 0;
  if (fit.kind == FitOutcome::Kind::TooLarge) return tooLarge(fit.smallestBytes);
  limitedBitRate_ = fit.bitRate;
  videoInfo.bitRate = fit.bitRate;
  return fit.kind == FitOutcome::Kind::Fits;
}

// One encoding of the segment's pictures at bitRate; the source delivers
// pictures only. False when it failed (with its message) or was aborted.
bool Conversion::encodePictures(const SegmentBounds& bounds, VideoSegmentInfo& videoInfo,
                                int bitRate) {
  MediaSource& source = job_.source;
  // The context starts afresh for each try; its reset clears the audio
  // parameter block, which the encoded sound still needs.
  const AudioParameterBlock sound = job_.audioBlock;
  grabber_.CloseVideoEncoder();
  job_.audioBlock = sound;
  Fault fault = setUpVideo(bounds, videoInfo);
  job_.videoContext.setBitRate(bitRate);
  if (!fault) fault = grabber_.OpenVideoEncoder(job_.videoContext, videoInfo);
  if (fault) return fail(fault);
  job_.state.limitedBitRate = bitRate;
  source.SetSegment(bounds.start, bounds.end);
  source.SetWavFileName({});
  source.SetVideoSink(&grabber_);
  source.Run();  // fails only for a WAV file, which it has none
  const MediaSource::WaitResult wait = source.WaitForSegment(
      job_.stallPeriod, [&] { reportProgress(bounds, source.segmentPositionHns(), false); });
  const bool stopped = source.Stop();
  if (const std::string failure = decodingFailure(wait, stopped, source.failureText());
      !failure.empty()) {
    job_.notifier.showMessage(failure);
    return false;
  }
  if (job_.state.abortRequested) return false;
  grabber_.FlushVideoEncoder();
  return true;
}

bool Conversion::tooLarge(std::uint64_t smallestBytes) {
  const auto kb = [](std::uint64_t bytes) { return std::to_string((bytes + 1023) / 1024); };
  job_.notifier.showMessage(text::kSizeLimitPrefix + kb(job_.params.maxSizeBytes) +
                            text::kSizeLimitMiddle + kb(smallestBytes) + text::kSizeLimitSuffix +
                            named() + "]");
  return false;
}

// The 3GP file first, then the 3G2 file; the first that could not be
// written stops it, with its fault (reported when the segment settles).
void Conversion::writeContainers(FinishingSegment& segment) {
  WriterOptions writer;
  writer.containerMode = job_.params.containerMode;
  for (FileKind kind : kFileKinds) {
    if (!wants(kind)) continue;
    const WrittenFile file =
        ThreeGpWriter(segment.audio, segment.video, segment.outputBase, kind, writer);
    if (file.size == 0) {
      segment.fault = file.fault;
      return;
    }
    segment.written.push_back(ThreeGpOutputPath(segment.outputBase, kind));
  }
}

// The segment's first frame as its thumbnail. A segment in which no picture
// was decoded has none (written stays false); that is no failure.
bool Conversion::writeThumbnail(const VideoSegmentInfo& videoInfo,
                                const std::vector<std::uint8_t>& frame,
                                const std::string& thumbnailBase, bool& written) {
  ConversionParameters& params = job_.params;
  if (frame.empty()) return true;
  if (params.thumbWidth == 0) {
    // "unchanged" capture size: the source size, kept for the rest of the job
    params.thumbWidth = videoInfo.sourceWidth;
    params.thumbHeight = videoInfo.sourceHeight;
  }
  written = WriteThumbnail(videoInfo, false, frame.data(), frame.size(), params.thumbWidth,
                           params.thumbHeight, thumbnailBase, workDir_) != 0;
  if (!written) {
    job_.notifier.showMessage(std::string(text::kThumbnailFailurePrefix) + thumbnailBase + ".jpg]");
  } else {
    summary_.outputs.push_back(thumbnailBase + ".jpg");
  }
  return written;
}

}  // namespace

std::vector<std::string> PlannedOutputs(const std::string& inputPath,
                                        const ConversionSettings& settings, int segmentCount,
                                        bool thumbnails) {
  std::vector<std::string> outputs;
  for (int index = 0; index < segmentCount; ++index) {
    const std::string base =
        SegmentOutputBase(inputPath, settings.result, settings.splittime > 0, index);
    if (settings.file3gp != 0) outputs.push_back(ThreeGpOutputPath(base, FileKind::ThreeGp));
    if (settings.file3g2 != 0) outputs.push_back(ThreeGpOutputPath(base, FileKind::ThreeG2));
    if (thumbnails) {
      outputs.push_back(JoinPath(settings.result, FormatSegmentName(settings.edit, index)) +
                        ".jpg");
    }
  }
  return outputs;
}

bool IsSameFile(const std::string& path, const std::string& file) {
  std::error_code ec;
  return !file.empty() && std::filesystem::equivalent(path, file, ec);
}

std::string RefusedStreamsMessage(const MediaInfo& info, const std::string& inputPath) {
  if (info.refusedRateHz != 0 || info.refusedChannels != 0) {
    return std::string(text::kSoundOutOfRangePrefix) + inputPath + "] (" +
           std::to_string(info.refusedRateHz) + "Hz, " + std::to_string(info.refusedChannels) +
           "ch)";
  }
  if (info.refusedWidth != 0 || info.refusedHeight != 0) {
    return std::string(text::kPictureTooLargePrefix) + inputPath + "] (" +
           std::to_string(info.refusedWidth) + "x" + std::to_string(info.refusedHeight) + ")";
  }
  return {};
}

std::string SegmentOutputBase(const std::string& inputPath, const std::string& outputFolder,
                              bool splitting, int segmentIndex) {
  const std::string name = PathFileName(inputPath);
  std::string fileName = PathWithoutExtension(name);
  const std::string extension = name.substr(fileName.size());
  if (splitting) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", segmentIndex);
    fileName += number;
  }
  return JoinPath(outputFolder, fileName + extension);
}

int RunConversion(const std::string& inputPath, Notifier* statusWindow,
                  const std::string& workingDirectory, ConversionJob& job,
                  ConversionSummary* summary) {
  ConversionSummary local;
  const CaptionSink caption = [statusWindow](std::string_view text) {
    statusWindow->setCaption(text);
  };
  job.state.statusWindow = statusWindow ? &caption : nullptr;
  Conversion conversion(inputPath, workingDirectory, job, summary ? *summary : local);
  int result = conversion.run();
  job.state.statusWindow = nullptr;
  return result;
}

ConversionOutcome ConvertThreadBody(const std::string& inputPath, Notifier* statusWindow,
                                    const std::string& workingDirectory, ConversionJob& job,
                                    ConversionSummary* summary) {
  ConversionSummary local;
  ConversionSummary& done = summary ? *summary : local;
  EncoderBlocks encoders{job.videoContext, job.audioBlock};
  int result = 0;
  // The conversion thread's boundary: whatever fails ends the job, not the
  // program (the job's objects have let go of everything on the way out).
  try {
    if (const Fault fault = PrepareConversion(job.settings, job.params, encoders)) {
      job.notifier.showMessage(MessageFor(fault));
      return ConversionOutcome::Refused;
    }
    result = RunConversion(inputPath, statusWindow, workingDirectory, job, &done);
  } catch (const std::bad_alloc&) {
    job.state.statusWindow = nullptr;
    job.notifier.showMessage(text::kOutOfMemory);
    return ConversionOutcome::Failed;
  } catch (const std::exception& e) {
    job.state.statusWindow = nullptr;
    job.notifier.showMessage(std::string(text::kConversionErrorPrefix) + e.what() + "]");
    return ConversionOutcome::Failed;
  }
  if (job.state.abortRequested) {
    job.notifier.showMessage(text::kAborted);
    return ConversionOutcome::Aborted;
  }
  // A failure has shown its own message; only a job that wrote its files is
  // reported as saved.
  if (done.refused) return ConversionOutcome::Refused;
  if (result == 0) return ConversionOutcome::Failed;
  if (!done.hadStreams || done.filesWritten == 0) {
    job.notifier.showMessage(done.soundTooShort ? text::kSoundTooShort : text::kNothingToConvert);
    return ConversionOutcome::Failed;
  }
  job.notifier.showMessage(std::string(text::kSavedPrefix) + job.settings.result +
                           text::kSavedSuffix);
  return ConversionOutcome::Completed;
}

}  // namespace zel
