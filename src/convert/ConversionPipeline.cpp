#include "convert/ConversionPipeline.h"

#include "container/TrackBuffers.h"
#include "convert/VideoEncoderContext.h"
#include "source/MediaSource.h"

namespace zel {

ConversionPipeline::ConversionPipeline(const std::string& input, const std::string& workFolder)
    : prepared_(input, workFolder), workFolder_(workFolder) {}

ConversionOutcome ConversionPipeline::Convert(const JobRecords& records, Notifier& notifier,
                                              const std::set<std::string>* takenOutputs,
                                              ConversionSummary* summary) {
  MediaSource source;
  VideoEncoderContext videoContext;
  AudioParameterBlock audioBlock;
  ConversionJob job{records.settings, records.params, records.state, records.range,
                    videoContext,     audioBlock,     source,        notifier};
  if (path() != input()) job.namedInput = input();
  job.takenOutputs = takenOutputs;
  return ConvertThreadBody(path(), &notifier, workFolder_, job, summary);
}

}  // namespace zel
