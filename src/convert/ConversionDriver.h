#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "container/TrackBuffers.h"

namespace zel {

class MediaSource;
class Notifier;
struct MediaInfo;
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
  // The file the user named when the job reads a stand-in for it (the WMV
  // made from an AVI input): no output may replace it either. Empty when
  // the job reads the named file itself.
  std::string namedInput = {};
  // Files that other inputs of the same run write: a job that would write
  // one of them is refused before converting (see
  // ConversionSummary::takenOutput). May be null.
  const std::set<std::string>* takenOutputs = nullptr;
};

// What a job left behind, for callers that report on it.
struct ConversionSummary {
  int segments = 0;         // segments converted (an aborted one included)
  int filesWritten = 0;     // container files that remain
  bool hadStreams = false;  // the input had audio or video to convert
  bool refused = false;     // refused before converting, with its message: the input or settings
  // The file of takenOutputs that the job would have written, when that
  // refused it (nothing shown: the caller knows whose file it is).
  std::string takenOutput;
  // The container files and thumbnails the job wrote.
  std::vector<std::string> outputs;
  bool soundTooShort = false;  // a segment's sound was under a second long and gave no track
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
// converting afterwards. An exception (no memory, say) ends the job as
// failed with a message, never the program.
ConversionOutcome ConvertThreadBody(const std::string& inputPath, Notifier* statusWindow,
                                    const std::string& workingDirectory, ConversionJob& job,
                                    ConversionSummary* summary = nullptr);

// The message that refuses a file whose streams lie beyond what the
// converter takes (MediaInfo's refused values), naming it; empty when none
// was refused.
std::string RefusedStreamsMessage(const MediaInfo& info, const std::string& inputPath);

// The most segments a job converts: more would be a damaged file's claim
// of days (and as many files), not a conversion to wait for.
inline constexpr int kMaxSegments = 100000;

// Every file a job on inputPath writes into the output folder, given its
// number of segments: per segment its 3GP and/or 3G2 file (file3gp,
// file3g2) and, with thumbnails (the report on and pictures to show), its
// thumbnail.
std::vector<std::string> PlannedOutputs(const std::string& inputPath,
                                        const ConversionSettings& settings, int segmentCount,
                                        bool thumbnails);

// Whether path names the file itself, directly or through links (nothing
// at path is no clash: a job would create it).
bool IsSameFile(const std::string& path, const std::string& file);

// The output base path of a segment: output folder + the input's file name
// (with "%02d" of the segment index when splitting) + the input's extension.
std::string SegmentOutputBase(const std::string& inputPath, const std::string& outputFolder,
                              bool splitting, int segmentIndex);

}  // namespace zel
