// The frame's static layers. For now the behind layer is the background itself and the chrome
// bar a plain light band; the drop shadow, the bar's details and the border come with the
// decoration work.
#include "Compositor/scene/static_overlays.h"
#include "Compositor/scene/screen_placement.h"

#include <algorithm>
#include <cmath>

namespace qv::SceneRenderer {

StaticOverlays staticOverlays(const Edits::Scene &scene, Size screenSize, Size canvas,
                              const platform::ImageRef &background) {
    const ScreenPlacement p = screenPlacement(scene, screenSize, canvas);
    StaticOverlays o;
    o.behind = background;
    o.radius =
        std::max(std::min(scene.frameRadius, 0.5 * std::min(p.target.width, p.target.height)), 0.0);
    if (p.barH > 0 && p.target.width >= 1) {
        const double top = p.target.maxY();
        const double bottom = std::floor(top - p.barH);
        o.chrome = platform::Image::solid(static_cast<int>(p.target.width),
                                          static_cast<int>(top - bottom), 0.93, 0.93, 0.94, 1);
        if (o.chrome) o.chrome = platform::Image::make(o.chrome->bitmapRef(), {p.target.x, bottom});
    }
    return o;
}

} // namespace qv::SceneRenderer
