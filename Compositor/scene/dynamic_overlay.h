// The text badges over the bottom of the video: the presenter's most recent key chord, shown
// for 820 ms and faded out over the next 280 ms, and the caption whose time range covers the
// moment. Both are drawn into one transparent canvas-sized image that the compositing pass
// puts over everything else. Positions are canvas pixels, y-up, origin bottom-left.
//
// Text is laid out with Pango. The design's font names are mapped to installed families by
// hand ("Menlo-Bold" → DejaVu Sans Mono Bold, "HelveticaNeue-Bold" → Nimbus Sans Bold, else
// Liberation Sans Bold): fontconfig's own fallback for unknown names is a regular proportional
// face, which would lose the keystroke badge's monospaced look.
//
// Thread safety: pure functions; caption images go through the shared ChromeCache and its lock,
// keystroke badges (whose opacity changes every frame) are drawn per call.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/image/image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {
class SceneInstruction;
}

namespace qv::SceneRenderer {

inline constexpr std::int64_t kKeystrokeVisibleMs = 820;
inline constexpr std::int64_t kKeystrokeFadeMs = 280;

// Opacity of the keystroke badge `ageMs` after its chord: 1, then a linear fade; 0 where no
// badge is drawn (negative ages, past the fade, or too faint to see).
double keystrokeOpacity(std::int64_t ageMs) noexcept;

// Font sizes in canvas pixels for a canvas `H` pixels high; scales are clamped to 0.5…3.
double keystrokeFontSize(double H, double scale) noexcept;
double captionFontSize(double H, double scale) noexcept;

// One badge, drawn at the origin: its image is bw × bh pixels.
struct Badge {
    platform::ImageRef image;
    double fontSize = 0;  // after any shrinking
    double textWidth = 0; // typographic width of the line at that size
};

// The keystroke pill for `text` at opacity `alpha`. Null on a canvas under one pixel or when
// the text cannot be laid out.
std::optional<Badge> keystrokeBadge(std::string_view text, double H, double scale, double alpha);
// The caption badge, shrunk to fit 86 % of the width down to a 12 px floor and clipped beyond
// that; not cached. Null when the text cannot be laid out or the badge has no pixels.
std::optional<Badge> captionBadge(std::string_view text, double W, double H, double scale);

// Lower-left corner of a badge `bw` wide at the bottom of a W × H canvas, with the margin
// `marginShare` × min(W, H), on whole pixels so that the text stays sharp.
Point badgeOrigin(Edits::BadgePosition position, double W, double H, double bw,
                  double marginShare) noexcept;

// The badges of the instruction at source time `atMs`, as a transparent premultiplied image of
// the canvas (whole pixels of the render size, origin at 0); null when no badge shows.
platform::ImageRef dynamicOverlay(const SceneInstruction &instruction, std::int64_t atMs);

// The face Pango actually uses for a design font name ("Menlo-Bold", "HelveticaNeue-Bold").
struct ResolvedFace {
    std::string family;
    int weight = 0; // CSS scale: 400 regular, 700 bold
    bool monospace = false;
};
// Nullopt for a design name that has no mapping or when no font can be loaded.
std::optional<ResolvedFace> resolvedFace(std::string_view designName);

} // namespace qv::SceneRenderer
