#include "convert/ConversionDriver.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "General/GeneralFile.h"
#include "General/Notifier.h"
#include "General/PathJoin.h"
#include "container/ThreeGpWriter.h"
#include "convert/AudioPath.h"
#include "convert/ConversionParameters.h"
#include "convert/Report.h"
#include "convert/SegmentPlan.h"
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
constexpr const char* k3g2At8000Warning =
    "au携帯では音声のサンプリングレートに8000を指定すると再生できなくなる場合があります。";
constexpr const char* kTemporaryWavFailure = "Can not Open Temporary wav file!";
constexpr FileKind kFileKinds[] = {FileKind::ThreeGp, FileKind::ThreeG2};

void RemoveFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

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
  void reportProgress(std::int64_t doneHns);
  void finish();
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
  bool failed_ = false;
  int segmentCount_ = 1;
  std::string reportPath_;
  std::string lastOutputBase_;  // of the segment processed last
};

int Conversion::run() {
  ConversionParameters& params = job_.params;
  MediaSource& source = job_.source;
  want3gp_ = params.containerMode == ContainerMode::Both ||
             params.containerMode == ContainerMode::ThreeGpOnly;
  want3g2_ = params.containerMode == ContainerMode::Both ||
             params.containerMode == ContainerMode::ThreeG2Only;

  if (!source.BuildConversionGraph(input_, params.audioKind != AudioKind::None,
                                   params.videoKind != VideoKind::None, job_.notifier)) {
    return 0;
  }
  const MediaInfo& info = source.info();
  job_.range.duration = info.durationHns;
  audio_.present = info.hasAudio;
  audio_.kind = params.audioKind;
  video_.present = info.hasVideo;
  video_.kind = params.videoKind;
  if (info.hasVideo) source.SetVideoSink(&grabber_);
  source.SetAbortFlag(&job_.state.abortRequested);
  summary_.hadStreams = info.hasAudio || info.hasVideo;

  if (summary_.hadStreams) {
    reportPath_ = JoinPath(job_.settings.result, kReportName);
    if (params.reportEnabled) RemoveFile(reportPath_);  // each job starts a new report

    ClampMarks(job_.range);
    job_.state.segmentIndex = 0;
    segmentCount_ = SegmentCount(job_.settings.splittime, job_.range);
    for (;;) {
      if (job_.state.abortRequested) break;
      SegmentBounds bounds =
          SegmentAt(job_.state.segmentIndex, job_.settings.splittime, job_.range);
      reportProgress(bounds.start - job_.range.start);
      if (!convertSegment(bounds)) {
        failed_ = true;
        break;
      }
      ++summary_.segments;
      if (!job_.state.abortRequested) reportProgress(bounds.end - job_.range.start);
      job_.state.segmentIndex++;
      if (bounds.last) break;
    }
  }
  finish();
  return failed_ ? 0 : 1;
}

void Conversion::reportProgress(std::int64_t doneHns) {
  ConversionProgress p;
  p.segmentIndex = job_.state.segmentIndex;
  p.segmentCount = segmentCount_;
  p.doneHns = doneHns;
  p.totalHns = job_.range.end - job_.range.start;
  job_.notifier.reportProgress(p);
}

bool Conversion::convertSegment(const SegmentBounds& bounds) {
  ConversionParameters& params = job_.params;
  MediaSource& source = job_.source;
  const MediaInfo& info = source.info();
  const int index = job_.state.segmentIndex;
  const std::int64_t length = bounds.end - bounds.start;
  const bool splitting = job_.settings.splittime > 0;

  source.SetSegment(bounds.start, bounds.end);

  VideoSegmentInfo videoInfo;
  if (video_.present) {
    VideoSourceFormat format{info.frameDurationHns, info.width, info.height};
    if (!SetUpVideoSegment(job_.videoContext, format, length, videoInfo, job_.notifier))
      return false;
    if (!grabber_.OpenVideoEncoder(job_.videoContext, videoInfo, job_.notifier)) return false;
  }
  AudioSegmentInfo audioInfo;
  if (audio_.present) {
    if (want3g2_ && params.sampleRate == 8000) job_.notifier.showMessage(k3g2At8000Warning);
    SetUpAudioSegment(job_.audioBlock, params.audioKind, params.sampleRate, params.channels,
                      info.sampleRate, info.channels, audioInfo);
  }

  const std::string wavPath = TemporaryWavPath(workDir_, index);
  source.SetWavFileName(wavPath);
  bool delivered = source.Run();
  // The audio encoder is first needed once the segment has been decoded; it
  // opens (FAAC's set-up is costly) while the streaming threads decode.
  bool audioOpen = !audio_.present || encoder_.OpenAudioEncoder(job_.audioBlock, audioInfo,
                                                                params.audioKind, job_.notifier);
  if (delivered && audioOpen) {
    MediaSource::WaitResult wait = source.WaitForSegment();
    delivered = wait != MediaSource::WaitResult::Failed;
  }
  source.Stop();
  if (!delivered || !audioOpen) {
    if (!delivered) job_.notifier.showMessage(kTemporaryWavFailure);
    if (audio_.present) encoder_.CloseAudioEncoder();
    if (video_.present) grabber_.CloseVideoEncoder();
    RemoveFile(wavPath);
    return false;
  }

  if (audio_.present && !job_.state.abortRequested)
    encoder_.EncodeTemporaryWav(workDir_, job_.notifier);

  const std::string outputBase = SegmentOutputBase(input_, job_.settings.result, splitting, index);
  lastOutputBase_ = outputBase;
  WriterOptions writer;
  writer.containerMode = params.containerMode;
  writer.notifier = &job_.notifier;
  bool written = true;
  for (FileKind kind : kFileKinds) {  // the 3GP file first, then the 3G2 file
    if (!wants(kind)) continue;
    bool ok = ThreeGpWriter(audio_, video_, outputBase, kind, writer) != 0;
    summary_.filesWritten += ok;
    written &= ok;
  }
  // A file that could not be written has been reported; the segment goes on
  // with its thumbnail and report, but the job no longer counts as saved.
  if (!written) failed_ = true;

  const std::string thumbnailBase =
      JoinPath(job_.settings.result, FormatSegmentName(job_.settings.edit, index));
  if (params.reportEnabled && video_.present) {
    if (params.thumbWidth == 0) {
      // "unchanged" capture size: the source size, kept for the rest of the job
      params.thumbWidth = videoInfo.sourceWidth;
      params.thumbHeight = videoInfo.sourceHeight;
    }
    const auto& frame = grabber_.firstFrame();
    if (!frame.empty()) {
      WriteThumbnail(videoInfo, job_.state.rgb24Input, frame.data(), frame.size(),
                     params.thumbWidth, params.thumbHeight, thumbnailBase);
    }
  }

  if (audio_.present) encoder_.CloseAudioEncoder();
  if (video_.present) grabber_.CloseVideoEncoder();

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
    r.containerSelected = want3gp_ || want3g2_;
    r.thumbnailBasePath = thumbnailBase;
    AppendReport(reportPath_, r);
  }

  RemoveFile(wavPath);
  return true;
}

void Conversion::finish() {
  job_.source.CloseConversion();
  if (job_.state.abortRequested && !lastOutputBase_.empty()) {
    // The aborted segment's files are incomplete; earlier segments,
    // thumbnails and the report stay.
    for (FileKind kind : kFileKinds) {
      if (!wants(kind)) continue;
      const std::string path = ThreeGpOutputPath(lastOutputBase_, kind);
      if (std::filesystem::exists(path)) {
        RemoveFile(path);
        --summary_.filesWritten;
      }
    }
  }
}

}  // namespace

std::string SegmentOutputBase(const std::string& inputPath, const std::string& outputFolder,
                              bool splitting, int segmentIndex) {
  std::string fileName = GneGetFileName(inputPath);
  std::string extension;
  if (auto dot = fileName.rfind('.'); dot != std::string::npos) {
    extension = fileName.substr(dot);
    fileName.resize(dot);
  }
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
  job.state.statusWindow = statusWindow;
  Conversion conversion(inputPath, workingDirectory, job, summary ? *summary : local);
  int result = conversion.run();
  job.state.statusWindow = nullptr;
  return result;
}

ConversionOutcome ConvertThreadBody(const std::string& inputPath, Notifier* statusWindow,
                                    const std::string& workingDirectory, ConversionJob& job,
                                    ConversionSummary* summary) {
  EncoderBlocks encoders{job.videoContext, job.audioBlock};
  if (!PrepareConversion(job.settings, job.params, encoders, job.notifier)) {
    return ConversionOutcome::Refused;
  }
  int result = RunConversion(inputPath, statusWindow, workingDirectory, job, summary);
  if (job.state.abortRequested) {
    job.notifier.showMessage("変換を中断しました。");
    return ConversionOutcome::Aborted;
  }
  // A failure has shown its own message; only a finished job is reported as
  // saved.
  if (result == 0) return ConversionOutcome::Failed;
  job.notifier.showMessage("ファイルをフォルダ[" + job.settings.result + "]に保存しました。");
  return ConversionOutcome::Completed;
}

}  // namespace zel
