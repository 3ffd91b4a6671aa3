#include "container/ThreeGpWriter.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <span>
#include <utility>

#include "General/AtomicFile.h"
#include "General/Log.h"
#include "General/PathJoin.h"
#include "container/BoxBuffer.h"
#include "container/ThreeGpBoxes.h"

namespace zel {
namespace {

using boxes::kMovieTimescale;

static_assert(kMaxTrackDurationHns == std::int64_t{0xFFFFFFFF} * kHnsPerSecond / kMovieTimescale);

constexpr std::size_t kMdatHeaderSize = 24;
constexpr std::uint64_t kMaxFileSize = std::numeric_limits<std::uint32_t>::max();

// The media-data header: an mdat that spans the whole media data, whose first
// 16 bytes are a "wide" box and the header of an mdat of size 0.
std::array<std::uint8_t, kMdatHeaderSize> MdatHeader(std::uint32_t size) {
  return {static_cast<std::uint8_t>(size >> 24),
          static_cast<std::uint8_t>(size >> 16),
          static_cast<std::uint8_t>(size >> 8),
          static_cast<std::uint8_t>(size),
          'm',
          'd',
          'a',
          't',
          0,
          0,
          0,
          8,
          'w',
          'i',
          'd',
          'e',
          0,
          0,
          0,
          0,
          'm',
          'd',
          'a',
          't'};
}

// Fills one track's chunk offsets from `offset` on; returns the offset after
// its last sample.
std::uint64_t PatchChunkOffsets(BoxBuffer& moov, PatchMark mark,
                                const std::vector<std::uint32_t>& sizes, std::uint64_t offset) {
  std::optional<std::size_t> at = moov.markOffset(mark);
  if (!at) return offset;
  for (std::uint32_t size : sizes) {
    moov.patch32(*at, static_cast<std::uint32_t>(offset));
    *at += 4;
    offset += size;
  }
  return offset;
}

// Writes the pieces in order as the whole new file at path: under a
// temporary name, renamed over path only when everything was written.
// False with errno set to the reason.
bool WriteFile(const std::string& path, std::span<const std::span<const std::uint8_t>> pieces) {
  AtomicFile file(path);
  bool ok = file.open();
  for (auto piece = pieces.begin(); ok && piece != pieces.end(); ++piece) ok = file.write(*piece);
  ok = ok && file.commit();
  if (!ok) errno = file.error();
  return ok;
}

}  // namespace

std::string ThreeGpOutputPath(const std::string& basePath, FileKind kind) {
  return PathWithoutExtension(basePath) + (kind == FileKind::ThreeG2 ? ".3g2" : ".3gp");
}

std::string ThreeGpTitle(const std::string& basePath) { return PathFileName(basePath); }

std::uint32_t ThreeGpClockValue(std::int64_t unixSeconds) {
  // 2082902400, not 2082844800 (1904 to 1970): kept as the players know it.
  return static_cast<std::uint32_t>(unixSeconds + 2082902400LL);
}

namespace {

// The file's boxes before their offsets are patched, and its size.
struct Layout {
  BoxBuffer moov;
  BoxBuffer ftyp;
  BoxBuffer free;
  std::uint64_t videoTicks = 0, audioTicks = 0;  // durations in movie units
  std::uint64_t videoBytes = 0, audioBytes = 0;
  std::uint64_t mdatSize = 0;
  std::uint64_t total = 0;
};

Layout LayOut(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
              const std::string& basePath, FileKind kind, const WriterOptions& options) {
  static const AudioParameterBlock kNoAudioParameters;
  const AudioParameterBlock& audioParams = audio.params ? *audio.params : kNoAudioParameters;
  const bool threeGp = kind != FileKind::ThreeG2;
  const std::uint32_t clock =
      options.clockValue ? *options.clockValue : ThreeGpClockValue(std::time(nullptr));
  Layout l{BoxBuffer("moov"), boxes::Ftyp(kind), boxes::Free()};

  // Durations in movie units (90000 per second), 64-bit intermediates.
  l.videoTicks = video.present ? boxes::VideoDuration(video) : 0;
  if (audio.present && audioParams.sampleRate > 0 && audioParams.frameLength > 0)
    l.audioTicks = std::uint64_t{audio.samples.sampleCount()} *
                   static_cast<std::uint64_t>(audioParams.frameLength) * kMovieTimescale /
                   static_cast<std::uint64_t>(audioParams.sampleRate);
  const auto videoDuration = static_cast<std::uint32_t>(l.videoTicks);
  const auto audioDuration = static_cast<std::uint32_t>(l.audioTicks);

  std::uint32_t trackCount = (video.present ? 1u : 0u) + (audio.present ? 1u : 0u);
  BoxBuffer& moov = l.moov;
  moov.close(8);
  moov.appendChild(
      boxes::Mvhd(clock, video.present ? videoDuration : audioDuration, trackCount + 1));
  if (threeGp) moov.appendChild(boxes::Drm());
  if (video.present) {
    // Only a file of the 3GP-only mode gives its video track an edit list.
    bool editList = threeGp && options.containerMode == ContainerMode::ThreeGpOnly;
    moov.appendChild(boxes::VideoTrak(video, {1, clock, videoDuration, editList}));
  }
  if (audio.present)
    moov.appendChild(boxes::AudioTrak(audio, audioParams,
                                      {video.present ? 2u : 1u, clock, audioDuration, threeGp}));
  if (threeGp) moov.appendChild(boxes::Udta(ThreeGpTitle(basePath)));

  l.videoBytes = video.present ? video.samples.totalBytes() : 0;
  l.audioBytes = audio.present ? audio.samples.totalBytes() : 0;
  l.mdatSize = kMdatHeaderSize + l.videoBytes + l.audioBytes;
  l.total = l.ftyp.size() + moov.size() + l.mdatSize + (threeGp ? 2 * l.free.size() : 0);
  return l;
}

}  // namespace

std::uint64_t ThreeGpFileSize(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                              const std::string& basePath, FileKind kind,
                              const WriterOptions& options) {
  if (!audio.present && !video.present) return 0;
  return LayOut(audio, video, basePath, kind, options).total;
}

WrittenFile ThreeGpWriter(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                          const std::string& basePath, FileKind kind,
                          const WriterOptions& options) {
  // Nothing to write without a track; the driver does not call us then.
  if (!audio.present && !video.present) return {};

  const bool threeGp = kind != FileKind::ThreeG2;
  Layout l = LayOut(audio, video, basePath, kind, options);
  BoxBuffer& moov = l.moov;
  const BoxBuffer& ftyp = l.ftyp;
  const BoxBuffer& free = l.free;
  const std::uint64_t total = l.total;

  const std::string path = ThreeGpOutputPath(basePath, kind);
  // The fault names the file and why it could not be written.
  auto fail = [&](int error) {
    return WrittenFile{0, Fault{FaultKind::kFileNotWritten, path, error, {}}};
  };
  // Chunk offsets, the file size and the durations are 32-bit fields.
  if (total > kMaxFileSize || l.videoTicks > 0xFFFFFFFF || l.audioTicks > 0xFFFFFFFF)
    return fail(EFBIG);
  // A box laid out wrong is a fault of ours; no file is made from it.
  for (const BoxBuffer* box : {&std::as_const(moov), &ftyp, &free}) {
    if (!box->broken().empty()) {
      LogError("box layout: " + box->broken());
      return fail(EINVAL);
    }
  }

  // Video samples first, then audio, each sample its own chunk.
  std::uint64_t offset = threeGp ? ftyp.size() + moov.size() + 2 * free.size() + kMdatHeaderSize
                                 : ftyp.size() + kMdatHeaderSize;
  if (video.present)
    offset =
        PatchChunkOffsets(moov, PatchMark::VideoChunkOffsets, video.samples.sampleSizes(), offset);
  if (audio.present)
    PatchChunkOffsets(moov, PatchMark::AudioChunkOffsets, audio.samples.sampleSizes(), offset);
  if (auto dcmd = moov.markOffset(PatchMark::DcmdValue))
    moov.patch16(*dcmd, (total % 2 != 0) ? 0x0D0C : 0x0908);

  auto mdat = MdatHeader(static_cast<std::uint32_t>(l.mdatSize));
  std::span<const std::uint8_t> videoData(video.samples.data(), l.videoBytes);
  std::span<const std::uint8_t> audioData(audio.samples.data(), l.audioBytes);
  bool ok;
  if (threeGp) {
    const std::span<const std::uint8_t> pieces[] = {
        ftyp.bytes(), moov.bytes(), free.bytes(), free.bytes(), mdat, videoData, audioData};
    ok = WriteFile(path, pieces);
  } else {
    const std::span<const std::uint8_t> pieces[] = {ftyp.bytes(), mdat, videoData, audioData,
                                                    moov.bytes()};
    ok = WriteFile(path, pieces);
  }
  if (!ok) return fail(errno);
  return WrittenFile{static_cast<std::uint32_t>(total), {}};
}

}  // namespace zel
