// The person masks of the webcam bubble. Segmentation is the dearest step of a frame, so each
// renderer segments every second camera frame and reuses its last mask in between. The pass and
// the image-filter renderer keep separate counters and masks: a frame drawn by one never
// changes what the other reuses.
//
// Thread safety: used on the compositor's render queue only.
#pragma once

#include "platform/core/result.h"
#include "platform/image/image.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <functional>

namespace qv {

class PersonMasks {
public:
    // Cuts the person out of a camera frame: a one-channel coverage mask covering the whole
    // frame, at any resolution. A failure leaves the previous mask in use.
    using Segment = std::function<Result<platform::PixelBufferRef>(const platform::PixelBuffer &)>;

    explicit PersonMasks(Segment segment) : segment_(std::move(segment)) {}

    // The pass's mask (one 8-bit channel) for this camera frame; null when the flag is off, when
    // there is no camera frame, or when no segmentation has given a mask yet. With the flag off
    // the counter stands still, so the alternation goes on where it stopped.
    platform::PixelBufferRef passMask(const platform::PixelBufferRef &camera,
                                      bool removeBackground);
    // The image-filter renderer's mask: the same, as an image scaled onto the camera frame's
    // pixels (extent 0, 0, camera width, camera height).
    platform::ImageRef filterMask(const platform::PixelBufferRef &camera, bool removeBackground);

    std::int64_t passCount() const noexcept { return maskFrameCounter_; }
    std::int64_t filterCount() const noexcept { return frameCounter_; }
    std::int64_t segmentations() const noexcept { return segmentations_; }

private:
    platform::PixelBufferRef segment(const platform::PixelBuffer &camera);

    Segment segment_;
    std::int64_t maskFrameCounter_ = 0;
    platform::PixelBufferRef cachedMaskPB_;
    std::int64_t frameCounter_ = 0;
    platform::ImageRef cachedMask_;
    std::int64_t segmentations_ = 0;
};

// The person segmentation of this build: the bundled models, loaded at the first call. When they
// cannot be loaded, every call fails with the reason (logged once by the caller's compositor).
PersonMasks::Segment makePersonSegmentation();

} // namespace qv
