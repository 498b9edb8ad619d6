// The image-filter renderer: the whole frame composed from image operations (crop, resample,
// composite-over, blur, masks) instead of the compositing pass. The frame pipeline uses it for
// the frames the pass cannot draw: those with an active blur mask, and every frame once the pass
// is switched off. It follows the same layout rules, and so gives the same picture, plus blurred
// privacy masks.
//
// Where the pass samples a source once per output pixel, the layers here are resampled once
// through the whole chain of placement, zoom and scaling, so that both renderers filter every
// source the same way.
//
// Thread safety: pure, apart from the shared rounded-corner mask cache, which has its own lock.
#pragma once

#include "platform/core/geometry.h"
#include "platform/image/float_image.h"
#include "platform/image/image.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <memory>

namespace qv {
class SceneInstruction;
}

namespace qv::SceneRenderer {

// The canvas at source time `atMs`: opaque, premultiplied, extent (0, 0, W, H) with W × H the
// instruction's render size in whole pixels. `screen` and `webcam` are the decoded frames (either
// may be null); `background` is the scene background at canvas size; `personMask` is the
// segmentation of the webcam frame on its pixels (null: no cut-out). Empty when memory runs out
// or the render size has no pixels.
platform::FloatImage render(const platform::PixelBufferRef &screen,
                            const platform::PixelBufferRef &webcam,
                            const platform::ImageRef &background,
                            const SceneInstruction &instruction,
                            const platform::ImageRef &personMask, std::int64_t atMs);

// The frame's rounded-corner clip: coverage of `target` with corner `radius` over its pixels.
// Kept for the last geometry asked for, since it changes only with the layout.
std::shared_ptr<const platform::FloatImage> roundMask(const Rect &target, double radius);

} // namespace qv::SceneRenderer
