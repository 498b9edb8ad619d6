// Working images for filter chains: premultiplied colour in 32-bit floats, so that a chain of
// gradients, distortions and blurs keeps its smoothness until the one rounding to 8 bits at the
// end (ImageContext::createImage). Four channels hold B, G, R, A (the order of BGRA8 bitmaps);
// one channel holds the opacity of black, which is all a shadow or a mask needs.
//
// Space: y-up pixels. The extent sits on whole pixels; row 0 is the top of the extent, and
// pixel (i, j) covers the unit square whose centre is (x + i + 0.5, y + height - j - 0.5).
//
// Thread safety: a value; concurrent reads are fine, a write needs the only reference.
// Lifetime: owns its pixels; move it, or clone() when a copy is really wanted.
#pragma once

#include "platform/core/geometry.h"

#include <cstddef>
#include <memory>

namespace qv::platform {

class FloatImage {
public:
    FloatImage() = default;
    // Zeroed pixels (transparent) over the extent: x, y, width, height are whole numbers, width
    // and height at least 1, channels 1 or 4. Empty when that does not hold or memory runs out.
    static FloatImage make(int x, int y, int width, int height, int channels);
    // Like make, but the pixels are left for the caller to write, every one of them.
    static FloatImage makeUninitialised(int x, int y, int width, int height, int channels);

    FloatImage(FloatImage &&) noexcept = default;
    FloatImage &operator=(FloatImage &&) noexcept = default;
    FloatImage(const FloatImage &) = delete;
    FloatImage &operator=(const FloatImage &) = delete;
    FloatImage clone() const;

    bool empty() const noexcept { return !data_; }
    int x() const noexcept { return x_; }
    int y() const noexcept { return y_; }
    int width() const noexcept { return w_; }
    int height() const noexcept { return h_; }
    int channels() const noexcept { return ch_; }
    Rect extent() const noexcept { return {double(x_), double(y_), double(w_), double(h_)}; }
    // Floats per row (no padding).
    std::size_t rowFloats() const noexcept { return std::size_t(w_) * ch_; }
    float *row(int j) noexcept { return data_.get() + rowFloats() * std::size_t(j); }
    const float *row(int j) const noexcept { return data_.get() + rowFloats() * std::size_t(j); }
    // Moves the image by whole pixels; the pixels are untouched.
    void moveBy(int dx, int dy) noexcept { x_ += dx, y_ += dy; }

private:
    std::unique_ptr<float[]> data_;
    int x_ = 0, y_ = 0, w_ = 0, h_ = 0, ch_ = 0;
};

} // namespace qv::platform
