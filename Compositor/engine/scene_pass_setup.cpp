#include "Compositor/engine/scene_pass_setup.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {
double clampTo(double v, double lo, double hi) {
    return std::min(std::max(v, lo), hi);
}
float f(double v) {
    return static_cast<float>(v);
}
} // namespace

const Edits::Mask *blurMaskAt(const SceneInstruction &I, std::int64_t t) {
    int solids = 0;
    for (const Edits::Mask &mask : I.edits().masks) {
        if (!(mask.startMs <= t && t <= mask.endMs)) continue;
        if (mask.style == Edits::MaskStyle::blur) return &mask;
        // Masks after the eighth drawn one are not looked at, of either style.
        const Size content = SceneRenderer::screenPlacement(I.edits().effectiveScene(),
                                                            I.screenSize(), I.renderSize())
                                 .contentSize;
        const auto r = mask.resolvedRect(t);
        if (r.width * content.width > 1 && r.height * content.height > 1 && ++solids == kMaxMasks)
            return nullptr;
    }
    return nullptr;
}

std::optional<SceneGeometry> sceneGeometry(const SceneInstruction &I, std::int64_t t) {
    const Edits::Scene &scene = I.edits().effectiveScene();
    SceneGeometry g;
    g.placement = SceneRenderer::screenPlacement(scene, I.screenSize(), I.renderSize());
    const Size content = g.placement.contentSize;

    for (const Edits::Mask &mask : I.edits().masks) {
        if (!(mask.startMs <= t && t <= mask.endMs)) continue;
        if (mask.style == Edits::MaskStyle::blur) return std::nullopt;
        const auto r = mask.resolvedRect(t);
        if (r.width * content.width > 1 && r.height * content.height > 1) {
            g.masks.push_back(
                {f(r.x * content.width),
                 f(content.height - (r.y * content.height + r.height * content.height)),
                 f(r.width * content.width), f(r.height * content.height)});
        }
        if (g.masks.size() == kMaxMasks) break;
    }

    if (auto z = I.zoomPath().transform(t); z && z->scale > 1.001) {
        g.zoomActive = true;
        g.zoomS = z->scale;
        const double halfW = content.width / (2 * z->scale);
        const double halfH = content.height / (2 * z->scale);
        const Point o = g.placement.cropOrigin;
        g.focusX = clampTo(z->cx - o.x, halfW, content.width - halfW);
        g.focusY = clampTo((I.screenSize().height - z->cy) - o.y, halfH, content.height - halfH);
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

    if (const auto &crop = I.windowCrop()) {
        u.screenTexW = f(crop->captureWidth);
        u.screenTexH = f(crop->captureHeight);
        const auto s = crop->sample(t);
        u.winX = f(s.x);
        u.winY = f(crop->captureHeight - (s.y + s.height));
        u.winW = f(s.width);
        u.winH = f(s.height);
        u.letterbox = crop->canvasMode && *crop->canvasMode == "maxObserved" ? 1 : 0;
    } else {
        u.screenTexW = u.winW = f(screen.width);
        u.screenTexH = u.winH = f(screen.height);
        u.winX = u.winY = 0;
        u.letterbox = 0;
    }

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
