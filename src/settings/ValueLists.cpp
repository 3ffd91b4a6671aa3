#include "settings/ValueLists.h"

#include <array>

namespace zel {
namespace {

constexpr ListEntry kAudioFormats[] = {{"none", 0}, {"aac", 1}, {"amr", 2}};
constexpr ListEntry kVideoFormats[] = {{"none", 0}, {"h263", 1}, {"mpeg4", 2}};

constexpr ListEntry kNoneList[] = {{"0", 0}};
constexpr ListEntry kAacRates[] = {
    {"8000", 8000}, {"16000", 16000}, {"22050", 22050}, {"24000", 24000}};
constexpr ListEntry kAmrRates[] = {{"8000", 8000}};
constexpr ListEntry kAacChannels[] = {{"MONO", 1}, {"STEREO", 2}};
constexpr ListEntry kAmrChannels[] = {{"MONO", 1}};

constexpr ListEntry kH263Sizes[] = {{"128x96", 128}, {"176x144", 176}};
constexpr ListEntry kMpeg4Sizes[] = {{"128x96", 128}, {"176x144", 176}, {"320x240", 320}};

constexpr ListEntry kFrameRates[] = {
    {"変更なし", 0}, {"1", 1},   {"2", 2},   {"3", 3},   {"4", 4},   {"5", 5},   {"6", 6},
    {"7", 7},        {"8", 8},   {"9", 9},   {"10", 10}, {"11", 11}, {"12", 12}, {"13", 13},
    {"14", 14},      {"15", 15}, {"16", 16}, {"17", 17}, {"18", 18}, {"19", 19}, {"20", 20},
    {"21", 21},      {"22", 22}, {"23", 23}, {"24", 24}, {"25", 25}, {"26", 26}, {"27", 27},
    {"28", 28},      {"29", 29}, {"30", 30}};

constexpr ListEntry kIntervals[] = {
    {"0", 0},   {"1", 1},   {"2", 2},   {"3", 3},   {"4", 4},   {"5", 5},   {"6", 6},   {"7", 7},
    {"8", 8},   {"9", 9},   {"10", 10}, {"11", 11}, {"12", 12}, {"13", 13}, {"14", 14}, {"15", 15},
    {"16", 16}, {"17", 17}, {"18", 18}, {"19", 19}, {"20", 20}, {"21", 21}, {"22", 22}, {"23", 23},
    {"24", 24}, {"25", 25}, {"26", 26}, {"27", 27}, {"28", 28}, {"29", 29}, {"30", 30}};

constexpr ListEntry kCaptureSizes[] = {{"変更なし", 0}, {"64x48", 64}, {"128x96", 128}};
constexpr ListEntry kMeasures[] = {{"1.000", 1000}, {"0.100", 100}, {"0.010", 10}, {"0.001", 1}};

constexpr NamePatternPreset kNamePatterns[] = {
    {"000000", "%06d"}, {"sample_00", "sample_%02d"}, {"file_00", "file_%02d"}};

}  // namespace

std::span<const ListEntry> AudioFormatList() { return kAudioFormats; }
std::span<const ListEntry> VideoFormatList() { return kVideoFormats; }

std::span<const ListEntry> SampleRateList(int audioFormatIndex) {
  switch (AudioFormatValue(audioFormatIndex)) {
    case kAudioFormatAac:
      return kAacRates;
    case kAudioFormatAmr:
      return kAmrRates;
    default:
      return kNoneList;
  }
}

std::span<const ListEntry> ChannelList(int audioFormatIndex) {
  switch (AudioFormatValue(audioFormatIndex)) {
    case kAudioFormatAac:
      return kAacChannels;
    case kAudioFormatAmr:
      return kAmrChannels;
    default:
      return kNoneList;
  }
}

std::span<const ListEntry> FrameSizeList(int videoFormatIndex) {
  switch (VideoFormatValue(videoFormatIndex)) {
    case kVideoFormatH263:
      return kH263Sizes;
    case kVideoFormatMpeg4:
      return kMpeg4Sizes;
    default:
      return kNoneList;
  }
}

std::span<const ListEntry> FrameRateList() { return kFrameRates; }
std::span<const ListEntry> IntervalList() { return kIntervals; }
std::span<const ListEntry> CaptureSizeList() { return kCaptureSizes; }
std::span<const ListEntry> MeasureList() { return kMeasures; }
std::span<const NamePatternPreset> NamePatternPresets() { return kNamePatterns; }

int ClampIndex(int index, std::size_t size) {
  return (index >= 0 && static_cast<std::size_t>(index) < size) ? index : 0;
}

int ListValue(std::span<const ListEntry> list, int index) {
  if (list.empty()) return 0;
  return list[static_cast<std::size_t>(ClampIndex(index, list.size()))].value;
}

int IndexOfValue(std::span<const ListEntry> list, int value) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].value == value) return static_cast<int>(i);
  }
  return -1;
}

int AudioFormatValue(int mpegAudio) { return ListValue(kAudioFormats, mpegAudio); }
int VideoFormatValue(int mpegVideo) { return ListValue(kVideoFormats, mpegVideo); }
int SampleRateHz(int mpegAudio, int samplerate) {
  return ListValue(SampleRateList(mpegAudio), samplerate);
}
int ChannelCount(int mpegAudio, int channels) {
  return ListValue(ChannelList(mpegAudio), channels);
}
int FrameWidth(int framesize) { return ListValue(kMpeg4Sizes, framesize); }
int FrameRateFps(int framerate) { return ListValue(kFrameRates, framerate); }
int CaptureWidth(int capturesize) { return ListValue(kCaptureSizes, capturesize); }
int MeasureStepMs(int measure) { return ListValue(kMeasures, measure); }

}  // namespace zel
