#include "convert/StillCapture.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "General/GeneralFile.h"
#include "General/MediaTypes.h"
#include "General/PathJoin.h"
#include "convert/ConversionParameters.h"
#include "convert/Thumbnail.h"
#include "settings/ValueLists.h"
#include "source/PreviewSource.h"

namespace zel {

StillSize StillCaptureSize(int capturesize, int displayWidth, int displayHeight) {
  const int width = CaptureWidth(capturesize);
  if (width == 0) return {displayWidth, displayHeight};
  return {width, width * 3 / 4};
}

std::string StillImageName(std::int64_t positionHns) {
  // Positions come from the preview and are never negative; should one be,
  // it is named as the beginning rather than with minus signs.
  const std::int64_t position = positionHns > 0 ? positionHns : 0;
  const std::int64_t seconds = position / kHnsPerSecond;
  char name[64];
  std::snprintf(name, sizeof name, "%02" PRId64 "m%02ds%03d", seconds / 60,
                static_cast<int>(seconds % 60), static_cast<int>(position / kHnsPerMs % 1000));
  return name;
}

StillCaptureResult CaptureStill(PreviewSource& preview, std::int64_t positionHns,
                                const std::string& outputFolder, StillSize size,
                                const std::string& workFolder) {
  if (!preview.previewOpened() || !preview.previewInfo().hasVideo) {
    return StillCaptureResult::kNothing;
  }
  if (outputFolder.empty() || !GneFileExists(outputFolder)) return StillCaptureResult::kNoFolder;

  // The picture at its decoded size, bottom-up B, G, R rows of width * 3
  // bytes without padding: the BMP's own layout.
  std::vector<std::uint8_t> frame;
  int width = 0, height = 0;
  if (!preview.GrabFrameAt(positionHns, frame, width, height)) {
    return StillCaptureResult::kNoPicture;
  }
  if (workFolder.empty()) return StillCaptureResult::kNotWritten;

  // The frame is handed over as RGB24 directly.
  const std::string basePath = JoinPath(outputFolder, StillImageName(positionHns));
  VideoSegmentInfo info = FrameSizes(width, height, width, height);
  info.keepAspect = size.keepAspect;
  info.sampleAspectNum = preview.previewInfo().sampleAspectNum;
  info.sampleAspectDen = preview.previewInfo().sampleAspectDen;
  const int written = WriteThumbnail(info, true, frame.data(), frame.size(), size.width,
                                     size.height, basePath, workFolder);
  return written ? StillCaptureResult::kWritten : StillCaptureResult::kNotWritten;
}

bool CaptureTookPicture(StillCaptureResult result) {
  return result == StillCaptureResult::kNotWritten || result == StillCaptureResult::kWritten;
}

const char* StillCaptureMessage(StillCaptureResult result, bool playing) {
  switch (result) {
    case StillCaptureResult::kNothing:
      return nullptr;
    case StillCaptureResult::kWritten:
      return playing ? nullptr : text::kStillCaptured;
    default:
      return text::kStillNotCaptured;
  }
}

CaptureCommandResult CaptureCommand(PreviewSource& preview, const ConversionState& state,
                                    ConversionParameters& params, int capturesize,
                                    const std::string& outputFolder, const std::string& workFolder,
                                    bool playing, bool keepAspect) {
  CaptureCommandResult command;
  if (!preview.previewOpened() || !preview.previewInfo().hasVideo) return command;
  if (state.converting) {
    command.refused = true;
    command.messages = {text::kStillRefusedWhileConverting, text::kStillNotCaptured};
    return command;
  }
  const MediaInfo& info = preview.previewInfo();
  StillSize size = StillCaptureSize(capturesize, info.displayWidth, info.displayHeight);
  size.keepAspect = keepAspect;
  params.thumbWidth = size.width;
  params.thumbHeight = size.height;

  command.cursorMs = preview.GetCurrentPosition() / kHnsPerMs;
  command.result =
      CaptureStill(preview, command.cursorMs * kHnsPerMs, outputFolder, size, workFolder);
  if (const char* message = StillCaptureMessage(command.result, playing)) {
    command.messages.push_back(message);
  }
  return command;
}

}  // namespace zel
