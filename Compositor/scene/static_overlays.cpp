#include "Compositor/scene/static_overlays.h"

#include "Compositor/scene/frame_decorations.h"
#include "Compositor/scene/screen_placement.h"
#include "platform/image/image_ops.h"

namespace qv::SceneRenderer {

double staticOverlayRadius(const Edits::Scene &scene, Size screenSize, Size canvas) noexcept {
    return frameCornerRadius(scene.frameRadius, screenPlacement(scene, screenSize, canvas).target);
}

StaticOverlays staticOverlays(const Edits::Scene &scene, Size screenSize, Size canvas,
                              const platform::ImageRef &background) {
    const ScreenPlacement p = screenPlacement(scene, screenSize, canvas);
    const Rect &target = p.target;
    StaticOverlays o;
    o.behind = background;
    o.radius = frameCornerRadius(scene.frameRadius, target);

    // Written as "is positive" so that NaN counts as off.
    if (background && scene.shadowStrength > 0 && scene.paddingPercent > 0) {
        if (auto shadow = frameShadow(scene, target, background->extent()))
            if (auto behind = platform::compositeOver(*shadow, *background)) o.behind = behind;
    }
    if (p.barH > 0)
        o.chrome = chromeBarImage({target.minX(), target.maxY() - p.barH, target.width, p.barH},
                                  scene.chromeStyle == Edits::ChromeStyle::browser);
    if (scene.showBorder) o.border = borderImage(target, scene.frameRadius);
    return o;
}

} // namespace qv::SceneRenderer
