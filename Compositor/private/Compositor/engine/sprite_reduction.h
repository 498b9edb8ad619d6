// Reduced copies of the pointer sprite. The pass samples the sprite with four bilinear taps,
// which average nothing when a 300-pixel bitmap is drawn 32 pixels tall: edges come out jagged.
// Sampling a copy already area-averaged close to the drawn size keeps them smooth.
#pragma once

#include "platform/video/pixel_buffer.h"

namespace qv {

// The size after `level` halvings, rounded up.
int reducedSize(int size, int level) noexcept;

// The most halvings of a w × h sprite that keep it at least drawnW × drawnH; 0 when it is drawn
// at its own size or larger, or the drawn size is not a finite positive number.
int reductionLevel(int w, int h, double drawnW, double drawnH) noexcept;

// `src` (premultiplied BGRA8) averaged down to the size of `dst` (no larger than `src` on either
// axis): each destination pixel is the mean of the source area it covers, source pixels cut by
// its border weighted by the part inside. Both buffers keep their row order.
void areaReduce(const platform::PixelBuffer &src, platform::PixelBuffer &dst);
// The sprite after `level` halvings: the bitmap itself at level 0, else a new reduced copy;
// null when memory runs out.
platform::PixelBufferRef reducedSprite(const platform::PixelBufferRef &bitmap, int level);

} // namespace qv
