// Picture files: decoding PNG and JPEG into bitmaps, and writing JPEG (PNG writing lives in
// platform/imageio/png.h).
//
// Thread safety: no shared state; any thread.
#pragma once

#include "platform/core/result.h"
#include "platform/image/image.h"

#include <filesystem>

namespace qv::platform {

// Decodes the file's first picture by its content (PNG or JPEG, whatever the extension says)
// into a premultiplied BGRA8 image at the origin. Pictures over 16384 pixels on a side are
// refused, so that a hostile header cannot ask for gigabytes. Errors name the file.
Result<ImageRef> decodeImageFile(const std::filesystem::path &path);

// Writes the opaque colour of a BGRA8 buffer as a baseline JPEG (quality 1..100). The file
// appears complete or not at all. Errors name the file.
Status writeJpeg(const std::filesystem::path &path, const PixelBuffer &buffer, int quality = 90);

} // namespace qv::platform
