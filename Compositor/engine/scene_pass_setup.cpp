#include "Compositor/engine/scene_pass_setup.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {
float f(double v) {
    return static_cast<float>(v);
}
} // namespace

std::optional<SceneGeometry> sceneGeometry(const SceneInstruction &I, std::int64_t t) {
    SceneGeometry g;
    g.placement =
        SceneRenderer::screenPlacement(I.edits().effectiveScene(), I.screenSize(), I.renderSize());
    for (const auto &m : SceneRenderer::activeMasks(I, t, g.placement.contentSize)) {
        if (m.mask->style == Edits::MaskStyle::blur) return std::nullopt;
        if (!m.drawn) continue;
        g.masks.push_back({f(m.rect.x), f(m.rect.y), f(m.rect.width), f(m.rect.height)});
        if (g.masks.size() == kMaxMasks) break;
    }
    if (const auto z = SceneRenderer::zoomView(I, t, g.placement)) {
        g.zoomActive = true;
        g.zoomS = z->scale;
        g.focusX = z->focusX;
        g.focusY = z->focusY;
    }
    return g;
}

ScenePassParameters fillSceneUniforms(const SceneInstruction &I, std::int64_t t,
                                      const SceneGeometry &g, const ScenePassLayers &layers) {
    ScenePassParameters out;
    SceneUniforms &u = out.uniforms;
    const auto &P = g.placement;
    const double W = std::trunc(I.renderSize().width), H = std::trunc(I.renderSize().height);
    const Size screen = I.screenSize();

    u.zoomActive = g.zoomActive ? 1 : 0;
    u.zoomS = f(g.zoomActive ? g.zoomS : 1);
    u.focusX = f(g.focusX);
    u.focusY = f(g.focusY);

    if (layers.cursorRect) {
        u.hasCursor = 1;
        u.curX = f(layers.cursorRect->x);
        u.curY = f(layers.cursorRect->y);
        u.curW = f(layers.cursorRect->width);
        u.curH = f(layers.cursorRect->height);
    }
    if (layers.click) {
        u.hasClick = 1;
        u.clickKind = f(layers.click->kind + 1);
        u.clickCX = f(layers.click->cx);
        u.clickCY = f(layers.click->cy);
        u.clickRadius = f(layers.click->radius);
        u.clickLineW = f(layers.click->lineWidth);
        u.clickAlpha = f(layers.click->alpha);
    }

    if (const auto &cam = layers.webcam) {
        u.hasWebcam = 1;
        u.wdX = f(cam->dest.x), u.wdY = f(cam->dest.y);
        u.wdW = f(cam->dest.width), u.wdH = f(cam->dest.height);
        u.wShape = f(cam->shape);
        u.wRadius = f(cam->cornerRadius);
        u.wAlpha = f(cam->alpha);
        u.camW = f(std::max(cam->camExtent.width, 1.0));
        u.camH = f(std::max(cam->camExtent.height, 1.0));
        u.wRemoveBg = cam->maskBound ? 1 : 0;
        u.hasShadow = cam->hasShadow ? 1 : 0;
        u.hasHairline = cam->hasHairline ? 1 : 0;
    } else {
        // No bubble: its neutral values.
        u.wdX = 0, u.wdY = 0, u.wdW = 1, u.wdH = 1;
        u.wAlpha = 1;
        u.camW = 1, u.camH = 1;
    }
    u.hasOverlay = layers.hasOverlay ? 1 : 0;

    const auto window = SceneRenderer::screenWindow(I, t);
    u.screenTexW = f(window.captureW);
    u.screenTexH = f(window.captureH);
    u.winX = f(window.x);
    u.winY = f(window.y);
    u.winW = f(window.width);
    u.winH = f(window.height);
    u.letterbox = window.letterbox ? 1 : 0;

    u.canvasW = f(W);
    u.canvasH = f(H);
    u.srX = f(P.screenRect.x);
    u.srY = f(P.screenRect.y);
    u.srW = f(P.screenRect.width);
    u.srH = f(P.screenRect.height);
    u.contentW = f(P.contentSize.width);
    u.contentH = f(P.contentSize.height);
    u.cropX = f(P.cropOrigin.x);
    u.cropY = f(P.cropOrigin.y);
    u.screenW = f(screen.width);
    u.screenH = f(screen.height);
    u.hasScreen = layers.hasScreen ? 1 : 0;
    u.tX = f(P.target.x);
    u.tY = f(P.target.y);
    u.tW = f(P.target.width);
    u.tH = f(P.target.height);
    u.radius = f(layers.radius);
    u.barY0 = f(P.target.maxY() - P.barH);
    u.barY1 = f(P.target.maxY());
    u.maskCount = f(static_cast<double>(g.masks.size()));
    out.masks = g.masks;
    if (out.masks.empty()) out.masks.push_back({0, 0, 0, 0});
    return out;
}

} // namespace qv
