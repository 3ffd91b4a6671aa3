#pragma once

#include <chrono>
#include <string>

#include "container/TrackBuffers.h"

namespace zel {

class MediaSource;
class Notifier;
class VideoEncoderContext;
struct ConversionParameters;
struct ConversionSettings;
struct ConversionState;
struct MarkedRange;

// The records one conversion reads and writes. They are owned by the caller
// (the window or the command line's run) and live longer than the job.
struct ConversionJob {
  const ConversionSettings& settings;
  ConversionParameters& params;
  ConversionState& state;
  MarkedRange& range;
  VideoEncoderContext& videoContext;
  AudioParameterBlock& audioBlock;
  MediaSource& source;  // the conversion instance
  Notifier& notifier;   // messages
  // A segment whose decoding shows no progress at all for this long has
  // stalled: the job ends as failed.
  std::chrono::milliseconds stallPeriod = std::chrono::seconds(10);
};

// What a job left behind, for callers that report on it.
struct ConversionSummary {
  int segments = 0;         // segments converted (an aborted one included)
  int filesWritten = 0;     // container files that remain
  bool hadStreams = false;  // the input had audio or video to convert
};

// Runs a whole conversion on the calling thread: builds the conversion source
// on inputPath, cuts the marked range into segments and writes their files.
// Temporary files (the segments' WAVs, the thumbnails' BMPs) go to
// workingDirectory, the process's private work folder. Returns 1 when the job
// ran to its end or was aborted, 0 when it stopped on a failure (already
// shown): a failing segment ends the job; the files of earlier segments stay.
int RunConversion(const std::string& inputPath, Notifier* statusWindow,
                  const std::string& workingDirectory, ConversionJob& job,
                  ConversionSummary* summary = nullptr);

enum class ConversionOutcome { Refused, Failed, Completed, Aborted };

// The body of the conversion thread: PrepareConversion, RunConversion, then
// the closing message ("ファイルをフォルダ[%s]に保存しました。" or
// "変換を中断しました。"). The caller restores its controls and clears
// converting afterwards.
ConversionOutcome ConvertThreadBody(const std::string& inputPath, Notifier* statusWindow,
                                    const std::string& workingDirectory, ConversionJob& job,
                                    ConversionSummary* summary = nullptr);

// The output base path of a segment: output folder + the input's file name
// (with "%02d" of the segment index when splitting) + the input's extension.
std::string SegmentOutputBase(const std::string& inputPath, const std::string& outputFolder,
                              bool splitting, int segmentIndex);

}  // namespace zel
