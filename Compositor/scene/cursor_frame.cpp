#include "Compositor/scene/cursor_frame.h"

#include "Compositor/engine/scene_instruction.h"
#include "Compositor/scene/cursor_path.h"

#include <algorithm>
#include <cmath>

namespace qv::SceneRenderer {

std::string_view glyphName(SystemGlyph glyph) noexcept {
    switch (glyph) {
    case SystemGlyph::pointingHand:
        return "pointingHand";
    case SystemGlyph::iBeam:
        return "iBeam";
    case SystemGlyph::iBeamVertical:
        return "iBeamVertical";
    case SystemGlyph::openHand:
        return "openHand";
    case SystemGlyph::closedHand:
        return "closedHand";
    case SystemGlyph::crosshair:
        return "crosshair";
    case SystemGlyph::resizeH:
        return "resizeH";
    case SystemGlyph::resizeV:
        return "resizeV";
    case SystemGlyph::notAllowed:
        return "notAllowed";
    }
    return {};
}

std::optional<SystemGlyph> glyphForKind(std::string_view kind) noexcept {
    using G = SystemGlyph;
    static constexpr std::pair<std::string_view, G> table[] = {
        {"pointingHand", G::pointingHand},
        {"iBeam", G::iBeam},
        {"iBeamVertical", G::iBeamVertical},
        {"openHand", G::openHand},
        {"closedHand", G::closedHand},
        {"crosshair", G::crosshair},
        {"resizeLeftRight", G::resizeH},
        {"resizeLeft", G::resizeH},
        {"resizeRight", G::resizeH},
        {"resizeUpDown", G::resizeV},
        {"resizeUp", G::resizeV},
        {"resizeDown", G::resizeV},
        {"operationNotAllowed", G::notAllowed},
    };
    for (const auto &[name, glyph] : table)
        if (name == kind) return glyph;
    return std::nullopt;
}

std::optional<CursorFrame> cursorFrame(const SceneInstruction &I, std::int64_t atMs,
                                       Point cropOrigin) {
    const Edits::Scene &scene = I.edits().effectiveScene();
    if (!(scene.cursorSize > 0) || I.cursorPath().empty()) return std::nullopt;
    const auto p = I.followFilter().position(I.cursorPath(), atMs);
    if (!p) return std::nullopt;
    const Size screen = I.screenSize();

    CursorFrame frame;
    frame.click = clickEffectAt(scene.clickEffect, I.clicks(), atMs, screen, cropOrigin);
    if (!I.cursorSynthetic()) return frame;

    std::string_view kind = "arrow";
    const auto &kinds = I.cursorKinds();
    if (!kinds.empty() && kinds.front().tMs <= atMs) {
        auto it =
            std::upper_bound(kinds.begin(), kinds.end(), atMs,
                             [](std::int64_t t, const CursorKindSample &s) { return t < s.tMs; });
        kind = std::prev(it)->kind;
    }
    const CursorSprite sprite = cursorSprite(scene, glyphForKind(kind));
    if (!sprite.image) return frame;
    const Rect extent = sprite.image->extent();
    const double h = std::max(scene.cursorSize, 0.1) * screen.height * 0.02;
    const double s = h / extent.height;
    const double w = s * extent.width;
    const double cx = p->x * screen.width - cropOrigin.x;
    const double cy = (1 - p->y) * screen.height - cropOrigin.y;
    frame.sprite = sprite.image;
    frame.spriteRect = {cx - sprite.hotX * w, cy - h * (1 - sprite.hotY), w, h};
    return frame;
}

} // namespace qv::SceneRenderer
