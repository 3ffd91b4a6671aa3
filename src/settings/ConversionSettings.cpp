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

// The keys of setup.ini and the fields they hold, read and written from
// these tables in this order.
template <typename T>
struct Key {
  std::string_view key;
  T ConversionSettings::*field;
};
constexpr Key<std::string> kTextKeys[] = {{"result", &ConversionSettings::result},
                                          {"edit", &ConversionSettings::edit}};
constexpr Key<int> kNumberKeys[] = {{"mpeg_audio", &ConversionSettings::mpeg_audio},
                                    {"mpeg_video", &ConversionSettings::mpeg_video}};
constexpr std::string_view kSplitKey = "splittime";  // whole seconds
constexpr Key<int> kNumberKeysAfterSplit[] = {{"framesize", &ConversionSettings::framesize},
                                              {"capturesize", &ConversionSettings::capturesize},
                                              {"channels", &ConversionSettings::channels},
                                              {"samplerate", &ConversionSettings::samplerate},
                                              {"framerate", &ConversionSettings::framerate},
                                              {"measure", &ConversionSettings::measure},
                                              {"adjustframe", &ConversionSettings::adjustframe},
                                              {"logfile", &ConversionSettings::logfile},
                                              {"3gpfile", &ConversionSettings::file3gp},
                                              {"3g2file", &ConversionSettings::file3g2}};
// Keys that older versions do not know.
constexpr Key<int> kExtraKeys[] = {{"keepaspect", &ConversionSettings::keepaspect},
                                   {"smoothscale", &ConversionSettings::smoothscale},
                                   {"anyinput", &ConversionSettings::anyinput}};
// Later keys, each written once it is set (and from then on).
constexpr Key<int> kOwnKeys[] = {{"maxsize", &ConversionSettings::maxsize},
                                 {"normalize", &ConversionSettings::normalize}};

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

  for (const auto& [key, field] : kTextKeys) settings.*field = ini.getString(kSection, key);
  for (const auto& [key, field] : kNumberKeys) settings.*field = ini.getInt(kSection, key);
  // Whole seconds in the file, 100-ns units in memory; the seconds are at most
  // 32-bit, so the product fits in 64 bits.
  settings.splittime = std::int64_t{ini.getInt(kSection, kSplitKey)} * kHnsPerSecond;
  for (const auto& [key, field] : kNumberKeysAfterSplit)
    settings.*field = ini.getInt(kSection, key);
  for (const auto& [key, field] : kExtraKeys) settings.*field = ini.getInt(kSection, key);
  for (const auto& [key, field] : kOwnKeys) settings.*field = ini.getInt(kSection, key);
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

  // The tables' order is the order of the keys in a new file.
  for (const auto& [key, field] : kTextKeys) ini.set(kSection, key, settings.*field);
  for (const auto& [key, field] : kNumberKeys) ini.setInt(kSection, key, settings.*field);
  ini.setInt(kSection, kSplitKey, settings.splittime / kHnsPerSecond);
  for (const auto& [key, field] : kNumberKeysAfterSplit) ini.setInt(kSection, key, settings.*field);
  // The keys older versions do not know are written once one of them
  // matters (then all of them, and from then on), so a file saved with them
  // off stays as it always was.
  bool writeExtras = false;
  for (const auto& [key, field] : kExtraKeys)
    writeExtras |= settings.*field != 0 || ini.get(kSection, key);
  if (writeExtras) {
    for (const auto& [key, field] : kExtraKeys) ini.setInt(kSection, key, settings.*field);
  }
  for (const auto& [key, field] : kOwnKeys) {
    if (settings.*field != 0 || ini.get(kSection, key)) ini.setInt(kSection, key, settings.*field);
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
