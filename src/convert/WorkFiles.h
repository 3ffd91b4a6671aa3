#pragma once

#include <string>

namespace zel {

// The segment's temporary WAV file in the working directory:
// "sample_%02d.wav" of the segment index.
std::string TemporaryWavPath(const std::string& workingDirectory, int segmentIndex);

}  // namespace zel
