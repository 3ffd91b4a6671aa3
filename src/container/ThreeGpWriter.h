#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "General/Fault.h"
#include "General/MediaTypes.h"
#include "container/TrackBuffers.h"

namespace zel {

// The longest track that the file's 32-bit durations at 90 kHz can hold
// (13 h 15 min 21 s), in 100-ns units.
inline constexpr std::int64_t kMaxTrackDurationHns =
    std::int64_t{0xFFFFFFFF} * kHnsPerSecond / 90000;

struct WriterOptions {
  ContainerMode containerMode = ContainerMode::Both;  // decides which tracks carry an edit list
  std::optional<std::uint32_t> clockValue;            // creation time; the system clock when unset
};

// Writes one 3GP (kind ThreeGp) or 3G2 (kind ThreeG2) file from the two
// stores. The file is basePath with its extension replaced by ".3gp" or
// ".3g2"; it is written under a temporary name and replaces a file of that
// name only once it is complete. Returns the file's size in bytes, or size 0
// and the fault when it could not be written (an earlier file of that name
// is left as it was). Every write and the close are checked (ENOSPC, EFBIG,
// EIO...). A file that would pass 4 GiB (its chunk offsets are 32-bit), or
// whose durations pass kMaxTrackDurationHns, is refused the same way. With
// neither track present nothing is written, and the result is size 0
// without a fault. A present track without
// samples keeps its trak, with empty sample tables.
struct WrittenFile {
  std::uint32_t size = 0;  // bytes written; 0 when no file was made
  Fault fault;             // kFileNotWritten with the file's path and errno
};
WrittenFile ThreeGpWriter(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                          const std::string& basePath, FileKind kind,
                          const WriterOptions& options = {});

// The size in bytes of the file ThreeGpWriter would write from these stores,
// computed from their sample counts and sizes without writing anything; 0
// with neither track present. Only the counts and the bytes' total matter, so
// stores of placeholder samples tell a file's size before it is encoded.
std::uint64_t ThreeGpFileSize(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                              const std::string& basePath, FileKind kind,
                              const WriterOptions& options = {});

// The file the writer produces: basePath cut at the last '.' of its last
// component (a dot in a folder name does not count; folders end at '/'),
// then ".3gp" or ".3g2".
std::string ThreeGpOutputPath(const std::string& basePath, FileKind kind);

// The title stored in the 3GP file's titl box (without its zero byte): the
// last component of basePath, extension included.
std::string ThreeGpTitle(const std::string& basePath);

// The creation time written into the file: seconds since 1970 plus
// 2082902400, modulo 2^32.
std::uint32_t ThreeGpClockValue(std::int64_t unixSeconds);

}  // namespace zel
