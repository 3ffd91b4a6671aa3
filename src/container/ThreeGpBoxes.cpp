#include "container/ThreeGpBoxes.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace zel::boxes {
namespace {

constexpr std::uint16_t kLanguageEng = 0x15C7;  // packed ISO 639-2/T "eng"
constexpr std::uint16_t kLanguageJpn = 0x2A0E;  // packed "jpn"
constexpr std::uint32_t kDecoderBufferSize = 0x001800;

void PutMatrix(BoxBuffer& box) {
  static constexpr std::uint32_t kUnity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (std::uint32_t v : kUnity) box.put32(v);
}

BoxBuffer Parent(std::string_view type, std::initializer_list<const BoxBuffer*> children) {
  BoxBuffer box(type);
  box.close(8);
  for (const BoxBuffer* child : children) box.appendChild(*child);
  return box;
}

BoxBuffer Tkhd(const TrackLayout& layout, bool video, std::uint32_t width, std::uint32_t height) {
  // flags 0xF: enabled, in movie, in preview, in poster
  BoxBuffer box = BoxBuffer::Full("tkhd", 0, 0x0F);
  box.put32(layout.clock);
  box.put32(layout.clock);
  box.put32(layout.trackId);
  box.put32(0);
  box.put32(layout.movieDuration);
  box.putZeros(8);
  box.put16(0);  // layer
  box.put16(0);  // alternate group
  box.put16(video ? 0 : 0x0100);
  box.put16(0);
  PutMatrix(box);
  box.put32(width << 16);
  box.put32(height << 16);
  box.close(92);
  return box;
}

// An edit list of one entry that plays the whole media from its start.
BoxBuffer Edts(std::uint32_t duration) {
  BoxBuffer elst = BoxBuffer::Full("elst", 0, 0);
  elst.put32(1);
  elst.put32(duration);
  elst.put32(0);           // media time
  elst.put32(0x00010000);  // rate 1.0
  elst.close(28);
  return Parent("edts", {&elst});
}

BoxBuffer Mdhd(std::uint32_t clock, std::uint32_t timescale, std::uint32_t duration) {
  BoxBuffer box = BoxBuffer::Full("mdhd", 0, 0);
  box.put32(clock);
  box.put32(clock);
  box.put32(timescale);
  box.put32(duration);
  box.put16(kLanguageEng);
  box.put16(0);
  box.close(32);
  return box;
}

// The name is a length byte and its characters, without a terminator.
BoxBuffer Hdlr(std::string_view handler, std::string_view name) {
  BoxBuffer box = BoxBuffer::Full("hdlr", 0, 0);
  box.put32(0);
  box.putFourcc(handler);
  box.putZeros(12);
  box.put8(static_cast<std::uint8_t>(name.size()));
  box.putBytes(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
  box.close(33 + name.size());
  return box;
}

// The media data lies in this file: one "url " entry with flag 1 and no location.
BoxBuffer Dinf() {
  BoxBuffer url = BoxBuffer::Full("url ", 0, 1);
  url.close(12);
  BoxBuffer dref = BoxBuffer::Full("dref", 0, 0);
  dref.put32(1);
  dref.close(16);
  dref.appendChild(url);
  return Parent("dinf", {&dref});
}

BoxBuffer Stsd(const BoxBuffer& entry) {
  BoxBuffer box = BoxBuffer::Full("stsd", 0, 0);
  box.put32(1);
  box.close(16);
  box.appendChild(entry);
  return box;
}

// Every sample of a track has the same duration.
BoxBuffer Stts(std::uint32_t sampleCount, std::uint32_t delta) {
  BoxBuffer box = BoxBuffer::Full("stts", 0, 0);
  box.put32(1);
  box.put32(sampleCount);
  box.put32(delta);
  box.close(24);
  return box;
}

BoxBuffer Stss(const std::vector<std::uint32_t>& syncSamples) {
  BoxBuffer box = BoxBuffer::Full("stss", 0, 0, 16 + 4 * syncSamples.size());
  box.put32(static_cast<std::uint32_t>(syncSamples.size()));
  for (std::uint32_t number : syncSamples) box.put32(number);
  box.close(16 + 4 * syncSamples.size());
  return box;
}

// Each sample is its own chunk. A track without samples has no chunk, so it
// gets no entry either (an entry would name chunk 1, which does not exist).
BoxBuffer Stsc(std::uint32_t sampleCount) {
  BoxBuffer box = BoxBuffer::Full("stsc", 0, 0);
  if (sampleCount == 0) {
    box.put32(0);
    box.close(16);
    return box;
  }
  box.put32(1);
  box.put32(1);  // first chunk
  box.put32(1);  // samples per chunk
  box.put32(1);  // sample description index
  box.close(28);
  return box;
}

// Sizes from the table, or one fixed size for every sample (AMR-NB 12.2k).
BoxBuffer Stsz(const std::vector<std::uint32_t>& sizes, std::uint32_t fixedSize) {
  std::size_t tableBytes = fixedSize == 0 ? 4 * sizes.size() : 0;
  BoxBuffer box = BoxBuffer::Full("stsz", 0, 0, 20 + tableBytes);
  box.put32(fixedSize);
  box.put32(static_cast<std::uint32_t>(sizes.size()));
  if (fixedSize == 0)
    for (std::uint32_t size : sizes) box.put32(size);
  box.close(20 + tableBytes);
  return box;
}

// Chunk offsets, written as zeros and patched once the size of moov is known.
BoxBuffer Stco(std::uint32_t sampleCount, PatchMark mark) {
  BoxBuffer box = BoxBuffer::Full("stco", 0, 0, 16 + 4 * std::size_t{sampleCount});
  box.put32(sampleCount);
  box.mark(mark);
  box.putZeros(4 * std::size_t{sampleCount});
  box.close(16 + 4 * std::size_t{sampleCount});
  return box;
}

BoxBuffer VisualEntry(const VideoTrackBuffer& video) {
  const VideoStreamParameters& stream = video.stream;
  bool h263 = video.kind == VideoKind::H263;
  BoxBuffer box(h263 ? "s263" : "mp4v");
  box.putZeros(6);
  box.put16(1);  // data reference index
  box.put32(0);
  box.putFourcc("KLVR");
  box.put32(512);  // temporal quality
  box.put32(512);  // spatial quality
  box.put16(static_cast<std::uint16_t>(stream.width));
  box.put16(static_cast<std::uint16_t>(stream.height));
  box.put32(0x00480000);  // 72 dpi
  box.put32(0x00480000);
  box.put32(0);  // data size
  box.put16(1);  // frames per sample
  // Compressor name: a length byte, then the name padded to 31 bytes.
  std::size_t nameLength = std::min<std::size_t>(stream.encoderName.size(), 31);
  box.put8(static_cast<std::uint8_t>(nameLength));
  box.putBytes(reinterpret_cast<const std::uint8_t*>(stream.encoderName.data()), nameLength);
  box.putZeros(31 - nameLength);
  box.put16(24);      // depth
  box.put16(0xFFFF);  // no colour table
  box.close(86);
  if (h263) {
    BoxBuffer d263("d263");
    d263.putFourcc("KLVR");
    d263.put8(0);   // decoder version
    d263.put8(10);  // level
    d263.put8(0);   // profile
    d263.close(15);
    box.appendChild(d263);
  } else {
    // Object type 0x20 Visual ISO/IEC 14496-2, stream type 4 (visual) << 2 | 1.
    box.appendChild(
        Esds(0x20, 0x11, static_cast<std::uint32_t>(stream.bitRate), stream.decoderConfig));
  }
  return box;
}

BoxBuffer AudioEntry(const AudioTrackBuffer& audio, const AudioParameterBlock& params) {
  bool amr = audio.kind == AudioKind::AmrNb;
  BoxBuffer box(amr ? "samr" : "mp4a");
  box.putZeros(6);
  box.put16(1);  // data reference index
  box.putZeros(8);
  box.put16(static_cast<std::uint16_t>(params.channels));
  box.put16(16);  // sample size
  box.put32(0);
  // 16.16 fixed point: the rate's low 16 bits, then the fraction.
  box.put16(static_cast<std::uint16_t>(params.sampleRate));
  box.put16(0);
  box.close(36);
  if (amr) {
    BoxBuffer damr("damr");
    damr.putFourcc("appl");
    damr.put8(1);        // decoder version
    damr.put16(0x0080);  // mode set: 12.2 kbit/s only
    damr.put8(0);        // mode change period
    damr.put8(1);        // frames per sample
    damr.close(17);
    box.appendChild(damr);
  } else {
    // Object type 0x40 Audio ISO/IEC 14496-3, stream type 5 (audio) << 2 | 1.
    box.appendChild(
        Esds(0x40, 0x15, static_cast<std::uint32_t>(params.bitRate), params.decoderConfig));
  }
  return box;
}

std::uint32_t DivideOrZero(std::uint64_t value, std::int64_t divisor) {
  return divisor > 0 ? static_cast<std::uint32_t>(value / static_cast<std::uint64_t>(divisor)) : 0;
}

// A video rate that is no whole number (24000/1001): one sample lasts
// `whole` + `part` / num movie units.
struct FractionalFrame {
  std::uint64_t num = 0, whole = 0, part = 0;
};
std::optional<FractionalFrame> FractionalFrameOf(const VideoStreamParameters& stream) {
  if (stream.frameRateNum <= 0 || stream.frameRateDen <= 0) return std::nullopt;
  const std::uint64_t num = static_cast<std::uint64_t>(stream.frameRateNum);
  const std::uint64_t units =
      std::uint64_t{kMovieTimescale} * static_cast<std::uint64_t>(stream.frameRateDen);
  return FractionalFrame{num, units / num, units % num};
}

// Sample k of a fractional rate ends at floor((k + 1) * 90000 * den / num):
// the deltas alternate (3753 and 3754 at 24000/1001) and add up to the exact
// duration; equal deltas in a row share an entry (3003 at 30000/1001 is one).
BoxBuffer FractionalStts(std::uint32_t sampleCount, const FractionalFrame& frame) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;  // count, delta
  std::uint64_t carried = 0;
  for (std::uint32_t k = 0; k < sampleCount; ++k) {
    carried += frame.part;
    const bool longer = carried >= frame.num;
    if (longer) carried -= frame.num;
    const auto delta = static_cast<std::uint32_t>(frame.whole + (longer ? 1 : 0));
    if (!runs.empty() && runs.back().second == delta) {
      ++runs.back().first;
    } else {
      runs.emplace_back(1, delta);
    }
  }
  const std::size_t size = 16 + 8 * runs.size();
  BoxBuffer box = BoxBuffer::Full("stts", 0, 0, size);
  box.put32(static_cast<std::uint32_t>(runs.size()));
  for (const auto& [count, delta] : runs) {
    box.put32(count);
    box.put32(delta);
  }
  box.close(size);
  return box;
}

}  // namespace

std::uint64_t VideoDuration(const VideoTrackBuffer& video) {
  const std::uint64_t count = video.samples.sampleCount();
  if (const auto frame = FractionalFrameOf(video.stream)) {
    return count * frame->whole + count * frame->part / frame->num;
  }
  return video.stream.frameRate > 0
             ? count * kMovieTimescale / static_cast<std::uint64_t>(video.stream.frameRate)
             : 0;
}

BoxBuffer Ftyp(FileKind kind) {
  BoxBuffer box("ftyp");
  if (kind == FileKind::ThreeG2) {
    box.putFourcc("3g2a");
    box.put32(0x00000200);
    box.putFourcc("3g2a");
    box.close(20);
  } else {
    box.putFourcc("mmp4");
    box.put32(1);
    box.putFourcc("mmp4");
    box.putFourcc("3gp5");
    box.putFourcc("3gp4");
    box.close(28);
  }
  return box;
}

BoxBuffer Free() {
  BoxBuffer box("free");
  box.close(8);
  return box;
}

BoxBuffer Mvhd(std::uint32_t clock, std::uint32_t duration, std::uint32_t nextTrackId) {
  BoxBuffer box = BoxBuffer::Full("mvhd", 0, 0);
  box.put32(clock);
  box.put32(clock);
  box.put32(kMovieTimescale);
  box.put32(duration);
  box.put32(0x00010000);  // rate 1.0
  box.put16(0x0100);      // volume 1.0
  box.putZeros(10);
  PutMatrix(box);
  box.putZeros(24);
  box.put32(nextTrackId);
  box.close(108);
  return box;
}

BoxBuffer Drm() {
  BoxBuffer dcmd("dcmd");
  dcmd.mark(PatchMark::DcmdValue);
  dcmd.put16(0x0099);  // placeholder until the file size is known
  dcmd.close(10);
  return Parent("drm ", {&dcmd});
}

BoxBuffer Udta(std::string_view title) {
  BoxBuffer titl = BoxBuffer::Full("titl", 0, 0);
  titl.put16(kLanguageJpn);
  titl.putBytes(reinterpret_cast<const std::uint8_t*>(title.data()), title.size());
  titl.put8(0);
  titl.close(15 + title.size());
  return Parent("udta", {&titl});
}

std::vector<std::uint8_t> DescriptorLength(std::uint32_t length) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(length & 0x7F)};
  for (length >>= 7; length != 0; length >>= 7)
    out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (length & 0x7F)));
  return out;
}

BoxBuffer Esds(std::uint8_t objectType, std::uint8_t streamType, std::uint32_t bitRate,
               const std::vector<std::uint8_t>& config) {
  auto n = static_cast<std::uint32_t>(config.size());
  auto dsiLength = DescriptorLength(n);
  std::uint32_t dcdLength = 13 + 1 + static_cast<std::uint32_t>(dsiLength.size()) + n;
  auto dcdLengthBytes = DescriptorLength(dcdLength);
  std::uint32_t esLength =
      3 + 1 + static_cast<std::uint32_t>(dcdLengthBytes.size()) + dcdLength + 3;
  auto esLengthBytes = DescriptorLength(esLength);

  BoxBuffer box = BoxBuffer::Full("esds", 0, 0);
  box.put8(0x03);  // ES descriptor
  box.putBytes(esLengthBytes.data(), esLengthBytes.size());
  box.put16(0);    // ES ID
  box.put8(0);     // no dependency, URL or OCR stream
  box.put8(0x04);  // decoder config descriptor
  box.putBytes(dcdLengthBytes.data(), dcdLengthBytes.size());
  box.put8(objectType);
  box.put8(streamType);
  box.put8(static_cast<std::uint8_t>(kDecoderBufferSize >> 16));
  box.put16(static_cast<std::uint16_t>(kDecoderBufferSize));
  box.put32(bitRate);  // maximum
  box.put32(bitRate);  // average
  box.put8(0x05);      // decoder specific info
  box.putBytes(dsiLength.data(), dsiLength.size());
  box.putBytes(config.data(), config.size());
  box.put8(0x06);  // SL config descriptor, predefined 2 (MP4 files)
  box.put8(1);
  box.put8(2);
  box.close(12 + 1 + esLengthBytes.size() + esLength);
  return box;
}

BoxBuffer VideoTrak(const VideoTrackBuffer& video, const TrackLayout& layout) {
  const SampleStore& samples = video.samples;
  BoxBuffer stsd = Stsd(VisualEntry(video));
  const auto fractional = FractionalFrameOf(video.stream);
  BoxBuffer stts = fractional ? FractionalStts(samples.sampleCount(), *fractional)
                              : Stts(samples.sampleCount(),
                                     DivideOrZero(kMovieTimescale, video.stream.frameRate));
  BoxBuffer stss = Stss(video.syncSamples);
  BoxBuffer stsc = Stsc(samples.sampleCount());
  BoxBuffer stsz = Stsz(samples.sampleSizes(), 0);
  BoxBuffer stco = Stco(samples.sampleCount(), PatchMark::VideoChunkOffsets);
  BoxBuffer stbl = Parent("stbl", {&stsd, &stts, &stss, &stsc, &stsz, &stco});

  BoxBuffer vmhd = BoxBuffer::Full("vmhd", 0, 1);
  vmhd.put16(0);  // graphics mode: copy
  vmhd.putZeros(6);
  vmhd.close(20);
  BoxBuffer dinf = Dinf();
  BoxBuffer minf = Parent("minf", {&vmhd, &dinf, &stbl});

  BoxBuffer mdhd = Mdhd(layout.clock, kMovieTimescale, layout.movieDuration);
  BoxBuffer hdlr = Hdlr("vide", "VideoHandler");
  BoxBuffer mdia = Parent("mdia", {&mdhd, &hdlr, &minf});

  BoxBuffer trak = Parent("trak", {});
  trak.appendChild(Tkhd(layout, true, static_cast<std::uint32_t>(video.stream.width),
                        static_cast<std::uint32_t>(video.stream.height)));
  if (layout.editList) trak.appendChild(Edts(layout.movieDuration));
  trak.appendChild(mdia);
  return trak;
}

BoxBuffer AudioTrak(const AudioTrackBuffer& audio, const AudioParameterBlock& params,
                    const TrackLayout& layout) {
  const SampleStore& samples = audio.samples;
  bool amr = audio.kind == AudioKind::AmrNb;
  BoxBuffer stsd = Stsd(AudioEntry(audio, params));
  BoxBuffer stts = Stts(samples.sampleCount(), amr ? 160 : 1024);
  BoxBuffer stsc = Stsc(samples.sampleCount());
  // Every AMR-NB frame is taken to be 32 bytes (12.2 kbit/s mode).
  BoxBuffer stsz = Stsz(samples.sampleSizes(), amr ? 32 : 0);
  BoxBuffer stco = Stco(samples.sampleCount(), PatchMark::AudioChunkOffsets);
  BoxBuffer stbl = Parent("stbl", {&stsd, &stts, &stsc, &stsz, &stco});

  BoxBuffer smhd = BoxBuffer::Full("smhd", 0, 0);
  smhd.put16(0);  // balance
  smhd.put16(0);
  smhd.close(16);
  BoxBuffer dinf = Dinf();
  BoxBuffer minf = Parent("minf", {&smhd, &dinf, &stbl});

  // The media duration counts samples at the sample rate.
  std::uint64_t mediaDuration = std::uint64_t{samples.sampleCount()} *
                                static_cast<std::uint64_t>(std::max(params.frameLength, 0));
  BoxBuffer mdhd = Mdhd(layout.clock, static_cast<std::uint32_t>(params.sampleRate),
                        static_cast<std::uint32_t>(mediaDuration));
  BoxBuffer hdlr = Hdlr("soun", "Sound Media Handler");
  BoxBuffer mdia = Parent("mdia", {&mdhd, &hdlr, &minf});

  BoxBuffer trak = Parent("trak", {});
  trak.appendChild(Tkhd(layout, false, 0, 0));
  if (layout.editList) trak.appendChild(Edts(layout.movieDuration));
  trak.appendChild(mdia);
  return trak;
}

}  // namespace zel::boxes
