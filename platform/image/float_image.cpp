#include "platform/image/float_image.h"

#include <cstring>
#include <limits>
#include <new>

namespace qv::platform {

namespace {

bool validGeometry(int width, int height, int channels) {
    if (width < 1 || height < 1 || (channels != 1 && channels != 4)) return false;
    // The float count must fit comfortably; 2^31 floats (8 GiB) is far beyond any canvas.
    const double n = double(width) * height * channels;
    return n < double(std::numeric_limits<int>::max());
}

} // namespace

FloatImage FloatImage::makeUninitialised(int x, int y, int width, int height, int channels) {
    FloatImage img;
    if (!validGeometry(width, height, channels)) return img;
    const std::size_t n = std::size_t(width) * height * channels;
    img.data_.reset(new (std::nothrow) float[n]);
    if (!img.data_) return img;
    img.x_ = x, img.y_ = y, img.w_ = width, img.h_ = height, img.ch_ = channels;
    return img;
}

FloatImage FloatImage::make(int x, int y, int width, int height, int channels) {
    FloatImage img = makeUninitialised(x, y, width, height, channels);
    if (!img.empty())
        std::memset(img.data_.get(), 0, img.rowFloats() * std::size_t(height) * sizeof(float));
    return img;
}

FloatImage FloatImage::clone() const {
    if (empty()) return {};
    FloatImage copy = makeUninitialised(x_, y_, w_, h_, ch_);
    if (!copy.empty())
        std::memcpy(copy.data_.get(), data_.get(), rowFloats() * std::size_t(h_) * sizeof(float));
    return copy;
}

} // namespace qv::platform
