#include "settings/ConversionSettings.h"

#include <system_error>

#include "General/MediaTypes.h"
#include "General/PathJoin.h"
#include "settings/IniFile.h"
#include "settings/ValueLists.h"

namespace zel {
namespace {

constexpr std::string_view kSection = "zel";
constexpr std::string_view kFileName = "setup.ini";

std::filesystem::path SetupIniPath(const std::filesystem::path& startDirectory) {
  return JoinPath(startDirectory.string(), std::string(kFileName));
}

}  // namespace

void LoadSettings(ConversionSettings& settings, const std::filesystem::path& startDirectory) {
  LoadSettingsFile(settings, SetupIniPath(startDirectory));
}

void LoadSettingsFile(ConversionSettings& settings, const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    ApplyDefaultSettings(settings);
    return;
  }
  // A file that exists but cannot be read acts like one without keys: every
  // field becomes 0 or empty, as the profile reader would give.
  IniFile ini;
  ini.load(path);

  settings.result = ini.getString(kSection, "result");
  settings.edit = ini.getString(kSection, "edit");
  settings.mpeg_audio = ini.getInt(kSection, "mpeg_audio");
  settings.mpeg_video = ini.getInt(kSection, "mpeg_video");
  // Whole seconds in the file, 100-ns units in memory; the seconds are at most
  // 32-bit, so the product fits in 64 bits.
  settings.splittime = std::int64_t{ini.getInt(kSection, "splittime")} * kHnsPerSecond;
  settings.framesize = ini.getInt(kSection, "framesize");
  settings.capturesize = ini.getInt(kSection, "capturesize");
  settings.channels = ini.getInt(kSection, "channels");
  settings.samplerate = ini.getInt(kSection, "samplerate");
  settings.framerate = ini.getInt(kSection, "framerate");
  settings.adjustframe = ini.getInt(kSection, "adjustframe");
  settings.measure = ini.getInt(kSection, "measure");
  settings.logfile = ini.getInt(kSection, "logfile");
  settings.file3gp = ini.getInt(kSection, "3gpfile");
  settings.file3g2 = ini.getInt(kSection, "3g2file");
}

bool SaveSettings(const ConversionSettings& settings, const std::filesystem::path& startDirectory) {
  const std::filesystem::path path = SetupIniPath(startDirectory);
  IniFile ini;
  std::error_code ec;
  // Start from the file as it is, so what others wrote into it stays. A file
  // that is there but cannot be read is not replaced by one without its keys.
  if (std::filesystem::exists(path, ec) && !ini.load(path)) return false;

  // This order is the order of the keys in a new file.
  ini.set(kSection, "result", settings.result);
  ini.set(kSection, "edit", settings.edit);
  ini.setInt(kSection, "mpeg_audio", settings.mpeg_audio);
  ini.setInt(kSection, "mpeg_video", settings.mpeg_video);
  ini.setInt(kSection, "splittime", settings.splittime / kHnsPerSecond);
  ini.setInt(kSection, "framesize", settings.framesize);
  ini.setInt(kSection, "capturesize", settings.capturesize);
  ini.setInt(kSection, "channels", settings.channels);
  ini.setInt(kSection, "samplerate", settings.samplerate);
  ini.setInt(kSection, "framerate", settings.framerate);
  ini.setInt(kSection, "measure", settings.measure);
  ini.setInt(kSection, "adjustframe", settings.adjustframe);
  ini.setInt(kSection, "logfile", settings.logfile);
  ini.setInt(kSection, "3gpfile", settings.file3gp);
  ini.setInt(kSection, "3g2file", settings.file3g2);
  return ini.save(path);
}

void ApplyDefaultSettings(ConversionSettings& settings) {
  settings.mpeg_audio = 1;
  settings.mpeg_video = 2;
  settings.file3gp = 1;
  settings.file3g2 = 1;
}

void ComputeMeasureStep(ConversionSettings& settings) {
  settings.measure_step = MeasureStepMs(settings.measure);
}

}  // namespace zel
