#include "app/playback/PcmPullDevice.h"

#include <cstdint>

#include "source/PreviewSource.h"

namespace zel::app {

PcmPullDevice::PcmPullDevice(PreviewSource& source, QObject* parent)
    : QIODevice(parent), source_(source) {}

bool PcmPullDevice::atEnd() const { return source_.playbackSoundDrained(); }

qint64 PcmPullDevice::readData(char* data, qint64 maxSize) {
  if (maxSize <= 0) return 0;
  return static_cast<qint64>(source_.ReadPlaybackPcm(reinterpret_cast<std::uint8_t*>(data),
                                                     static_cast<std::size_t>(maxSize)));
}

qint64 PcmPullDevice::writeData(const char*, qint64) { return -1; }

}  // namespace zel::app
