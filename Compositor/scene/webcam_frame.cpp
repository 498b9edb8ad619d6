#include "Compositor/scene/webcam_frame.h"

#include "Compositor/engine/scene_instruction.h"
#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/cairo_paths.h"
#include "Compositor/scene/chrome_cache.h"
#include "Compositor/scene/screen_placement.h"
#include "platform/core/log.h"
#include "platform/image/image_ops.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace qv::SceneRenderer {

namespace {

using platform::FloatImage;
using platform::ImageRef;
using Position = Edits::WebcamPosition;
using Shape = Edits::WebcamShape;

const platform::Logger &webcamLog() {
    static const platform::Logger log("com.quillvane.compositor", "webcam");
    return log;
}

constexpr double kCornerMargin = 24;

bool isCorner(Position p) noexcept {
    return p == Position::cornerTL || p == Position::cornerTR || p == Position::cornerBL ||
           p == Position::cornerBR;
}

// webcamTransitionMs as whole milliseconds; a value that is not finite animates nothing.
std::int64_t transitionMs(double ms) noexcept {
    if (!std::isfinite(ms)) return 0;
    return std::int64_t(std::clamp(ms, -1e15, 1e15)); // truncates toward zero
}

// The last camera block boundary (a start, or the moment after an end) in 0 … t.
std::optional<std::int64_t> lastChange(const std::vector<Edits::CameraBlock> &blocks,
                                       std::int64_t t) noexcept {
    std::optional<std::int64_t> last;
    auto consider = [&](std::int64_t v) {
        if (v >= 0 && v <= t && (!last || v > *last)) last = v;
    };
    for (const auto &b : blocks) {
        consider(b.startMs);
        if (b.endMs < std::numeric_limits<std::int64_t>::max()) consider(b.endMs + 1);
    }
    return last;
}

Rect lerp(const Rect &a, const Rect &b, double e) noexcept {
    return {a.x + e * (b.x - a.x), a.y + e * (b.y - a.y), a.width + e * (b.width - a.width),
            a.height + e * (b.height - a.height)};
}

Rect centrePoint(const Rect &r) noexcept {
    return {r.midX(), r.midY(), 0, 0};
}

// The bubble's outline in Cairo space (y down) on the rectangle (x, y, w, h). The circle is an
// ellipse on the rectangle, which is what a rounded rectangle with half the shorter side as
// radius is on a square.
void shapePath(cairo_t *cr, Shape shape, double x, double y, double w, double h) {
    switch (shape) {
    case Shape::circle:
        cairo_new_sub_path(cr);
        cairo_save(cr);
        cairo_translate(cr, x + w / 2, y + h / 2);
        cairo_scale(cr, w / 2, h / 2);
        cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_restore(cr);
        cairo_close_path(cr);
        return;
    case Shape::roundedSquare:
        roundedRectPath(cr, x, y, w, h, 0.18 * std::min(w, h));
        return;
    case Shape::square:
        cairo_new_sub_path(cr);
        cairo_rectangle(cr, x, y, w, h);
        return;
    case Shape::triangle:
        cairo_new_sub_path(cr);
        cairo_move_to(cr, x + w / 2, y);
        cairo_line_to(cr, x + w, y + h);
        cairo_line_to(cr, x, y + h);
        cairo_close_path(cr);
        return;
    }
}

// One halo layer: the silhouette blurred, faded, moved down and cut to the canvas.
FloatImage haloLayer(const FloatImage &silhouette, double blur, double opacity, int down,
                     const Rect &canvas) {
    FloatImage layer = platform::gaussianBlur(silhouette, blur, platform::EdgeMode::transparent);
    if (layer.empty()) return layer;
    platform::multiplyAlpha(layer, opacity);
    return platform::crop(platform::translated(std::move(layer), 0, -down), canvas);
}

// A white image whose opacity is the one-channel image's (premultiplied: every channel equal).
FloatImage whiteWithOpacity(const FloatImage &opacity) {
    FloatImage out = FloatImage::makeUninitialised(opacity.x(), opacity.y(), opacity.width(),
                                                   opacity.height(), 4);
    if (out.empty()) return out;
    for (int j = 0; j < out.height(); ++j) {
        const float *s = opacity.row(j);
        float *d = out.row(j);
        for (int i = 0; i < out.width(); ++i)
            d[4 * i] = d[4 * i + 1] = d[4 * i + 2] = d[4 * i + 3] = s[i];
    }
    return out;
}

// `dest` and `canvas` are whole pixels here: the image is a function of its cache key.
ImageRef renderHalo(const Rect &dest, Shape shape, const Rect &canvas) {
    // The silhouette's colour is white throughout, so the layers are kept as opacity alone and
    // coloured once at the end.
    const FloatImage silhouette = pathCoverage(
        dest, [&](cairo_t *cr) { shapePath(cr, shape, 0, 0, dest.width, dest.height); });
    if (silhouette.empty()) return nullptr;
    const FloatImage a = haloLayer(silhouette, 26, 0.26, 7, canvas);
    const FloatImage b = haloLayer(silhouette, 7, 0.32, 2, canvas);
    const FloatImage halo = platform::compositeOver(b, a);
    if (halo.empty()) return nullptr;
    const FloatImage white = whiteWithOpacity(halo);
    if (white.empty()) return nullptr;
    return bakeContext().createImage(white, canvas);
}

ImageRef renderHairline(int pw, int ph, Shape shape) {
    auto pb = platform::PixelBuffer::create(pw, ph, platform::PixelFormat::bgra8);
    if (!pb) return nullptr;
    {
        CairoCanvas c(*pb);
        cairo_t *cr = c.get();
        const double lw = std::max(0.004 * pw, 1.0);
        shapePath(cr, shape, lw / 2, lw / 2, pw - lw, ph - lw);
        cairo_set_line_width(cr, lw);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.18);
        cairo_stroke(cr);
        if (!c.ok()) return nullptr;
    }
    return platform::Image::make(std::move(pb));
}

bool drawable(double v) noexcept {
    return v >= 1 && v < 65536;
}

} // namespace

WebcamConfig webcamConfigAt(const Edits &edits, std::int64_t tMs) noexcept {
    const Edits::Scene &scene = edits.effectiveScene();
    for (const auto &b : edits.cameraBlocks)
        if (b.startMs <= tMs && tMs <= b.endMs)
            return {b.position, b.shape, b.size, scene.paddingPercent};
    return {scene.webcamPosition, scene.webcamShape, scene.webcamSize, scene.paddingPercent};
}

std::pair<Rect, bool> webcamRect(const WebcamConfig &config, Size canvas) noexcept {
    const double W = canvas.width, H = canvas.height;
    if (config.position == Position::hidden || !(W > 0) || !(H > 0) || !std::isfinite(W) ||
        !std::isfinite(H))
        return {Rect{}, true};
    if (isCorner(config.position)) {
        const double d = std::max(std::min(W, H) * config.size, 0.0);
        if (!std::isfinite(d)) return {Rect{}, true};
        const bool left =
            config.position == Position::cornerTL || config.position == Position::cornerBL;
        const bool top =
            config.position == Position::cornerTL || config.position == Position::cornerTR;
        return {Rect{left ? kCornerMargin : W - d - kCornerMargin,
                     top ? H - d - kCornerMargin : kCornerMargin, d, d},
                false};
    }
    if (config.position == Position::full) {
        // NaN lands on the lower bound, as in the side-by-side split.
        const double f =
            config.size / 0.4 > 1 ? 1 : (config.size / 0.4 >= 0.05 ? config.size / 0.4 : 0.05);
        return {Rect{(W - W * f) / 2, (H - H * f) / 2, W * f, H * f}, false};
    }
    Edits::Scene scene;
    scene.webcamPosition = config.position;
    scene.webcamSize = config.size;
    scene.paddingPercent = config.paddingPercent;
    if (auto split = sideBySideSplit(scene, canvas)) return {split->first, false};
    return {Rect{}, true};
}

int webcamShapeCode(Shape shape) noexcept {
    switch (shape) {
    case Shape::circle:
        return kWebcamCircle;
    case Shape::roundedSquare:
        return kWebcamRoundedSquare;
    case Shape::square:
        return kWebcamSquare;
    case Shape::triangle:
        return kWebcamTriangle;
    }
    return kWebcamSquare;
}

double webcamCornerRadius(Shape shape, const Rect &dest) noexcept {
    const double side = std::max(std::min(dest.width, dest.height), 0.0);
    if (shape == Shape::circle) return 0.5 * side;
    if (shape == Shape::roundedSquare) return 0.18 * side;
    return 0;
}

std::optional<WebcamLayout> webcamLayout(const Edits &edits, Size canvas,
                                         std::int64_t atMs) noexcept {
    const std::int64_t t = std::max<std::int64_t>(atMs, 0);
    const WebcamConfig cur = webcamConfigAt(edits, t);
    const auto curPlaced = webcamRect(cur, canvas);
    const Rect curRect = curPlaced.first;
    const bool curHidden = curPlaced.second;
    const auto settled = [&]() -> std::optional<WebcamLayout> {
        if (curHidden) return std::nullopt;
        return WebcamLayout{curRect, cur.shape, 1, cur.position};
    };

    const auto change = lastChange(edits.cameraBlocks, t);
    const std::int64_t dur = transitionMs(edits.effectiveScene().webcamTransitionMs);
    if (!change || dur < 1 || t - *change >= dur) return settled();

    const WebcamConfig prev = webcamConfigAt(edits, *change - 1);
    const auto [prevRect, prevHidden] = webcamRect(prev, canvas);
    if (prev.position == cur.position && prev.size == cur.size &&
        ((prevHidden && curHidden) || (!prevHidden && !curHidden && prevRect == curRect)))
        return settled();
    if (prevHidden && curHidden) return std::nullopt;

    const double q = std::clamp(double(t - *change) / double(dur), 0.0, 1.0);
    const double e = q * q * (3 - 2 * q);
    Rect from = prevRect, to = curRect;
    double alphaFrom = 1, alphaTo = 1;
    if (prevHidden) { // appearing from the centre
        from = centrePoint(curRect);
        alphaFrom = 0;
    } else if (curHidden) { // disappearing into the centre
        to = centrePoint(prevRect);
        alphaTo = 0;
    }
    const double alpha = alphaFrom + e * (alphaTo - alphaFrom);
    if (alpha <= 0.001) return std::nullopt;
    return WebcamLayout{lerp(from, to, e), cur.shape, alpha, cur.position};
}

ImageRef webcamHalo(const Rect &dest, Shape shape, Size canvas) {
    const Rect d{std::round(dest.x), std::round(dest.y), std::round(dest.width),
                 std::round(dest.height)};
    const double cw = std::round(canvas.width), ch = std::round(canvas.height);
    if (!drawable(d.width) || !drawable(d.height) || !drawable(cw) || !drawable(ch) ||
        !std::isfinite(d.x) || !std::isfinite(d.y))
        return nullptr;
    const chrome_key::WebcamShadow key{
        keyNumber(d.x),         keyNumber(d.y), keyNumber(d.width), keyNumber(d.height),
        webcamShapeCode(shape), keyNumber(cw),  keyNumber(ch)};
    ImageRef img = ChromeCache::shared().image(key, [&] {
        return renderHalo(d, shape, {0, 0, cw, ch});
    });
    // A halo wholly off the canvas has nothing to show; any other miss is a failed render.
    if (!img && d.maxX() > 0 && d.x < cw && d.maxY() > 0 && d.y < ch)
        webcamLog().error("the webcam halo for %gx%g at (%g, %g) could not be rendered; drawn "
                          "without it",
                          d.width, d.height, d.x, d.y);
    return img;
}

ImageRef webcamHairline(const Rect &dest, Shape shape) {
    const double pw = std::round(dest.width), ph = std::round(dest.height);
    if (!drawable(pw) || !drawable(ph)) return nullptr;
    const chrome_key::WebcamHairline key{keyNumber(pw), keyNumber(ph), webcamShapeCode(shape)};
    ImageRef img =
        ChromeCache::shared().image(key, [&] { return renderHairline(int(pw), int(ph), shape); });
    if (!img) {
        webcamLog().error("the webcam outline of %gx%g could not be rendered; drawn without it", pw,
                          ph);
        return nullptr;
    }
    return platform::Image::make(img->bitmapRef(), dest.origin());
}

std::optional<WebcamFrame> webcamFrame(const SceneInstruction &instruction,
                                       const platform::PixelBufferRef &webcamPB,
                                       std::int64_t atMs) {
    if (!webcamPB) return std::nullopt;
    const Size canvas = instruction.renderSize();
    const auto layout = webcamLayout(instruction.edits(), canvas, atMs);
    if (!layout) return std::nullopt;
    WebcamFrame f;
    f.dest = layout->rect;
    f.shape = webcamShapeCode(layout->shape);
    f.cornerRadius = webcamCornerRadius(layout->shape, layout->rect);
    f.alpha = layout->alpha;
    f.removeBg = instruction.edits().effectiveScene().webcamRemoveBackground;
    f.floating = isCorner(layout->position);
    f.camExtent = {double(webcamPB->width()), double(webcamPB->height())};
    if (f.floating) {
        f.shadow = webcamHalo(f.dest, layout->shape, canvas);
        f.hairline = webcamHairline(f.dest, layout->shape);
    }
    return f;
}

} // namespace qv::SceneRenderer
