#include "convert/WorkFiles.h"

#include <cstdio>

#include "General/PathJoin.h"

namespace zel {

std::string TemporaryWavPath(const std::string& workingDirectory, int segmentIndex) {
  char name[32];
  std::snprintf(name, sizeof name, "sample_%02d.wav", segmentIndex);
  return JoinPath(workingDirectory, name);
}

}  // namespace zel
