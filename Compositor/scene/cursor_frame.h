// The cursor of one frame: which sprite to draw where (content space), and the click effect.
// Thread safety: the functions are pure except for the process-wide sprite cache, which has
// its own lock (each style is rendered once, even under concurrent calls).
#pragma once

#include "Compositor/engine/track_samples.h"
#include "Compositor/scene/click_effects.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qv {
class SceneInstruction;
}

namespace qv::SceneRenderer {

enum class SystemGlyph {
    pointingHand,
    iBeam,
    iBeamVertical,
    openHand,
    closedHand,
    crosshair,
    resizeH,
    resizeV,
    notAllowed,
};
inline constexpr SystemGlyph kAllSystemGlyphs[] = {
    SystemGlyph::pointingHand, SystemGlyph::iBeam,      SystemGlyph::iBeamVertical,
    SystemGlyph::openHand,     SystemGlyph::closedHand, SystemGlyph::crosshair,
    SystemGlyph::resizeH,      SystemGlyph::resizeV,    SystemGlyph::notAllowed};

// The glyph's case name, under which system bitmaps are registered.
std::string_view glyphName(SystemGlyph glyph) noexcept;

struct CursorFrame {
    platform::ImageRef sprite; // premultiplied, row 0 is the visual top; null: draw no cursor
    Rect spriteRect;           // content space: source pixels, y-up, from the crop origin
    std::optional<ClickFX> click;
};

// The cursor at atMs (source milliseconds), or nothing when no cursor is drawn at all.
std::optional<CursorFrame> cursorFrame(const SceneInstruction &instruction, std::int64_t atMs,
                                       Point cropOrigin);

// The glyph a recorded cursor kind is drawn with; nothing for "arrow" and unknown kinds.
std::optional<SystemGlyph> glyphForKind(std::string_view kind) noexcept;

struct CursorSprite {
    platform::ImageRef image;
    double hotX = 0, hotY = 0; // fractions of the image size from its top-left
};

// The sprite for the scene's cursor style, or the registered system bitmap for the glyph.
CursorSprite cursorSprite(const Edits::Scene &style, std::optional<SystemGlyph> glyph);

// How many sprites the process-wide cache has rendered; for tests and diagnostics.
int cursorSpriteRenderCount();

} // namespace qv::SceneRenderer
