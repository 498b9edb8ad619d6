// PNG files for pixel buffers: stills, test references and debugging dumps.
//
// Thread safety: the functions share no state; call them from any thread, but not on a buffer
// that another thread is writing.
#pragma once

#include "platform/core/result.h"
#include "platform/video/pixel_buffer.h"

#include <filesystem>

namespace qv::platform {

// BGRA8 (premultiplied) is written as straight-alpha RGBA, R8 as 8-bit grey. The file appears
// complete or not at all: a temporary file beside it is renamed into place. Errors name the file.
Status writePng(const std::filesystem::path &path, const PixelBuffer &buffer);

// Reads any PNG (palette, grey, 16-bit, interlaced, with or without alpha) into premultiplied
// BGRA8. 16-bit samples are rounded to 8 bits; gamma chunks are not applied. Errors name the
// file and the problem.
Result<PixelBufferRef> readPng(const std::filesystem::path &path);

} // namespace qv::platform
