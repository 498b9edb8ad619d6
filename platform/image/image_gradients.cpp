// Linear and radial gradients.
#include "platform/image/cv_bridge.h"
#include "platform/image/image_ops.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv::platform {

using namespace detail;

namespace {

struct Premul {
    float b, g, r, a;
};
Premul premultiplied(const Color &c) {
    const double a = std::clamp(c.a, 0.0, 1.0);
    auto ch = [&](double v) { return float(std::clamp(v, 0.0, 1.0) * a); };
    return {ch(c.b), ch(c.g), ch(c.r), float(a)};
}

inline void put(float *d, const Premul &c0, const Premul &c1, float t) {
    const float s = 1 - t;
    d[0] = c0.b * s + c1.b * t;
    d[1] = c0.g * s + c1.g * t;
    d[2] = c0.r * s + c1.r * t;
    d[3] = c0.a * s + c1.a * t;
}

bool finite(Point p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

} // namespace

FloatImage linearGradient(Rect region, Point p0, Color c0, Point p1, Color c1, GradientRamp ramp) {
    const PixelBox box = pixelBox(region);
    const double dx = p1.x - p0.x, dy = p1.y - p0.y, len2 = dx * dx + dy * dy;
    if (box.empty() || !finite(p0) || !finite(p1) || !(len2 > 0) || !std::isfinite(len2)) return {};
    FloatImage out = FloatImage::makeUninitialised(box.x0, box.y0, box.width(), box.height(), 4);
    if (out.empty()) return out;
    const Premul a = premultiplied(c0), b = premultiplied(c1);
    const bool smooth = ramp == GradientRamp::smooth;
    forRows(box.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const double y = box.y1 - j - 0.5;
            const double base = ((box.x0 + 0.5 - p0.x) * dx + (y - p0.y) * dy) / len2;
            const double step = dx / len2;
            float *d = out.row(j);
            for (int i = 0; i < box.width(); ++i) {
                float t = float(std::clamp(base + step * i, 0.0, 1.0));
                if (smooth) t = t * t * (3 - 2 * t);
                put(d + 4 * i, a, b, t);
            }
        }
    });
    return out;
}

FloatImage radialGradient(Rect region, Point c, double r0, Color c0, double r1, Color c1) {
    const PixelBox box = pixelBox(region);
    if (box.empty() || !finite(c) || !(r1 > r0) || !std::isfinite(r1) || !std::isfinite(r0))
        return {};
    FloatImage out = FloatImage::makeUninitialised(box.x0, box.y0, box.width(), box.height(), 4);
    if (out.empty()) return out;
    const Premul a = premultiplied(c0), b = premultiplied(c1);
    const float inv = float(1 / (r1 - r0)), fr0 = float(r0);
    forRows(box.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const float dy = float(box.y1 - j - 0.5 - c.y), dy2 = dy * dy;
            const float x0 = float(box.x0 + 0.5 - c.x);
            float *d = out.row(j);
            for (int i = 0; i < box.width(); ++i) {
                const float dx = x0 + float(i);
                const float t = std::clamp((std::sqrt(dx * dx + dy2) - fr0) * inv, 0.0f, 1.0f);
                put(d + 4 * i, a, b, t);
            }
        }
    });
    return out;
}

void drawRadialGradient(FloatImage &dst, Point c, double r0, Color c0, double r1, Color c1) {
    if (dst.empty() || dst.channels() != 4 || !finite(c) || !(r1 > r0) || !std::isfinite(r1) ||
        !std::isfinite(r0))
        return;
    PixelBox box = pixelBox(dst);
    if (!(c1.a > 0)) // nothing beyond r1: only its square needs drawing
        box = intersect(box, pixelBox(Rect{c.x - r1, c.y - r1, 2 * r1, 2 * r1}));
    if (box.empty()) return;
    const Premul a = premultiplied(c0), b = premultiplied(c1);
    const float inv = float(1 / (r1 - r0)), fr0 = float(r0);
#if defined(__SSE2__)
    const __m128 a4 = _mm_setr_ps(a.b, a.g, a.r, a.a), b4 = _mm_setr_ps(b.b, b.g, b.r, b.a);
#endif
    forRows(box.height(), [&](int r0w, int r1w) {
        for (int r = r0w; r < r1w; ++r) {
            const int y = box.y1 - 1 - r;
            const float dy = float(y + 0.5 - c.y), dy2 = dy * dy;
            const float xs = float(box.x0 + 0.5 - c.x);
            float *d = dst.row(rowOf(dst, y)) + std::size_t(box.x0 - dst.x()) * 4;
            for (int i = 0; i < box.width(); ++i) {
                const float dx = xs + float(i);
                const float t = std::clamp((std::sqrt(dx * dx + dy2) - fr0) * inv, 0.0f, 1.0f);
                float *p = d + 4 * i;
#if defined(__SSE2__)
                // The four channels at once, with the very operations of the scalar form.
                const __m128 tv = _mm_set1_ps(t), sv = _mm_set1_ps(1 - t);
                const __m128 src = _mm_add_ps(_mm_mul_ps(a4, sv), _mm_mul_ps(b4, tv));
                const __m128 k = _mm_sub_ps(_mm_set1_ps(1.0f),
                                            _mm_shuffle_ps(src, src, _MM_SHUFFLE(3, 3, 3, 3)));
                _mm_storeu_ps(p, _mm_add_ps(src, _mm_mul_ps(_mm_loadu_ps(p), k)));
#else
                float s[4];
                put(s, a, b, t);
                const float k = 1 - s[3];
                p[0] = s[0] + p[0] * k, p[1] = s[1] + p[1] * k;
                p[2] = s[2] + p[2] * k, p[3] = s[3] + p[3] * k;
#endif
            }
        }
    });
}

FloatImage solidColor(Rect region, Color c) {
    const PixelBox box = pixelBox(region);
    if (box.empty()) return {};
    FloatImage out = FloatImage::makeUninitialised(box.x0, box.y0, box.width(), box.height(), 4);
    if (out.empty()) return out;
    const Premul p = premultiplied(c);
    forRows(box.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            float *d = out.row(j);
            for (int i = 0; i < box.width(); ++i) put(d + 4 * i, p, p, 0);
        }
    });
    return out;
}

namespace {

// A one-channel image over `region` whose value at each pixel centre is `coverage(x, y)`.
template <class F> FloatImage coverageImage(Rect region, F &&coverage) {
    const PixelBox box = pixelBox(region);
    if (box.empty()) return {};
    FloatImage out = FloatImage::makeUninitialised(box.x0, box.y0, box.width(), box.height(), 1);
    if (out.empty()) return out;
    forRows(box.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const float y = float(box.y1 - j - 0.5);
            float *d = out.row(j);
            for (int i = 0; i < box.width(); ++i) d[i] = coverage(float(box.x0 + i + 0.5), y);
        }
    });
    return out;
}

} // namespace

FloatImage roundedRectCoverage(Rect region, Rect shape, double radius) {
    const float x = float(shape.x), y = float(shape.y), w = float(shape.width),
                h = float(shape.height), r = float(radius);
    const float cx = x + w / 2, cy = y + h / 2;
    return coverageImage(region, [=](float px, float py) {
        const float qx = std::fabs(px - cx) - (w / 2 - r);
        const float qy = std::fabs(py - cy) - (h / 2 - r);
        const float mx = std::max(qx, 0.0f), my = std::max(qy, 0.0f);
        const float d = std::sqrt(mx * mx + my * my) + std::min(std::max(qx, qy), 0.0f) - r;
        return std::clamp(0.5f - d, 0.0f, 1.0f);
    });
}

FloatImage triangleCoverage(Rect region, Rect shape) {
    const float x = float(shape.x), y = float(shape.y), w = float(shape.width),
                h = float(shape.height);
    const float ax = x + w / 2, ay = y + h, bx = x, by = y, cx = x + w, cy = y;
    return coverageImage(region, [=](float px, float py) {
        // The signs of the three edge functions agree inside.
        const float d1 = (px - bx) * (ay - by) - (ax - bx) * (py - by);
        const float d2 = (px - cx) * (ay - cy) - (ax - cx) * (py - cy);
        const float d3 = (px - ax) * (cy - ay) - (cx - ax) * (py - ay);
        const bool neg = d1 < 0 || d2 < 0 || d3 < 0;
        const bool pos = d1 > 0 || d2 > 0 || d3 > 0;
        return neg && pos ? 0.0f : 1.0f;
    });
}

void drawRing(FloatImage &dst, Point c, double radius, double lineWidth, double softness,
              Color colour) {
    if (dst.empty() || dst.channels() != 4 || !finite(c) || !std::isfinite(radius) ||
        !std::isfinite(lineWidth) || !(softness > 0) || !std::isfinite(softness))
        return;
    // Beyond this distance from the circle the coverage is exactly zero.
    const double reach = std::abs(radius) + std::abs(lineWidth) / 2 + softness / 2 + 1;
    const PixelBox box =
        intersect(pixelBox(dst), pixelBox(Rect{c.x - reach, c.y - reach, 2 * reach, 2 * reach}));
    if (box.empty()) return;
    const Premul p = premultiplied(colour);
    const float r = float(radius), half = float(lineWidth / 2), inv = float(1 / softness);
    forRows(box.height(), [&](int r0, int r1) {
        for (int row = r0; row < r1; ++row) {
            const int y = box.y1 - 1 - row;
            const float dy = float(y + 0.5 - c.y);
            float *d = dst.row(rowOf(dst, y)) + std::size_t(box.x0 - dst.x()) * 4;
            for (int i = 0; i < box.width(); ++i) {
                const float dx = float(box.x0 + i + 0.5 - c.x);
                const float edge = std::fabs(std::sqrt(dx * dx + dy * dy) - r) - half;
                const float k = std::clamp(0.5f - edge * inv, 0.0f, 1.0f);
                if (k == 0.0f) continue;
                float *q = d + 4 * i;
                const float keep = 1 - p.a * k;
                q[0] = p.b * k + q[0] * keep, q[1] = p.g * k + q[1] * keep;
                q[2] = p.r * k + q[2] * keep, q[3] = p.a * k + q[3] * keep;
            }
        }
    });
}

} // namespace qv::platform
