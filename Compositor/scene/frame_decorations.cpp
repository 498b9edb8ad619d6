#include "Compositor/scene/frame_decorations.h"

#include "Compositor/scene/cairo_paths.h"

#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/chrome_cache.h"
#include "platform/image/image_ops.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qv::SceneRenderer {

namespace {

using platform::ImageRef;
using platform::PixelBuffer;
using platform::PixelFormat;

// Coverage of the rounded rectangle `shape` (y-up canvas space) as a one-channel working image
// over `region` (whole pixels).
platform::FloatImage roundedRectCoverage(const Rect &region, const Rect &shape, double radius) {
    return pathCoverage(region, [&](cairo_t *cr) {
        roundedRectPath(cr, shape.x - region.x, region.maxY() - shape.maxY(), shape.width,
                        shape.height, radius);
    });
}

Rect grown(const Rect &r, double d) {
    return {r.x - d, r.y - d, r.width + 2 * d, r.height + 2 * d};
}

Rect intersection(const Rect &a, const Rect &b) {
    const double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    if (!(x1 > x0) || !(y1 > y0)) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

ImageRef renderShadow(const Rect &target, double r, double a, double blur, double offset,
                      const Rect &canvas) {
    const double sigma = blur > 0 && std::isfinite(blur) ? blur : 0;
    const double dy = std::isfinite(offset) ? offset : 0;
    const Rect moved{target.x, target.y - dy, target.width, target.height};
    // Only the part of the moved shape that the blur can carry onto the canvas matters.
    const double reach = std::ceil(3 * sigma) + 2;
    const Rect region = intersection(grown(moved, reach), grown(canvas, reach)).integral();
    if (region.isEmpty()) return nullptr;
    platform::FloatImage shadow = roundedRectCoverage(region, moved, r);
    if (shadow.empty()) return nullptr;
    if (sigma > 0) {
        auto blurred = platform::gaussianBlur(shadow, sigma, platform::EdgeMode::transparent);
        if (!blurred.empty()) shadow = std::move(blurred);
    }
    platform::multiplyAlpha(shadow, a);
    shadow = platform::crop(shadow, canvas);
    if (shadow.empty()) return nullptr;
    // Cut out the frame: inside it the shadow would only darken the frame's own corners.
    const Rect frameBox = intersection(target.integral(), shadow.extent());
    if (!frameBox.isEmpty()) {
        const auto frame = roundedRectCoverage(frameBox, target, r);
        if (!frame.empty()) {
            auto cut = platform::blendWithMask({}, shadow, frame);
            if (!cut.empty()) shadow = std::move(cut);
        }
    }
    return bakeContext().createImage(shadow, canvas);
}

} // namespace

double borderLineWidth(double targetWidth) noexcept {
    return std::max(0.0012 * targetWidth, 1.5);
}

double frameCornerRadius(double frameRadius, const Rect &target) noexcept {
    return std::max(std::min(frameRadius, 0.5 * std::min(target.width, target.height)), 0.0);
}

double boundedShadowBlur(double shadowBlur, const Rect &canvas) noexcept {
    if (!(shadowBlur > 0)) return 0;
    return std::min(shadowBlur, maxShadowBlurFraction * std::max(canvas.width, canvas.height));
}

ImageRef frameShadow(const Edits::Scene &scene, const Rect &target, const Rect &canvas) {
    if (target.isEmpty() || canvas.isEmpty()) return nullptr;
    const double r =
        std::max(std::min(0.5 * std::min(target.width, target.height), scene.frameRadius), 0.0);
    const double strength = std::isnan(scene.shadowStrength) ? 0 : scene.shadowStrength;
    const double a = 0.45 * std::clamp(strength, 0.0, 1.0);
    const double blur = boundedShadowBlur(scene.shadowBlur, canvas);
    const chrome_key::Shadow key{keyNumber(target.x),     keyNumber(target.y),
                                 keyNumber(target.width), keyNumber(target.height),
                                 keyNumber(r * 10),       keyNumber(a * 1000),
                                 keyNumber(blur * 10),    keyNumber(scene.shadowOffset * 10),
                                 keyNumber(canvas.width), keyNumber(canvas.height)};
    ImageRef img = ChromeCache::shared().image(key, [&] {
        return renderShadow(target, r, a, blur, scene.shadowOffset,
                            {0, 0, std::round(canvas.width), std::round(canvas.height)});
    });
    if (!img) return nullptr;
    return platform::Image::make(img->bitmapRef(), canvas.origin());
}

ImageRef chromeBarImage(const Rect &bar, bool dots) {
    const double w = std::round(bar.width), h = std::round(bar.height);
    if (!(w >= 1 && h >= 1 && w < 65536 && h < 65536)) return nullptr;
    const double barH = bar.height;
    const chrome_key::ChromeBar key{keyNumber(w), keyNumber(h), dots};
    ImageRef img = ChromeCache::shared().image(key, [&]() -> ImageRef {
        auto pb = PixelBuffer::create(int(w), int(h), PixelFormat::bgra8);
        if (!pb) return nullptr;
        {
            CairoCanvas c(*pb);
            cairo_t *cr = c.get();
            cairo_set_source_rgb(cr, 0.925, 0.925, 0.93);
            cairo_paint(cr);
            // The separator along the bottom edge.
            const double sep = std::max(0.035 * barH, 1.0);
            cairo_rectangle(cr, 0, h - sep, w, sep);
            cairo_set_source_rgba(cr, 0, 0, 0, 0.1);
            cairo_fill(cr);
            if (dots) {
                const double r = std::max(0.21 * barH, 2.0);
                const double colours[3][3] = {{1, 0.37, 0.34}, {1, 0.74, 0.18}, {0.16, 0.78, 0.25}};
                for (int i = 0; i < 3; ++i) {
                    const double cx = 0.7 * barH + i * 3.33 * r, cy = h / 2;
                    cairo_new_path(cr);
                    cairo_arc(cr, cx, cy, r, 0, 2 * std::numbers::pi);
                    cairo_set_source_rgb(cr, colours[i][0], colours[i][1], colours[i][2]);
                    cairo_fill(cr);
                    cairo_new_path(cr);
                    cairo_arc(cr, cx, cy, r - 0.04 * r, 0, 2 * std::numbers::pi);
                    cairo_set_line_width(cr, std::max(0.08 * r, 0.5));
                    cairo_set_source_rgba(cr, 0, 0, 0, 0.12);
                    cairo_stroke(cr);
                }
            }
            if (!c.ok()) return nullptr;
        }
        return platform::Image::make(std::move(pb));
    });
    if (!img) return nullptr;
    // Top-aligned with the frame, on whole pixels: exactly the bar's rows of the canvas.
    return platform::Image::make(img->bitmapRef(), {std::round(bar.x), std::round(bar.maxY()) - h});
}

ImageRef borderImage(const Rect &target, double frameRadius) {
    const double w = std::round(target.width), h = std::round(target.height);
    if (!(w >= 1 && h >= 1 && w < 65536 && h < 65536)) return nullptr;
    const double lw = borderLineWidth(target.width);
    const chrome_key::Border key{keyNumber(w), keyNumber(h), keyNumber(lw * 100),
                                 keyNumber(frameRadius)};
    ImageRef img = ChromeCache::shared().image(key, [&]() -> ImageRef {
        auto pb = PixelBuffer::create(int(w), int(h), PixelFormat::bgra8);
        if (!pb) return nullptr;
        {
            CairoCanvas c(*pb);
            cairo_t *cr = c.get();
            const double rw = w - lw, rh = h - lw;
            const double radius = std::isfinite(frameRadius)
                                      ? std::max(std::min(frameRadius, 0.5 * std::min(rw, rh)), 0.0)
                                      : 0.0;
            roundedRectPath(cr, lw / 2, lw / 2, rw, rh, radius);
            cairo_set_line_width(cr, lw);
            cairo_set_source_rgba(cr, 1, 1, 1, 0.55);
            cairo_stroke(cr);
            if (!c.ok()) return nullptr;
        }
        return platform::Image::make(std::move(pb));
    });
    if (!img) return nullptr;
    return platform::Image::make(img->bitmapRef(), target.origin());
}

} // namespace qv::SceneRenderer
