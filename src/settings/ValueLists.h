#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace zel {

// The fixed value lists that setup.ini's indexes point into and that the
// settings dialog shows. An entry pairs the shown text with its value.
struct ListEntry {
  std::string_view text;
  int value;
};

// A name-pattern preset of the FILE page: the shown text and the pattern put
// into the "edit" setting.
struct NamePatternPreset {
  std::string_view text;
  std::string_view pattern;
};

// Indexes into these lists.
inline constexpr int kAudioFormatNone = 0;
inline constexpr int kAudioFormatAac = 1;
inline constexpr int kAudioFormatAmr = 2;
inline constexpr int kVideoFormatNone = 0;
inline constexpr int kVideoFormatH263 = 1;
inline constexpr int kVideoFormatMpeg4 = 2;

// The encoders' bit rates, which no setting chooses; the settings dialog
// shows them.
inline constexpr int kVideoBitRate = 200000;
inline constexpr int kAmrBitRate = 48000;  // only ever mapped to a mode, never given to the codec
// The AAC bit rate per channel at a sample rate: FAAC's ceiling is 6 bit/s
// per Hz and channel. Rates of 5333 Hz and below are never offered; they get
// 32000 as well, which FAAC 1.30 accepts.
inline constexpr int AacBitRate(int sampleRateHz) {
  return 6 * sampleRateHz > 64000 ? 64000 : 32000;
}

std::span<const ListEntry> AudioFormatList();  // none, aac, amr
std::span<const ListEntry> VideoFormatList();  // none, h263, mpeg4
// The lists that depend on a format take the format's index as stored; it is
// clamped first, so an unknown format gives the "none" lists.
std::span<const ListEntry> SampleRateList(int audioFormatIndex);  // Hz
std::span<const ListEntry> ChannelList(int audioFormatIndex);     // channel count
std::span<const ListEntry> FrameSizeList(int videoFormatIndex);   // frame width
std::span<const ListEntry> FrameRateList();    // 31 entries: "変更なし" (0), "1".."30"
std::span<const ListEntry> IntervalList();     // 31 entries: "0".."30" seconds
std::span<const ListEntry> CaptureSizeList();  // width: 0 (source size), 64, 128
std::span<const ListEntry> MeasureList();      // cursor step in ms: 1000, 100, 10, 1
std::span<const NamePatternPreset> NamePatternPresets();

// index when it selects an entry of a list of size entries, otherwise 0 (the
// first entry). Every lookup below goes through it, so an edited setup.ini
// (framesize=9, mpeg_audio=-3) never reads outside a list.
int ClampIndex(int index, std::size_t size);
// The value of list[ClampIndex(index)].
int ListValue(std::span<const ListEntry> list, int index);
// The index of the first entry whose value is value, or -1.
int IndexOfValue(std::span<const ListEntry> list, int value);

// The lookups of the conversion parameters.
int AudioFormatValue(int mpegAudio);
int VideoFormatValue(int mpegVideo);
int SampleRateHz(int mpegAudio, int samplerate);
int ChannelCount(int mpegAudio, int channels);
// The frame width of a frame-size index, always from the "mpeg4" list: the
// "h263" list holds its first two entries, so the values agree.
int FrameWidth(int framesize);
int FrameRateFps(int framerate);
int CaptureWidth(int capturesize);
int MeasureStepMs(int measure);

}  // namespace zel
