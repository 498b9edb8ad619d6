#include "Compositor/engine/person_masks.h"

#include "platform/image/image_ops.h"

#include <algorithm>
#include <cstdint>

namespace qv {

platform::PixelBufferRef PersonMasks::segment(const platform::PixelBuffer &camera) {
    ++segmentations_;
    if (!segment_) return nullptr;
    try {
        auto mask = segment_(camera);
        if (mask && *mask && (*mask)->width() > 0 && (*mask)->height() > 0) return *mask;
    } catch (...) {
        // Like a segmentation without a result: the previous mask stays in use.
    }
    return nullptr;
}

platform::PixelBufferRef PersonMasks::passMask(const platform::PixelBufferRef &camera,
                                               bool removeBackground) {
    if (!removeBackground || !camera) return nullptr;
    const std::int64_t n = maskFrameCounter_++;
    if (n % 2 == 1 && cachedMaskPB_) return cachedMaskPB_;
    if (auto mask = segment(*camera)) cachedMaskPB_ = std::move(mask);
    return cachedMaskPB_;
}

platform::ImageRef PersonMasks::filterMask(const platform::PixelBufferRef &camera,
                                           bool removeBackground) {
    if (!removeBackground || !camera) return nullptr;
    const std::int64_t n = frameCounter_++;
    if (n % 2 == 1 && cachedMask_) return cachedMask_;
    if (auto mask = segment(*camera)) {
        // The mask's own resolution, stretched over the camera frame's pixels.
        const double sx = double(camera->width()) / std::max(mask->width(), 1),
                     sy = double(camera->height()) / std::max(mask->height(), 1);
        // Coverage in every channel, so the red channel reads it as the pass's mask does.
        auto grey = platform::PixelBuffer::create(mask->width(), mask->height(),
                                                  platform::PixelFormat::bgra8);
        if (!grey) return cachedMask_;
        for (int y = 0; y < mask->height(); ++y) {
            const std::uint8_t *from = mask->row(y);
            std::uint8_t *to = grey->row(y);
            for (int x = 0; x < mask->width(); ++x)
                to[4 * x] = to[4 * x + 1] = to[4 * x + 2] = to[4 * x + 3] = from[x];
        }
        auto image = platform::Image::make(std::move(grey));
        const Rect frame{0, 0, double(camera->width()), double(camera->height())};
        if (auto scaled = platform::affineResample(*image, {sx, 0, 0, sy, 0, 0}, frame,
                                                   platform::EdgeMode::clamp))
            cachedMask_ = std::move(scaled);
    }
    return cachedMask_;
}

} // namespace qv
