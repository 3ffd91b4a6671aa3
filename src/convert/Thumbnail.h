#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/SegmentInfo.h"

namespace zel {

// Writes basePath + ".jpg" (outputWidth x outputHeight, quality 100) from one
// frame at the source size of info (packed YV12, or bottom-up RGB24 when
// rgb24Input), through a temporary BMP of the same name, which is deleted.
// The BMP is made in bmpFolder (the private work folder), so that a user's
// file called <name>.bmp beside the thumbnail is never touched; an empty
// bmpFolder puts it beside the JPEG. Returns 1 when the JPEG was written,
// 0 otherwise; no BMP is left behind.
int WriteThumbnail(const VideoSegmentInfo& info, bool rgb24Input, const std::uint8_t* frame,
                   std::size_t length, int outputWidth, int outputHeight,
                   const std::string& basePath, const std::string& bmpFolder = {});

// The first half of WriteThumbnail: writes the frame as the 24-bit BMP file
// bmpPath (58-byte header, bottom-up rows without padding). False when the
// frame is shorter than the source size asks for or the file cannot be
// written; nothing is left behind then.
bool WriteThumbnailBmp(const VideoSegmentInfo& info, bool rgb24Input, const std::uint8_t* frame,
                       std::size_t length, const std::string& bmpPath);

}  // namespace zel
