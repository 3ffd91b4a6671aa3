#include "window/FileLoader.h"

#include <memory>

#include "General/MediaTypes.h"
#include "General/Notifier.h"
#include "General/PathJoin.h"
#include "convert/ConversionPipeline.h"
#include "convert/Messages.h"
#include "source/PreparedInput.h"
#include "source/PreviewSource.h"
#include "window/WindowRecords.h"

namespace zel::app {
namespace {

// A WAV file shorter than this may not play.
constexpr std::int64_t kShortWavHns = 2 * kHnsPerSecond;

}  // namespace

const char* LoadErrorText(std::uint32_t code) {
  if (code == kUnsupportedFileError) {
    return "サポートしていないファイル形式です。\nmpeg1の場合は、音声コーデックにmp3が使用されてい"
           "る"
           "ファイルは変換できません。";
  }
  return "未定義のエラーが発生しました。";
}

FileLoader::FileLoader(WindowRecords& records, PreviewSource& preview, PreviewSink& sink,
                       Notifier& notifier, std::string workFolder)
    : records_(records),
      preview_(preview),
      sink_(sink),
      notifier_(notifier),
      workFolder_(std::move(workFolder)) {}

bool FileLoader::accept(const std::string& path) {
  if (IsSupportedInput(path, records_.settings.anyinput != 0)) return true;
  notifier_.showMessage(LoadErrorText(kUnsupportedFileError), true);
  return false;
}

LoadedFile FileLoader::load(const std::string& path, const PreConverter& preConvert) {
  LoadedFile loaded;
  loaded.name = PathFileName(path);
  const std::string extension = PathExtension(path);
  auto pipeline = std::make_unique<ConversionPipeline>(path, workFolder_);
  PreparedInput& prepared = pipeline->prepared();
  if (prepared.needsTranscoding()) {
    // Written beside the name it gets: the file loaded now may be the
    // temporary WMV of an AVI of the same name, which stays until the new
    // one is whole.
    const PreConversion end = preConvert(prepared);
    if (end == PreConversion::Cancelled) {
      loaded.cancelled = true;
      return loaded;
    }
    unload();
    // The transcoder has said what went wrong; a half-written file must not
    // be previewed and converted as if it were the whole input.
    if (end == PreConversion::Done && prepared.Keep()) records_.tempInputPath = prepared.path();
  } else {
    unload();
  }
  records_.inputPath = pipeline->path();
  records_.pipeline = std::move(pipeline);

  loaded.opened = preview_.OpenPreview(records_.inputPath, &sink_) == OpenResult::Opened;
  if (!loaded.opened) notifier_.showMessage(text::kRenderFileError);
  const std::int64_t duration = loaded.opened ? preview_.previewInfo().durationHns : 0;
  records_.range = MarkedRange{duration, 0, duration};
  loaded.shortWav =
      loaded.opened && (extension == "wav" || extension == "WAV") && duration < kShortWavHns;
  return loaded;
}

void FileLoader::unload() {
  preview_.ClosePreview();
  records_.pipeline.reset();  // and with it the temporary WMV
  records_.tempInputPath.clear();
}

}  // namespace zel::app
