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

}  // namespace

std::filesystem::path SettingsFilePath(const std::filesystem::path& startDirectory) {
  return JoinPath(startDirectory.string(), std::string(kFileName));
}

SettingsLoad LoadSettings(ConversionSettings& settings,
                          const std::filesystem::path& startDirectory) {
  return LoadSettingsFile(settings, SettingsFilePath(startDirectory));
}

SettingsLoad LoadSettingsFile(ConversionSettings& settings, const std::filesystem::path& path) {
  SettingsLoad load;
  IniFile ini;
  switch (ini.load(path, &load.reason)) {
    case IniFile::LoadStatus::Missing:
      load.outcome = SettingsLoad::Outcome::Missing;
      ApplyDefaultSettings(settings);
      return load;
    case IniFile::LoadStatus::NotAFile:
    case IniFile::LoadStatus::TooLarge:
      load.outcome = SettingsLoad::Outcome::Refused;
      ApplyDefaultSettings(settings);
      return load;
    case IniFile::LoadStatus::Unreadable:
      // A file that exists but cannot be read acts like one without keys:
      // every field becomes 0 or empty, as the profile reader would give.
      load.outcome = SettingsLoad::Outcome::Unreadable;
      break;
    case IniFile::LoadStatus::Loaded:
      load.outcome = ini.hasSection(kSection) ? SettingsLoad::Outcome::Loaded
                                              : SettingsLoad::Outcome::NoSection;
      break;
  }

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
  settings.keepaspect = ini.getInt(kSection, "keepaspect");
  settings.smoothscale = ini.getInt(kSection, "smoothscale");
  settings.anyinput = ini.getInt(kSection, "anyinput");
  return load;
}

std::string DescribeSettingsLoad(const SettingsLoad& load, const std::filesystem::path& path) {
  switch (load.outcome) {
    case SettingsLoad::Outcome::Loaded:
    case SettingsLoad::Outcome::Missing:
      return {};
    case SettingsLoad::Outcome::Refused:
      return path.string() + " " + load.reason + "; the built-in settings are used";
    case SettingsLoad::Outcome::Unreadable:
      return "cannot read " + path.string() + " (" + load.reason + "); every setting is 0";
    case SettingsLoad::Outcome::NoSection:
      return path.string() + " has no [zel] section; every setting is 0";
  }
  return {};
}

bool SaveSettings(const ConversionSettings& settings, const std::filesystem::path& startDirectory) {
  const std::filesystem::path path = SettingsFilePath(startDirectory);
  IniFile ini;
  // Start from the file as it is, so what others wrote into it stays. A file
  // that is there but cannot be read is not replaced by one without its keys,
  // and what is not a settings file at all (a folder, a device) stays as it is.
  const IniFile::LoadStatus status = ini.load(path, nullptr);
  if (status != IniFile::LoadStatus::Loaded && status != IniFile::LoadStatus::Missing) return false;

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
  // The keys older versions do not know are written once one of them
  // matters (then all three, and from then on), so a file saved with them
  // off stays as it always was.
  const std::pair<std::string_view, int> extras[] = {{"keepaspect", settings.keepaspect},
                                                     {"smoothscale", settings.smoothscale},
                                                     {"anyinput", settings.anyinput}};
  bool writeExtras = false;
  for (const auto& [key, value] : extras) writeExtras |= value != 0 || ini.get(kSection, key);
  if (writeExtras) {
    for (const auto& [key, value] : extras) ini.setInt(kSection, key, value);
  }
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
