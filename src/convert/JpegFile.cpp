#include "convert/JpegFile.h"

#include <turbojpeg.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <memory>

#include "General/AtomicFile.h"

namespace zel {
namespace {

struct TjHandleDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;

// Memory the library allocates for the compressed picture.
struct TjBufferDeleter {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

}  // namespace

bool SaveJpeg(const std::string& path, const std::uint8_t* pixels, std::size_t length, int width,
              int height, const JpegSaveOptions& options) {
  if (pixels == nullptr || width <= 0 || height <= 0) return false;
  const std::size_t pitch = static_cast<std::size_t>(width) * 3;
  if (pitch > static_cast<std::size_t>(INT_MAX)) return false;
  if (length / pitch < static_cast<std::size_t>(height)) return false;

  TjHandle handle(tjInitCompress());
  if (!handle) return false;
  const int pixelFormat = options.order == JpegPixelOrder::kBgr ? TJPF_BGR : TJPF_RGB;
  const int subsampling = options.subsampling == JpegSubsampling::k444 ? TJSAMP_444 : TJSAMP_420;
  const int flags = (options.bottomUp ? TJFLAG_BOTTOMUP : 0) | TJFLAG_ACCURATEDCT;

  unsigned char* compressed = nullptr;
  unsigned long compressedSize = 0;
  const int result =
      tjCompress2(handle.get(), pixels, width, static_cast<int>(pitch), height, pixelFormat,
                  &compressed, &compressedSize, subsampling, options.quality, flags);
  TjBuffer owned(compressed);
  if (result != 0 || !owned || compressedSize == 0) return false;

  return WriteWholeFile(path, {std::span<const std::uint8_t>(owned.get(), compressedSize)});
}

}  // namespace zel
