// Images: immutable premultiplied BGRA bitmaps placed in y-up pixel space. Row 0 of the bitmap
// is the top of the extent. Images are compared by identity (shared_ptr), which is how caches
// notice that a producer handed back the same picture.
// Thread safety: immutable after construction; share freely.
#pragma once

#include "platform/core/geometry.h"
#include "platform/gfx/device.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <memory>

namespace qv::platform {

class Image;
using ImageRef = std::shared_ptr<const Image>;

class Image {
public:
    // Null when the bitmap is null or not BGRA8.
    static ImageRef make(PixelBufferRef bitmap, Point origin = {});
    // A w × h image of one premultiplied colour (components 0..1, straight; premultiplied here).
    static ImageRef solid(int width, int height, double r, double g, double b, double a = 1);

    Rect extent() const noexcept {
        return {origin_.x, origin_.y, double(bitmap_->width()), double(bitmap_->height())};
    }
    const PixelBuffer &bitmap() const noexcept { return *bitmap_; }
    const PixelBufferRef &bitmapRef() const noexcept { return bitmap_; }

    Image(PixelBufferRef bitmap, Point origin) : bitmap_(std::move(bitmap)), origin_(origin) {}

private:
    PixelBufferRef bitmap_;
    Point origin_;
};

// Renders the region (0, 0, target width, target height) of the image's y-up space into the
// texture so that texture row 0 is the top of that region. Pixels outside the image become
// transparent. Only whole-pixel origins are supported; others are rounded.
void renderImage(const Image &image, gfx::Texture &target);

} // namespace qv::platform
