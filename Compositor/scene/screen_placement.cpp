#include "Compositor/scene/screen_placement.h"

#include <algorithm>
#include <cmath>

namespace qv::SceneRenderer {

namespace {

bool finitePositive(Size s) noexcept {
    return std::isfinite(s.width) && std::isfinite(s.height) && s.width > 0 && s.height > 0;
}

// The frame of the given aspect fitted into the area and centred.
Rect aspectFit(const Rect &area, double aspect) noexcept {
    double w = area.width, h = w / aspect;
    if (area.height < h) {
        h = area.height;
        w = aspect * h;
    }
    return {area.midX() - w / 2, area.midY() - h / 2, w, h};
}

// The area the frame may use: the padded canvas, or the screen side of a side-by-side split.
Rect availableArea(const Edits::Scene &scene, Size canvas) noexcept {
    if (auto split = sideBySideSplit(scene, canvas)) return split->second;
    const double pad = std::min(canvas.width, canvas.height) * scene.paddingPercent / 100;
    return Rect{0, 0, canvas.width, canvas.height}.insetBy(pad, pad);
}

bool usable(const Rect &r) noexcept {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
           std::isfinite(r.height) && r.width > 0 && r.height > 0;
}

} // namespace

double chromeBarHeight(Edits::ChromeStyle style, double th) noexcept {
    switch (style) {
    case Edits::ChromeStyle::none:
        return 0;
    case Edits::ChromeStyle::minimal:
        return std::max(th * 0.022, 8.0);
    case Edits::ChromeStyle::browser:
        return std::min(std::max(th * 0.034, 18.0), 44.0);
    }
    return 0;
}

std::optional<std::pair<Rect, Rect>> sideBySideSplit(const Edits::Scene &scene,
                                                     Size canvas) noexcept {
    using P = Edits::WebcamPosition;
    if (scene.webcamPosition != P::sideLeft && scene.webcamPosition != P::sideRight)
        return std::nullopt;
    const double W = canvas.width, H = canvas.height;
    const double pad = std::min(W, H) * scene.paddingPercent / 100;
    // NaN fails both comparisons and so lands on the lower bound.
    const double size =
        scene.webcamSize > 0.5 ? 0.5 : (scene.webcamSize >= 0.15 ? scene.webcamSize : 0.15);
    const double camW = size * W;
    const double gap = 0.03 * W;
    const double h = std::max(H - 2 * pad, 0.0);
    const double screenW = std::max(W - 2 * pad - camW - gap, 0.0);
    if (scene.webcamPosition == P::sideLeft)
        return std::pair{Rect{pad, pad, camW, h}, Rect{pad + camW + gap, pad, screenW, h}};
    return std::pair{Rect{W - pad - camW, pad, camW, h}, Rect{pad, pad, screenW, h}};
}

ScreenPlacement screenPlacement(const Edits::Scene &scene, Size screenSize, Size canvas) noexcept {
    if (!finitePositive(screenSize) || !finitePositive(canvas)) return {};
    const auto geometry = scene.crop.ciGeometry(screenSize);
    ScreenPlacement p;
    p.ciCropRect = geometry.ciCropRect.insetBy(4, 4);
    p.cropOrigin = p.ciCropRect.origin();
    p.contentSize = {geometry.contentSize.width - 8, geometry.contentSize.height - 8};
    if (!finitePositive(p.contentSize)) return {};

    const Rect area = availableArea(scene, canvas);
    if (!usable(area)) return {};
    const Rect frame = aspectFit(area, p.contentSize.width / p.contentSize.height);
    if (!usable(frame)) return {};
    p.target = frame.integral();
    p.barH = chromeBarHeight(scene.chromeStyle, p.target.height);
    // A bar taller than a tiny frame leaves no screen band rather than a negative one.
    p.screenRect = {p.target.x, p.target.y, p.target.width,
                    std::max(p.target.height - p.barH, 0.0)};
    return p;
}

Rect contentRect(const Edits::Scene &scene, Size screenSize, Size canvas) noexcept {
    if (!finitePositive(screenSize) || !finitePositive(canvas)) return {};
    const auto geometry = scene.crop.ciGeometry(screenSize);
    if (!finitePositive(geometry.contentSize)) return {};
    const Rect area = availableArea(scene, canvas);
    if (!usable(area)) return {};
    const Rect frame = aspectFit(area, geometry.contentSize.width / geometry.contentSize.height);
    if (!usable(frame)) return {};
    const double barH = chromeBarHeight(scene.chromeStyle, frame.height);
    return {frame.x, frame.y, frame.width, frame.height - barH};
}

} // namespace qv::SceneRenderer
