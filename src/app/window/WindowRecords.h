// The records the window shares with the conversion it starts. They exist
// once, in the main window; the parts take what they read or write by
// reference. While converting is set they belong to the conversion thread:
// the window neither changes nor reads them (commands that would are
// ignored, and what the window shows is a copy taken at the start).
#pragma once

#include <memory>
#include <string>

#include "convert/ConversionParameters.h"
#include "convert/ConversionPipeline.h"
#include "settings/ConversionSettings.h"

namespace zel::app {

struct WindowRecords {
  ConversionSettings settings;
  ConversionParameters params;
  ConversionState state;
  MarkedRange range;
  std::string inputPath;      // the file previewed and converted; empty until one is loaded
  std::string tempInputPath;  // the AVI input's temporary WMV; empty when there is none
  // The loaded input's way through the converter; it owns the temporary WMV.
  std::unique_ptr<ConversionPipeline> pipeline;
};

}  // namespace zel::app
