#include "Compositor/scene/filter_renderer.h"

#include "Compositor/engine/scene_instruction.h"
#include "Compositor/engine/sprite_reduction.h"
#include "Compositor/scene/cursor_frame.h"
#include "Compositor/scene/dynamic_overlay.h"
#include "Compositor/scene/frame_decorations.h"
#include "Compositor/scene/scene_geometry.h"
#include "Compositor/scene/static_overlays.h"
#include "Compositor/scene/webcam_frame.h"
#include "platform/image/image_ops.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

namespace qv::SceneRenderer {

namespace {

using platform::Affine;
using platform::EdgeMode;
using platform::FloatImage;
using platform::Reduction;

// The flat colour of a solid privacy mask.
constexpr platform::Color kMaskColour{0.05, 0.05, 0.06, 1};
// How far (in standard deviations) a blurred mask reads around its rectangle.
constexpr double kBlurReach = 3;

// Whole pixels [x0, x1) × [y0, y1), y-up.
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    Rect rect() const { return {double(x0), double(y0), double(x1 - x0), double(y1 - y0)}; }
    Box meet(const Box &o) const {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
};

// The first pixel index in [0, limit] whose centre is at or beyond v.
int firstCentreFrom(double v, int limit) {
    if (!(v > -1e9)) return 0; // NaN too
    if (!(v < 1e9)) return limit;
    return std::clamp(static_cast<int>(std::ceil(v - 0.5)), 0, limit);
}

// The pixels of a W × H canvas whose centres lie in [x0, x1) × [y0, y1): the pass decides by
// pixel centre, and so must every layer here.
Box centreBox(double x0, double x1, double y0, double y1, int W, int H) {
    return {firstCentreFrom(x0, W), firstCentreFrom(y0, H), firstCentreFrom(x1, W),
            firstCentreFrom(y1, H)};
}

Box centreBox(const Rect &r, int W, int H) {
    return centreBox(r.x, r.x + r.width, r.y, r.y + r.height, W, H);
}

// Content space to canvas: X = ax·p + bx, Y = ay·q + by (placement and zoom).
struct ContentToCanvas {
    double ax = 1, bx = 0, ay = 1, by = 0;
    Affine affine() const { return {ax, 0, 0, ay, bx, by}; }
    Rect map(const Rect &r) const {
        return {ax * r.x + bx, ay * r.y + by, ax * r.width, ay * r.height};
    }
};

FloatImage floatOf(const platform::ImageRef &image) {
    return image ? platform::toFloat(*image) : FloatImage{};
}

// `image` resampled once through `toDest` over `box`, bilinear with clamped edges: the sampling
// of the pass.
FloatImage resampled(const platform::PixelBufferRef &bitmap, const Affine &toDest, const Box &box) {
    if (box.empty() || !bitmap) return {};
    const auto image = platform::Image::make(bitmap);
    if (!image) return {};
    return floatOf(
        platform::affineResample(*image, toDest, box.rect(), EdgeMode::clamp, Reduction::bilinear));
}

// The click decoration over `dst`, whose pixels are `scale` canvas pixels per content pixel.
void drawClick(FloatImage &dst, const ClickFX &fx, Point centre, double scale) {
    const platform::Color white{1, 1, 1, fx.alpha};
    if (fx.kind == ClickFX::Kind::ripple)
        platform::drawRadialGradient(dst, centre, 0, white, fx.radius * scale, {1, 1, 1, 0});
    else
        platform::drawRing(dst, centre, fx.radius * scale, fx.lineWidth * scale, scale, white);
}

// Where the recorded screen's pixels go in content space.
struct ScreenSource {
    platform::PixelBufferRef bitmap;
    Affine toContent;
    // The content range that shows the screen: all of it, or the live window's part.
    double p0 = 0, p1 = 0, q0 = 0, q1 = 0;
};

ScreenSource screenSource(const platform::PixelBufferRef &screen, const SceneInstruction &I,
                          std::int64_t t, const ScreenPlacement &P) {
    const ScreenWindow win = screenWindow(I, t);
    const Size S = I.screenSize();
    const Point o = P.cropOrigin;
    const double kx = screen->width() / win.captureW, ky = screen->height() / win.captureH;
    ScreenSource s;
    s.bitmap = screen;
    s.p1 = P.contentSize.width;
    s.q1 = P.contentSize.height;
    // Texel (y-up) = m·content + c on each axis.
    double mx = kx * win.width / S.width, cx = kx * (win.x + o.x * win.width / S.width);
    double my = ky * win.height / S.height, cy = ky * (win.y + o.y * win.height / S.height);
    if (win.letterbox) {
        mx = kx, cx = kx * (win.x + o.x);
        my = ky, cy = ky * (win.y + o.y - (S.height - win.height));
        s.p0 = std::max(s.p0, -o.x), s.p1 = std::min(s.p1, win.width - o.x);
        s.q0 = std::max(s.q0, S.height - win.height - o.y), s.q1 = std::min(s.q1, S.height - o.y);
    }
    s.toContent = {1 / mx, 0, 0, 1 / my, -cx / mx, -cy / my};
    return s;
}

// The cursor sprite of the frame, reduced as the pass reduces it for its drawn size.
struct Sprite {
    platform::PixelBufferRef bitmap;
    Affine toContent;
    Rect rect; // content space
};

std::optional<Sprite> cursorSprite(const CursorFrame &c, double canvasPerContentX,
                                   double canvasPerContentY) {
    if (!c.sprite) return std::nullopt;
    const platform::PixelBuffer &full = c.sprite->bitmap();
    const Rect &r = c.spriteRect;
    const int level = reductionLevel(full.width(), full.height(), r.width * canvasPerContentX,
                                     r.height * canvasPerContentY);
    auto bitmap = reducedSprite(c.sprite->bitmapRef(), level);
    if (!bitmap) return std::nullopt;
    return Sprite{
        bitmap, {r.width / bitmap->width(), 0, 0, r.height / bitmap->height(), r.x, r.y}, r};
}

// The content picture (screen, click, cursor) at content resolution over `box`, for blurring.
FloatImage contentPicture(const ScreenSource &src, const std::optional<CursorFrame> &cursor,
                          const std::optional<Sprite> &sprite, const Box &box) {
    FloatImage img = FloatImage::make(box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0, 4);
    if (img.empty()) return img;
    const Box window = box.meet(centreBox(src.p0, src.p1, src.q0, src.q1, box.x1, box.y1));
    platform::drawOver(img, resampled(src.bitmap, src.toContent, window));
    if (cursor && cursor->click) drawClick(img, *cursor->click, cursor->click->center, 1);
    if (sprite)
        platform::drawOver(img, resampled(sprite->bitmap, sprite->toContent,
                                          box.meet(centreBox(sprite->rect, box.x1, box.y1))));
    return img;
}

// The recorded screen with its decorations, on the canvas pixels where the pass shows it.
FloatImage screenLayer(const platform::PixelBufferRef &screen, const SceneInstruction &I,
                       std::int64_t t, const ScreenPlacement &P, int W, int H) {
    const Size content = P.contentSize;
    if (!(content.width > 0 && content.height > 0) || screen->width() < 1 || screen->height() < 1)
        return {};
    const Rect &sr = P.screenRect;
    ContentToCanvas m;
    const double kx = sr.width / content.width, ky = sr.height / content.height;
    m.ax = kx, m.bx = sr.x, m.ay = ky, m.by = sr.y;
    if (const auto z = zoomView(I, t, P)) {
        m.ax = kx * z->scale, m.bx = sr.x + kx * (content.width / 2 - z->scale * z->focusX);
        m.ay = ky * z->scale, m.by = sr.y + ky * (content.height / 2 - z->scale * z->focusY);
    }
    const ScreenSource src = screenSource(screen, I, t, P);
    const Box shown =
        centreBox(sr, W, H).meet(centreBox(m.ax * src.p0 + m.bx, m.ax * src.p1 + m.bx,
                                           m.ay * src.q0 + m.by, m.ay * src.q1 + m.by, W, H));
    if (shown.empty()) return {};
    FloatImage layer = resampled(screen, src.toContent.followedBy(m.affine()), shown);
    if (layer.empty()) return layer;

    const auto cursor = cursorFrame(I, t, P.cropOrigin);
    std::optional<Sprite> sprite;
    if (cursor) {
        if (cursor->click)
            drawClick(layer, *cursor->click, m.affine().apply(cursor->click->center), m.ax);
        if ((sprite = cursorSprite(*cursor, m.ax, m.ay)))
            platform::drawOver(layer,
                               resampled(sprite->bitmap, sprite->toContent.followedBy(m.affine()),
                                         shown.meet(centreBox(m.map(sprite->rect), W, H))));
    }

    const auto masks = activeMasks(I, t, content);
    // Blurred masks read the content around them at its own resolution.
    Box reach;
    bool blurred = false;
    const int cw = static_cast<int>(std::ceil(content.width)),
              ch = static_cast<int>(std::ceil(content.height));
    for (const ActiveMask &mask : masks) {
        if (!mask.drawn || mask.mask->style != Edits::MaskStyle::blur) continue;
        const double pad = kBlurReach * 0.06 * std::max(mask.rect.width, mask.rect.height) + 1;
        const Rect &r = mask.rect;
        const Box b =
            centreBox(r.x - pad, r.x + r.width + pad, r.y - pad, r.y + r.height + pad, cw, ch);
        reach = blurred ? Box{std::min(reach.x0, b.x0), std::min(reach.y0, b.y0),
                              std::max(reach.x1, b.x1), std::max(reach.y1, b.y1)}
                        : b;
        blurred = true;
    }
    FloatImage picture =
        blurred && !reach.empty() ? contentPicture(src, cursor, sprite, reach) : FloatImage{};
    for (const ActiveMask &mask : masks) {
        if (!mask.drawn) continue;
        const Box onCanvas = shown.meet(centreBox(m.map(mask.rect), W, H));
        if (mask.mask->style == Edits::MaskStyle::solid) {
            platform::drawOver(layer, platform::solidColor(onCanvas.rect(), kMaskColour));
            platform::drawOver(picture, platform::solidColor(mask.rect, kMaskColour));
            continue;
        }
        if (picture.empty()) continue;
        const double sigma = 0.06 * std::max(mask.rect.width, mask.rect.height);
        const FloatImage patch =
            platform::crop(platform::gaussianBlur(picture, sigma, EdgeMode::clamp), mask.rect);
        if (patch.empty()) continue;
        if (!onCanvas.empty())
            platform::drawOver(layer,
                               platform::affineResample(patch, m.affine(), onCanvas.rect(),
                                                        EdgeMode::clamp, Reduction::bilinear));
        platform::drawOver(picture, patch);
    }
    return layer;
}

void drawWebcam(FloatImage &out, const SceneInstruction &I, const platform::PixelBufferRef &webcam,
                const platform::ImageRef &personMask, std::int64_t t, int W, int H) {
    const auto cam = webcamFrame(I, webcam, t);
    if (!cam) return;
    const Rect &d = cam->dest;
    const Box box = centreBox(d, W, H);
    const double camW = std::max(cam->camExtent.width, 1.0),
                 camH = std::max(cam->camExtent.height, 1.0);
    const double scale = std::max(d.width / camW, d.height / camH);
    const Affine toCanvas{scale,
                          0,
                          0,
                          scale,
                          d.x + d.width / 2 - camW * scale / 2,
                          d.y + d.height / 2 - camH * scale / 2};
    FloatImage picture = resampled(webcam, toCanvas, box);
    if (picture.empty()) return;
    FloatImage coverage = cam->shape == kWebcamTriangle
                              ? platform::triangleCoverage(box.rect(), d)
                              : platform::roundedRectCoverage(box.rect(), d, cam->cornerRadius);
    if (cam->alpha < 0.999) platform::multiplyAlpha(coverage, cam->alpha);
    if (cam->removeBg && personMask)
        platform::multiplyByMask(
            coverage, floatOf(platform::affineResample(*personMask, toCanvas, box.rect(),
                                                       EdgeMode::clamp, Reduction::bilinear)));
    platform::multiplyByMask(picture, coverage);
    if (cam->shadow) platform::drawOver(out, floatOf(cam->shadow));
    platform::drawOver(out, picture);
    if (cam->hairline) platform::drawOver(out, floatOf(cam->hairline));
}

// The frame's static layers, kept for the last scene, sizes and background: they change only with
// the layout, and the shadow costs a full-canvas composite.
StaticOverlays frameLayers(const Edits::Scene &scene, Size screenSize, Size canvas,
                           const platform::ImageRef &background) {
    static std::mutex lock;
    static std::optional<Edits::Scene> lastScene;
    static Size lastScreen, lastCanvas;
    static platform::ImageRef lastBackground;
    static StaticOverlays last;
    std::lock_guard guard(lock);
    if (lastScene && *lastScene == scene && lastScreen == screenSize && lastCanvas == canvas &&
        lastBackground == background)
        return last;
    last = staticOverlays(scene, screenSize, canvas, background);
    lastScene = scene, lastScreen = screenSize, lastCanvas = canvas, lastBackground = background;
    return last;
}

// A ring-shaped layer (the border) over `out`: only the bands of width `band` along the edges of
// its extent are read, since its inside is empty.
void drawRingOver(FloatImage &out, const platform::Image &ring, double band) {
    const Rect e = ring.extent();
    const double b = std::ceil(band);
    if (!(b > 0) || 2 * b >= std::min(e.width, e.height)) {
        platform::drawOver(out, platform::toFloat(ring));
        return;
    }
    const Rect strips[4] = {{e.x, e.y, e.width, b},
                            {e.x, e.maxY() - b, e.width, b},
                            {e.x, e.y + b, b, e.height - 2 * b},
                            {e.maxX() - b, e.y + b, b, e.height - 2 * b}};
    for (const Rect &r : strips) platform::drawOver(out, platform::toFloat(ring, r));
}

// The background (with the frame's shadow when there is a screen) as the canvas to draw on.
FloatImage canvasFrom(const platform::ImageRef &behind, int W, int H) {
    const Rect canvas{0, 0, double(W), double(H)};
    if (behind) {
        FloatImage base = platform::toFloat(*behind, canvas);
        if (base.x() == 0 && base.y() == 0 && base.width() == W && base.height() == H) return base;
    }
    FloatImage base = FloatImage::make(0, 0, W, H, 4);
    if (behind) platform::drawOver(base, platform::toFloat(*behind, canvas));
    return base;
}

} // namespace

std::shared_ptr<const FloatImage> roundMask(const Rect &target, double radius) {
    static std::mutex lock;
    static Rect lastTarget;
    static double lastRadius = 0;
    static std::shared_ptr<const FloatImage> last;
    std::lock_guard guard(lock);
    if (last && lastTarget == target && lastRadius == radius) return last;
    const Box box = centreBox(target, 1 << 16, 1 << 16);
    auto mask =
        std::make_shared<FloatImage>(platform::roundedRectCoverage(box.rect(), target, radius));
    if (mask->empty()) return nullptr;
    lastTarget = target, lastRadius = radius, last = mask;
    return last;
}

FloatImage render(const platform::PixelBufferRef &screen, const platform::PixelBufferRef &webcam,
                  const platform::ImageRef &background, const SceneInstruction &I,
                  const platform::ImageRef &personMask, std::int64_t t) {
    const double rw = I.renderSize().width, rh = I.renderSize().height;
    if (!(rw >= 1 && rh >= 1 && rw < 65536 && rh < 65536)) return {};
    const int W = static_cast<int>(rw), H = static_cast<int>(rh);
    const Edits::Scene &scene = I.edits().effectiveScene();

    FloatImage out;
    if (!screen) {
        out = canvasFrom(background, W, H);
    } else {
        const ScreenPlacement P = screenPlacement(scene, I.screenSize(), I.renderSize());
        const StaticOverlays statics =
            frameLayers(scene, I.screenSize(), I.renderSize(), background);
        out = canvasFrom(statics.behind, W, H);
        if (out.empty()) return out;
        const Box frame = centreBox(P.target, W, H);
        FloatImage window =
            frame.empty()
                ? FloatImage{}
                : FloatImage::make(frame.x0, frame.y0, frame.x1 - frame.x0, frame.y1 - frame.y0, 4);
        platform::drawOver(window, screenLayer(screen, I, t, P, W, H));
        if (statics.chrome && P.barH > 0) {
            const Rect &tr = P.target;
            const Box bar = centreBox(tr.x, tr.maxX(), tr.maxY() - P.barH, tr.maxY(), W, H);
            if (!bar.empty())
                platform::drawOver(window, platform::toFloat(*statics.chrome, bar.rect()));
        }
        if (const auto clip = roundMask(P.target, statics.radius); clip && !window.empty())
            platform::multiplyByMask(window, *clip);
        platform::drawOver(out, window);
        if (statics.border) {
            // The stroke hugs the frame's edge and bends only within the corner radius.
            const double corner = std::min(std::max(scene.frameRadius, statics.radius),
                                           std::min(P.target.width, P.target.height) / 2);
            drawRingOver(out, *statics.border,
                         (std::isfinite(corner) ? corner : 0) + borderLineWidth(P.target.width) +
                             2);
        }
    }
    if (out.empty()) return out;
    drawWebcam(out, I, webcam, personMask, t, W, H);
    platform::drawOver(out, floatOf(dynamicOverlay(I, t)));
    // The frame is opaque, as the pass's is, whatever the background's opacity.
    for (int j = 0; j < out.height(); ++j) {
        float *p = out.row(j);
        for (int i = 0; i < out.width(); ++i) p[4 * i + 3] = 1;
    }
    return out;
}

} // namespace qv::SceneRenderer
