#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zel {

// Every user setting. Most fields hold an index into one of the value lists
// (ValueLists.h); setup.ini stores these indices under the field names.
struct ConversionSettings {
  int mpeg_audio = 0;                // audio format list
  int mpeg_video = 0;                // video format list
  int samplerate = 0;                // sample-rate list of the stored audio format
  int channels = 0;                  // channel list of the stored audio format
  int framesize = 2;                 // frame-size list of the stored video format
  int framerate = 0;                 // frames per second; 0 keeps the source's
  std::int64_t splittime = 0;        // 100-ns units; 0: no splitting (INI: whole seconds)
  int capturesize = 0;               // capture-size list
  int measure = 0;                   // measure list
  int adjustframe = 0;               // 1: stretch the preview picture
  int logfile = 0;                   // 1: thumbnails and thumbnail.html
  int file3gp = 0;                   // INI key "3gpfile"
  int file3g2 = 0;                   // INI key "3g2file"
  std::string result;                // output folder
  std::string edit = "sample_%02d";  // thumbnail name pattern

  // Beyond the described converter, each off (0) by default; a setup.ini
  // only gets these keys once one of them is on.
  int keepaspect = 0;   // 1: the picture keeps its aspect ratio, with black bars
  int smoothscale = 0;  // 1: scaling averages the source pixels
  int anyinput = 0;     // 1: any file with decodable sound or pictures is taken
  int maxsize = 0;      // KiB that no output file may pass; 0: no limit (a key of its own)
  int normalize = 0;    // 1: the sound is brought to one loudness (-16 LUFS)

  int measure_step = 0;  // derived: milliseconds of the measure entry; not stored
};

// How loading went, so that a front end can say why the values are what they
// are.
struct SettingsLoad {
  enum class Outcome {
    Loaded,      // every field from the file
    Missing,     // no file: the defaults
    Refused,     // a folder, a device, a FIFO, over 1 MiB: the defaults; never written
    Unreadable,  // cannot be read: every field 0 or empty, as for missing keys
    NoSection,   // read, but without a [zel] section: every field 0 or empty
  };
  Outcome outcome = Outcome::Missing;
  std::string reason;  // English, for messages: "is a folder", "Permission denied", ...
};

// Fills every field from "setup.ini" in startDirectory, or applies the
// defaults when there is no such file. Leaves measure_step untouched.
SettingsLoad LoadSettings(ConversionSettings& settings,
                          const std::filesystem::path& startDirectory);

// The same from a settings file of any name (the command line's --settings).
SettingsLoad LoadSettingsFile(ConversionSettings& settings, const std::filesystem::path& path);

// A line that tells why the values of a load are not the file's, or empty
// when it was Loaded or Missing: "<path> is a folder; the built-in settings
// are used", ...
std::string DescribeSettingsLoad(const SettingsLoad& load, const std::filesystem::path& path);

// The setup.ini of a start directory.
std::filesystem::path SettingsFilePath(const std::filesystem::path& startDirectory);

// Writes every key to "setup.ini" in startDirectory, keeping keys and sections
// it does not know. Returns false when the file could not be written (callers
// ignore this: a read-only folder silently keeps the old file). A setup.ini
// that is not a regular file, is too large or cannot be read is never
// replaced.
bool SaveSettings(const ConversionSettings& settings, const std::filesystem::path& startDirectory);

// mpeg_audio 1, mpeg_video 2, file3gp 1, file3g2 1; nothing else changes.
void ApplyDefaultSettings(ConversionSettings& settings);

// measure_step := the measure list's value at measure (clamped).
void ComputeMeasureStep(ConversionSettings& settings);

}  // namespace zel
