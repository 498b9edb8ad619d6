#include "Compositor/scene/scene_geometry.h"

#include "Compositor/engine/scene_instruction.h"

#include <algorithm>

namespace qv::SceneRenderer {

std::vector<ActiveMask> activeMasks(const SceneInstruction &I, std::int64_t t, Size content) {
    std::vector<ActiveMask> out;
    for (const Edits::Mask &mask : I.edits().masks) {
        if (!(mask.startMs <= t && t <= mask.endMs)) continue;
        const auto r = mask.resolvedRect(t);
        const double w = r.width * content.width, h = r.height * content.height;
        out.push_back({&mask,
                       {r.x * content.width, content.height - (r.y * content.height + h), w, h},
                       w > 1 && h > 1});
    }
    return out;
}

std::optional<ZoomView> zoomView(const SceneInstruction &I, std::int64_t t,
                                 const ScreenPlacement &P) {
    const auto z = I.zoomPath().transform(t);
    if (!z || !(z->scale > 1.001)) return std::nullopt;
    const Size content = P.contentSize;
    const double halfW = content.width / (2 * z->scale);
    const double halfH = content.height / (2 * z->scale);
    const Point o = P.cropOrigin;
    auto clampTo = [](double v, double lo, double hi) { return std::min(std::max(v, lo), hi); };
    return ZoomView{z->scale, clampTo(z->cx - o.x, halfW, content.width - halfW),
                    clampTo((I.screenSize().height - z->cy) - o.y, halfH, content.height - halfH)};
}

ScreenWindow screenWindow(const SceneInstruction &I, std::int64_t t) {
    ScreenWindow w;
    if (const auto &crop = I.windowCrop()) {
        const auto s = crop->sample(t);
        w.captureW = crop->captureWidth;
        w.captureH = crop->captureHeight;
        w.x = s.x;
        w.y = crop->captureHeight - (s.y + s.height);
        w.width = s.width;
        w.height = s.height;
        w.letterbox = crop->isMaxObserved();
        return w;
    }
    const Size screen = I.screenSize();
    w.captureW = w.width = screen.width;
    w.captureH = w.height = screen.height;
    return w;
}

} // namespace qv::SceneRenderer
