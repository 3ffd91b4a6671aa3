#include "convert/Thumbnail.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "General/GeneralFile.h"
#include "General/PathJoin.h"
#include "convert/BmpFile.h"
#include "convert/FrameConversion.h"
#include "convert/ImageScaling.h"
#include "convert/JpegFile.h"

namespace zel {
namespace {

// Removes the intermediate BMP however the thumbnail ends.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

 private:
  std::string path_;
};

// The frame's pixels in the BMP's layout: bottom-up B, G, R rows.
std::optional<std::vector<std::uint8_t>> BmpPixels(const VideoSegmentInfo& info, bool rgb24Input,
                                                   const std::uint8_t* frame, std::size_t length) {
  const std::size_t area =
      static_cast<std::size_t>(info.sourceWidth) * static_cast<std::size_t>(info.sourceHeight);
  const std::size_t pixelBytes = area * 3;
  if (rgb24Input) {
    // already a bottom-up 24-bit image of the source size
    if (length < pixelBytes) return std::nullopt;
    return std::vector<std::uint8_t>(frame, frame + pixelBytes);
  }
  if (length < area * 3 / 2) return std::nullopt;
  std::vector<std::uint8_t> pixels(pixelBytes);
  if (YV12ToRgb24(info, frame, length, pixels.data()) != pixelBytes) return std::nullopt;
  return pixels;
}

int WriteThumbnailUnguarded(const VideoSegmentInfo& info, bool rgb24Input,
                            const std::uint8_t* frame, std::size_t length, int outputWidth,
                            int outputHeight, const std::string& basePath,
                            const std::string& bmpFolder) {
  if (outputWidth <= 0 || outputHeight <= 0) return 0;

  // The frame travels through a BMP file, which goes again before we
  // return, whatever happens.
  const std::string bmpPath = bmpFolder.empty()
                                  ? basePath + ".bmp"
                                  : JoinPath(bmpFolder, GneGetFileName(basePath) + ".bmp");
  const TemporaryFile bmp(bmpPath);
  if (!WriteThumbnailBmp(info, rgb24Input, frame, length, bmpPath)) return 0;
  const std::optional<BmpImage> image = ReadBmpFile(bmpPath);
  if (!image) return 0;

  // The thumbnail shows what the movie shows: with keepaspect the picture
  // keeps its shape inside black bars.
  const PictureArea area = FitPicture(image->width, image->height, info.sampleAspectNum,
                                      info.sampleAspectDen, outputWidth, outputHeight,
                                      info.keepAspect);
  std::vector<std::uint8_t> scaled =
      ScaleBilinear(image->pixels.data(), image->pixels.size(), image->width, image->height,
                    area.width, area.height, 3);
  if (scaled.empty()) return 0;
  if (area != PictureArea{0, 0, outputWidth, outputHeight}) {
    std::vector<std::uint8_t> framed(static_cast<std::size_t>(outputWidth) * outputHeight * 3, 0);
    // rows are bottom-up: the area's top row is its last row in memory
    const int bottom = outputHeight - area.y - area.height;
    for (int row = 0; row < area.height; ++row) {
      std::copy_n(scaled.begin() + static_cast<std::ptrdiff_t>(row) * area.width * 3,
                  area.width * 3,
                  framed.begin() + (static_cast<std::ptrdiff_t>(bottom + row) * outputWidth +
                                    area.x) * 3);
    }
    scaled = std::move(framed);
  }

  JpegSaveOptions options;
  options.quality = 100;
  options.order = JpegPixelOrder::kBgr;
  options.bottomUp = true;
  return SaveJpeg(basePath + ".jpg", scaled.data(), scaled.size(), outputWidth, outputHeight,
                  options)
             ? 1
             : 0;
}

}  // namespace

bool WriteThumbnailBmp(const VideoSegmentInfo& info, bool rgb24Input, const std::uint8_t* frame,
                       std::size_t length, const std::string& bmpPath) {
  if (frame == nullptr || info.sourceWidth <= 0 || info.sourceHeight <= 0) return false;
  try {
    const std::optional<std::vector<std::uint8_t>> pixels =
        BmpPixels(info, rgb24Input, frame, length);
    return pixels && WriteBmpFile(bmpPath, info.sourceWidth, info.sourceHeight, pixels->data(),
                                  pixels->size());
  } catch (...) {
    return false;
  }
}

int WriteThumbnail(const VideoSegmentInfo& info, bool rgb24Input, const std::uint8_t* frame,
                   std::size_t length, int outputWidth, int outputHeight,
                   const std::string& basePath, const std::string& bmpFolder) {
  // Thumbnails are a side product of a conversion: a failure, even running
  // out of memory, costs the picture and nothing else.
  try {
    return WriteThumbnailUnguarded(info, rgb24Input, frame, length, outputWidth, outputHeight,
                                   basePath, bmpFolder);
  } catch (...) {
    return 0;
  }
}

}  // namespace zel
