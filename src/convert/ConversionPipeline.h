// One input's way through the converter, as both front ends take it: the
// input prepared for opening (an AVI is first transcoded into a temporary
// WMV, which the caller runs and shows), then any number of jobs on the
// prepared file, each on a source and encoders of its own; the temporary
// file goes when this goes.
#pragma once

#include <set>
#include <string>

#include "convert/ConversionDriver.h"
#include "source/PreparedInput.h"

namespace zel {

class Notifier;
struct ConversionParameters;
struct ConversionSettings;
struct ConversionState;
struct MarkedRange;

// The records a job reads and writes; the caller owns them and shows what
// it needs of them (state.converting is the caller's to set and clear).
struct JobRecords {
  const ConversionSettings& settings;
  ConversionParameters& params;
  ConversionState& state;
  MarkedRange& range;
};

class ConversionPipeline {
 public:
  // The temporary WMV of an AVI input, and each job's temporary files, go
  // to workFolder.
  ConversionPipeline(const std::string& input, const std::string& workFolder);

  const std::string& input() const { return prepared_.input(); }
  // The file opened: the input itself, or its temporary WMV.
  const std::string& path() const { return prepared_.path(); }
  PreparedInput& prepared() { return prepared_; }

  // Runs a conversion of the prepared file on the calling thread
  // (ConvertThreadBody), its messages and caption through notifier. No
  // output may replace the named input either, nor one of takenOutputs
  // (see ConversionJob).
  ConversionOutcome Convert(const JobRecords& records, Notifier& notifier,
                            const std::set<std::string>* takenOutputs = nullptr,
                            ConversionSummary* summary = nullptr);

 private:
  PreparedInput prepared_;
  std::string workFolder_;
};

}  // namespace zel
