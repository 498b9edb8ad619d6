#include "Compositor/scene/click_effects.h"

#include <algorithm>
#include <cmath>

namespace qv::SceneRenderer {

std::optional<ClickFX> clickEffectAt(Edits::ClickEffect style,
                                     const std::vector<CursorSample> &clicks, std::int64_t atMs,
                                     Size screenSize, Point cropOrigin) {
    if (style == Edits::ClickEffect::none || clicks.empty()) return std::nullopt;
    const double D = style == Edits::ClickEffect::shockwave ? 320 : 470;

    // The nearest click; strictly closer replaces, so a tie keeps the earlier one.
    const CursorSample *nearest = &clicks.front();
    std::int64_t best = std::llabs(atMs - nearest->tMs);
    for (const CursorSample &c : clicks) {
        const std::int64_t age = std::llabs(atMs - c.tMs);
        if (age < best) {
            best = age;
            nearest = &c;
        }
    }
    if (static_cast<double>(best) >= D) return std::nullopt;
    const double p = static_cast<double>(best) / D;
    const double k = std::max(screenSize.height / 1080, 0.4);

    ClickFX fx;
    fx.center = {nearest->x * screenSize.width - cropOrigin.x,
                 (1 - nearest->y) * screenSize.height - cropOrigin.y};
    switch (style) {
    case Edits::ClickEffect::ripple:
        fx.kind = ClickFX::Kind::ripple;
        fx.radius = k * (14 + 150 * p);
        fx.lineWidth = 0;
        fx.alpha = 0.3 * (1 - p) * (1 - p);
        break;
    case Edits::ClickEffect::ring:
        fx.kind = ClickFX::Kind::ring;
        fx.radius = k * (26 + 130 * p);
        fx.lineWidth = std::max(5 * k, 2.0);
        fx.alpha = 0.6 * (1 - p);
        break;
    case Edits::ClickEffect::shockwave:
        fx.kind = ClickFX::Kind::shockwave;
        fx.radius = k * (24 + 240 * p);
        fx.lineWidth = std::max(3 * k, 1.5);
        fx.alpha = 0.75 * std::pow(1 - p, 1.6);
        break;
    case Edits::ClickEffect::none:
        return std::nullopt;
    }
    return fx;
}

} // namespace qv::SceneRenderer
