#include "convert/AudioPath.h"

#include <faac.h>
#include <opencore-amrnb/interf_enc.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "convert/ConversionParameters.h"
#include "convert/Loudness.h"
#include "convert/WorkFiles.h"
#include "settings/ValueLists.h"

namespace zel {

namespace {

constexpr int kAacFrameLength = 1024;
constexpr int kAmrFrameLength = 160;
constexpr int kAmrRateHz = 8000;
constexpr std::size_t kAmrMaxFrameBytes = 64;  // storage format, mode 12.2: 32 bytes
// Every converted block carries this many zeroed bytes beyond its PCM, which
// a trailing partial frame reads as silence.
constexpr std::size_t kSpareBytes = 10000;
// FAAC 1.30 gives back four frames when drained; never loop for ever.
constexpr int kMaxFlushCalls = 16;

struct FaacCloser {
  void operator()(void* handle) const { faacEncClose(handle); }
};
struct AmrCloser {
  void operator()(void* state) const { Encoder_Interface_exit(state); }
};
using FaacHandle = std::unique_ptr<void, FaacCloser>;
using AmrState = std::unique_ptr<void, AmrCloser>;

std::uint32_t LoadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The file in one piece: its size first, then one read (a segment's WAV
// holds megabytes; reading it byte by byte through a stream iterator cost
// more than encoding it).
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& image) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  const std::streamoff size = file.tellg();
  if (size < 0) return false;
  image.resize(static_cast<std::size_t>(size));
  file.seekg(0);
  file.read(reinterpret_cast<char*>(image.data()), size);
  image.resize(static_cast<std::size_t>(file.gcount()));
  return !file.bad();
}

// The WAV header is not parsed: the PCM starts after the first "data" tag and
// its 32-bit length, wherever the tag lies (even inside another chunk). The
// length is cut to the bytes that are really there. Returns false when there
// is no tag or no PCM.
bool LocatePcm(const std::vector<std::uint8_t>& image, std::size_t& offset, std::size_t& length) {
  static constexpr std::array<std::uint8_t, 4> kTag = {'d', 'a', 't', 'a'};
  if (image.size() < 8) return false;
  // A tag whose length word does not fit in the file cannot describe PCM.
  const auto last = image.end() - 4;
  const auto tag = std::search(image.begin(), last, kTag.begin(), kTag.end());
  if (tag == last || tag + 8 > image.end()) return false;
  const std::size_t at = static_cast<std::size_t>(tag - image.begin());
  offset = at + 8;
  length = std::min<std::size_t>(LoadLe32(image.data() + at + 4), image.size() - offset);
  return length != 0;
}

}  // namespace

void SetUpAudioSegment(AudioParameterBlock& block, AudioKind kind, int targetRate,
                       int targetChannels, int sourceRate, int sourceChannels,
                       AudioSegmentInfo& info) {
  // Taken from the conversion parameters at every segment: the block itself
  // is cleared whenever the video encoder context is reset.
  block.sampleRate = targetRate != 0 ? targetRate : sourceRate;
  block.channels = targetChannels != 0 ? targetChannels : sourceChannels;
  if (kind == AudioKind::Aac) {
    block.frameLength = kAacFrameLength;
    block.bitRate = AacBitRate(block.sampleRate);
  } else if (kind == AudioKind::AmrNb) {
    // AMR-NB is narrow-band speech: 8000 Hz mono whatever was asked.
    block.sampleRate = kAmrRateHz;
    block.channels = 1;
    block.frameLength = kAmrFrameLength;
    block.bitRate = kAmrBitRate;
  }
  info.sourceRate = sourceRate;
  info.sourceChannels = sourceChannels;
  info.targetRate = block.sampleRate;
  info.targetChannels = block.channels;
  info.rateRatio = sourceRate > 0 ? static_cast<int>(10000LL * block.sampleRate / sourceRate) : 0;
  info.bitRate = block.bitRate;
}

int AmrModeForBitRate(int bitRate) {
  struct Row {
    int low, high, mode;
  };
  static constexpr Row kRows[] = {
      {0, 4999, MR475},   {5000, 5899, MR515}, {5900, 6699, MR59},    {6700, 7000, MR67},
      {7001, 7949, MR74}, {7950, 9999, MR795}, {10000, 11999, MR102}, {12000, 64000, MR122},
  };
  for (const Row& row : kRows) {
    if (bitRate >= row.low && bitRate <= row.high) return row.mode;
  }
  return MR122;
}

struct AudioEncoder::Impl {
  AudioTrackBuffer& store;
  ConversionState& state;
  AudioParameterBlock* block = nullptr;
  AudioSegmentInfo info;
  AudioKind kind = AudioKind::None;

  FaacHandle faac;
  unsigned long inputSamples = 0;  // per faacEncEncode call, all channels
  unsigned long maxOutputBytes = 0;
  AmrState amr;
  Mode amrMode = MR122;
  std::optional<double> gain;

  Impl(AudioTrackBuffer& s, ConversionState& st) : store(s), state(st) {}

  Fault openAac();
  Fault openAmr();
  void encodeFrames(const std::vector<std::uint8_t>& pcm, std::size_t length);
  void commitFrame(bool& primed, std::uint32_t framesFed, std::size_t n);
  void drainAac(bool& primed, std::uint32_t framesFed);
};

Fault AudioEncoder::Impl::openAac() {
  faac.reset(faacEncOpen(static_cast<unsigned long>(block->sampleRate),
                         static_cast<unsigned int>(block->channels), &inputSamples,
                         &maxOutputBytes));
  if (!faac) {
    return Fault{FaultKind::kAacEncoderNotOpened};
  }
  faacEncConfigurationPtr config = faacEncGetCurrentConfiguration(faac.get());
  // The configuration layout below is that of the header we were built with.
  if (config == nullptr || config->version != FAAC_CFG_VERSION) {
    faac.reset();
    return Fault{FaultKind::kAacConfigurationUnreadable};
  }
  config->mpegVersion = MPEG4;
  config->aacObjectType = LOW;  // AAC-LC: what 3GPP players decode; FAAC 1.30 refuses Main
  config->allowMidside = 1;
  config->useTns = 0;
  config->bitRate = static_cast<unsigned long>(block->bitRate);  // per channel
  config->outputFormat = RAW_STREAM;  // the container carries the framing
  config->inputFormat = FAAC_INPUT_16BIT;
  if (!faacEncSetConfiguration(faac.get(), config)) {
    faac.reset();
    return Fault{FaultKind::kAacConfigurationRefused};
  }
  unsigned char* asc = nullptr;
  unsigned long ascSize = 0;
  if (faacEncGetDecoderSpecificInfo(faac.get(), &asc, &ascSize) == 0 && asc != nullptr) {
    block->decoderConfig.assign(asc, asc + ascSize);
  }
  std::free(asc);  // FAAC hands the buffer over with malloc
  return {};
}

Fault AudioEncoder::Impl::openAmr() {
  amrMode = static_cast<Mode>(AmrModeForBitRate(block->bitRate));
  amr.reset(Encoder_Interface_init(0));  // no discontinuous transmission
  return amr ? Fault{} : Fault{FaultKind::kAudioEncoderNotOpen};
}

AudioEncoder::AudioEncoder(AudioTrackBuffer& store, ConversionState& state)
    : impl_(std::make_unique<Impl>(store, state)) {}

AudioEncoder::~AudioEncoder() = default;

Fault AudioEncoder::OpenAudioEncoder(AudioParameterBlock& block, const AudioSegmentInfo& info,
                                     AudioKind kind) {
  CloseAudioEncoder();
  Impl& s = *impl_;
  s.block = &block;
  s.info = info;
  s.kind = kind;
  s.inputSamples = 0;
  s.maxOutputBytes = 0;
  s.store.samples.clear();
  s.store.kind = kind;
  s.store.params = &block;
  s.store.present = kind != AudioKind::None;
  block.decoderConfig.clear();
  switch (kind) {
    case AudioKind::Aac:
      return s.openAac();
    case AudioKind::AmrNb:
      return s.openAmr();
    case AudioKind::None:
      break;
  }
  return {};
}

unsigned long AudioEncoder::inputSamples() const { return impl_->inputSamples; }

int AudioEncoder::amrMode() const { return impl_->amr ? impl_->amrMode : -1; }

long AudioEncoder::faacBitRate() const {
  if (!impl_->faac) return -1;
  return static_cast<long>(faacEncGetCurrentConfiguration(impl_->faac.get())->bitRate);
}

void AudioEncoder::ShowCaption() const {
  if (const CaptionSink* window = impl_->state.statusWindow.load()) {
    char caption[64];
    std::snprintf(caption, sizeof caption, "file:%06d audio 変換中",
                  impl_->state.segmentIndex.load());
    (*window)(caption);
  }
}

Fault AudioEncoder::EncodeTemporaryWav(const std::string& workingDirectory, bool withCaption) {
  Impl& s = *impl_;
  const int segment = s.state.segmentIndex.load();
  if (withCaption) ShowCaption();

  std::vector<std::uint8_t> image;
  if (!ReadWholeFile(TemporaryWavPath(workingDirectory, segment), image)) {
    return Fault{FaultKind::kTemporaryWavUnreadable};
  }
  std::size_t pcmOffset = 0, length = 0;
  if (!LocatePcm(image, pcmOffset, length)) return Fault{FaultKind::kNoPcm};
  if (s.block == nullptr || (!s.faac && !s.amr)) return Fault{FaultKind::kAudioEncoderNotOpen};

  // The PCM is already at the target rate and channel count: the source
  // resampled it with a low-pass filter while decoding. Every frame may read
  // kSpareBytes of silence beyond it.
  image.erase(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(pcmOffset));
  image.resize(length);  // whatever follows the PCM in the file is no sound
  image.resize(length + kSpareBytes, 0);

  // Less than one second of PCM gives an empty track.
  const std::uint64_t oneSecond = 2ULL *
                                  static_cast<std::uint64_t>(std::max(s.block->sampleRate, 0)) *
                                  static_cast<std::uint64_t>(std::max(s.block->channels, 0));
  if (length < oneSecond) return {};
  if (s.gain) {
    const int channels = std::max(s.block->channels, 1);
    ApplyGain(image.data(), length / (2 * channels), channels, s.block->sampleRate, *s.gain);
  }
  s.encodeFrames(image, length);
  return {};
}

// Frames start at byte offsets 0, 2F, 4F ... while the offset is below
// length - F (F in samples): a trailing frame is encoded when more than half
// of its bytes exist, the rest read as the block's silence.
void AudioEncoder::Impl::encodeFrames(const std::vector<std::uint8_t>& pcm, std::size_t length) {
  const bool aac = static_cast<bool>(faac);
  const std::size_t frameSamples =
      aac ? static_cast<std::size_t>(block->frameLength) * block->channels : kAmrFrameLength;
  const std::size_t frameBytes = 2 * frameSamples;
  if (aac && inputSamples != frameSamples) return;  // FAAC disagrees on the frame: encode nothing
  if (length <= frameSamples) return;
  // Room for the last frame even when the spare bytes could not cover it.
  std::vector<std::uint8_t> padded;
  const std::uint8_t* base = pcm.data();
  const std::size_t lastOffset = (length - frameSamples - 1) / frameBytes * frameBytes;
  if (lastOffset + frameBytes > pcm.size()) {
    padded.assign(lastOffset + frameBytes, 0);
    std::memcpy(padded.data(), pcm.data(), std::min(pcm.size(), padded.size()));
    base = padded.data();
  }

  std::uint32_t framesFed = 0;
  bool primed = !aac;
  SampleStore& out = store.samples;
  for (std::size_t offset = 0; offset < length - frameSamples; offset += frameBytes) {
    // 16-bit samples with native (little) endianness, as both encoders read them.
    const std::uint8_t* frame = base + offset;
    int n;
    if (aac) {
      std::uint8_t* dst = out.prepareAppend(maxOutputBytes);
      n = faacEncEncode(
          faac.get(), reinterpret_cast<std::int32_t*>(const_cast<std::uint8_t*>(frame)),
          static_cast<unsigned int>(inputSamples), dst, static_cast<unsigned int>(maxOutputBytes));
    } else {
      std::uint8_t* dst = out.prepareAppend(kAmrMaxFrameBytes);
      n = Encoder_Interface_Encode(amr.get(), amrMode, reinterpret_cast<const short*>(frame), dst,
                                   0);
    }
    ++framesFed;
    // A negative result is an encoder error for this frame: it adds nothing
    // and the walk goes on, so one bad frame does not cost the whole track.
    if (n > 0) commitFrame(primed, framesFed, static_cast<std::size_t>(n));
  }
  if (aac) drainAac(primed, framesFed);
}

// Records one encoder output. FAAC's first frame holds nothing but its
// 1024-sample start-up delay: kept, it would put the whole sound one frame
// (128 ms at 8000 Hz) behind the pictures, as players play what the track
// says. It is dropped (primed false until then), so the track's first frame
// is the segment's first 1024 samples. AMR-NB's own delay, 40 samples
// (5 ms), stays.
void AudioEncoder::Impl::commitFrame(bool& primed, std::uint32_t framesFed, std::size_t n) {
  SampleStore& out = store.samples;
  if (!primed) {
    primed = true;
    return;
  }
  if (out.sampleCount() < framesFed) out.commitSample(n);
}

// FAAC 1.30 holds three frames back; draining gives them up with the end of
// the last frame fed, so that the track keeps as many frames as were fed and
// lasts as long as the PCM (within half a frame).
void AudioEncoder::Impl::drainAac(bool& primed, std::uint32_t framesFed) {
  SampleStore& out = store.samples;
  for (int call = 0; call < kMaxFlushCalls; ++call) {
    std::uint8_t* dst = out.prepareAppend(maxOutputBytes);
    const int n =
        faacEncEncode(faac.get(), nullptr, 0, dst, static_cast<unsigned int>(maxOutputBytes));
    if (n <= 0) break;
    commitFrame(primed, framesFed, static_cast<std::size_t>(n));
  }
}

void AudioEncoder::SetGain(std::optional<double> gain) { impl_->gain = gain; }

void AudioEncoder::CloseAudioEncoder() {
  impl_->faac.reset();
  impl_->amr.reset();
}

}  // namespace zel
