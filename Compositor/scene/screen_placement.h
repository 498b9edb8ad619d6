// Where the recorded screen sits on the canvas. Pure arithmetic; rectangles are canvas pixels,
// origin bottom-left, y up.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

#include <optional>
#include <utility>

namespace qv::SceneRenderer {

struct ScreenPlacement {
    Rect ciCropRect;  // shown source region, source pixels, y-up (crop inset by 4)
    Size contentSize; // crop size minus 8 on each axis
    Point cropOrigin; // min corner of ciCropRect
    Rect target;      // the whole frame (bar plus screen), whole pixels
    double barH = 0;  // chrome bar height, 0 without chrome
    Rect screenRect;  // target minus the bar band at its top
};

// Where the recorded screen sits on the canvas. Degenerate inputs (no area left, empty or
// non-finite sizes) give an all-zero placement instead of NaN.
ScreenPlacement screenPlacement(const Edits::Scene &scene, Size screenSize, Size canvas) noexcept;

// The content rectangle for user-interface overlays: untrimmed aspect, not snapped.
Rect contentRect(const Edits::Scene &scene, Size screenSize, Size canvas) noexcept;

// The webcam column and the screen area when the webcam sits beside the screen; absent for
// every other webcam position.
std::optional<std::pair<Rect, Rect>> sideBySideSplit(const Edits::Scene &scene,
                                                     Size canvas) noexcept;

// Chrome bar height for a frame of the given height.
double chromeBarHeight(Edits::ChromeStyle style, double frameHeight) noexcept;

} // namespace qv::SceneRenderer
