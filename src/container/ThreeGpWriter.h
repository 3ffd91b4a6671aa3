#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "container/TrackBuffers.h"

namespace zel {

class Notifier;

struct WriterOptions {
  ContainerMode containerMode = ContainerMode::Both;  // decides which tracks carry an edit list
  Notifier* notifier = nullptr;                       // "ファイル書き込み失敗[%s]"
  std::optional<std::uint32_t> clockValue;            // creation time; the system clock when unset
};

// Writes one 3GP (kind ThreeGp) or 3G2 (kind ThreeG2) file from the two
// stores. The file is basePath with its extension replaced by ".3gp" or
// ".3g2". Returns the file's size in bytes, or 0 when it could not be written
// (then the partial file is removed and the notifier has been told).
std::uint32_t ThreeGpWriter(const AudioTrackBuffer& audio, const VideoTrackBuffer& video,
                            const std::string& basePath, FileKind kind,
                            const WriterOptions& options = {});

}  // namespace zel
