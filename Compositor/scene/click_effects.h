// Click decorations: the short white animation around a recorded click.
#pragma once

#include "Compositor/engine/track_samples.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv::SceneRenderer {

struct ClickFX {
    enum class Kind { ripple, ring, shockwave };
    Kind kind = Kind::ripple;
    Point center;         // content space: source pixels, y-up, from the crop origin
    double radius = 0;    // source pixels
    double lineWidth = 0; // 0 for a ripple
    double alpha = 0;     // opacity of the white decoration
    friend bool operator==(const ClickFX &, const ClickFX &) = default;
};

// The decoration visible at atMs, from D before to D after the nearest click (ties go to the
// earlier one in the list), or nothing.
std::optional<ClickFX> clickEffectAt(Edits::ClickEffect style,
                                     const std::vector<CursorSample> &clicks, std::int64_t atMs,
                                     Size screenSize, Point cropOrigin);

} // namespace qv::SceneRenderer
