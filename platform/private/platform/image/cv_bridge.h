// Private to the image operations: OpenCV views of our images, without copies.
#pragma once

#include "platform/image/float_image.h"
#include "platform/video/pixel_buffer.h"

#include <opencv2/core.hpp>

#include <cmath>

namespace qv::platform::detail {

inline cv::Mat mat(FloatImage &img) {
    return cv::Mat(img.height(), img.width(), CV_32FC(img.channels()), img.row(0));
}
inline cv::Mat mat(const FloatImage &img) {
    return cv::Mat(img.height(), img.width(), CV_32FC(img.channels()),
                   const_cast<float *>(img.row(0)));
}
inline cv::Mat mat(const PixelBuffer &pb) {
    return cv::Mat(pb.height(), pb.width(), CV_8UC4, const_cast<std::uint8_t *>(pb.row(0)),
                   pb.bytesPerRow());
}

// Whole-pixel bounds of a rectangle, rounded outwards; a tiny tolerance keeps 10.0000000001
// from growing a pixel.
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // y-up, [x0, x1) × [y0, y1)
    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};
inline PixelBox pixelBox(const Rect &r) {
    PixelBox b;
    if (!(r.width > 0) || !(r.height > 0) || !std::isfinite(r.x) || !std::isfinite(r.y) ||
        !std::isfinite(r.width) || !std::isfinite(r.height))
        return b;
    constexpr double eps = 1e-6;
    const double lim = 1 << 30;
    b.x0 = int(std::clamp(std::floor(r.x + eps), -lim, lim));
    b.y0 = int(std::clamp(std::floor(r.y + eps), -lim, lim));
    b.x1 = int(std::clamp(std::ceil(r.maxX() - eps), -lim, lim));
    b.y1 = int(std::clamp(std::ceil(r.maxY() - eps), -lim, lim));
    return b;
}
inline PixelBox pixelBox(const FloatImage &img) {
    return {img.x(), img.y(), img.x() + img.width(), img.y() + img.height()};
}
inline PixelBox intersect(const PixelBox &a, const PixelBox &b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}
inline PixelBox unite(const PixelBox &a, const PixelBox &b) {
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}
// Row of the image holding y-up pixel row `y` (the row whose centre is y + 0.5).
inline int rowOf(const FloatImage &img, int y) {
    return img.y() + img.height() - 1 - y;
}

} // namespace qv::platform::detail

namespace qv::platform {
// True when QV_IMAGE_THREADS=1 asked for image loops on the calling thread.
bool imageLoopsStayOnCallingThread() noexcept;
} // namespace qv::platform

namespace qv::platform::detail {

// Runs fn(j0, j1) over row ranges on OpenCV's threads.
template <class F> void forRows(int rows, F &&fn) {
    if (imageLoopsStayOnCallingThread()) return fn(0, rows);
    cv::parallel_for_(
        cv::Range(0, rows), [&](const cv::Range &r) { fn(r.start, r.end); },
        std::max(1.0, rows / 16.0));
}

} // namespace qv::platform::detail
