// SceneRenderer: the layout and decoration of a scene, as pure functions of the scene, the
// sizes and the source time. Rectangles are canvas pixels, origin bottom-left, y up.
// Thread safety: every function here is pure or guards its own process-wide caches.
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

// The canvas background for the scene at the given size; `provided` is the instruction's
// background image. Never null for a size of at least one pixel.
platform::ImageRef buildBackground(const Edits::Scene &scene, Size size,
                                   const platform::ImageRef &provided);

// Six hexadecimal digits with an optional leading "#" to straight RGB in 0..1; anything else
// is black.
struct RGB {
    double r = 0, g = 0, b = 0;
    friend bool operator==(const RGB &, const RGB &) = default;
};
RGB hexColor(std::string_view text) noexcept;

struct StaticOverlays {
    platform::ImageRef behind; // background with the frame's shadow; canvas-sized
    platform::ImageRef chrome; // the chrome bar at its place, or null
    platform::ImageRef border; // the frame border at the target, or null
    double radius = 0;         // corner radius of the frame
};
StaticOverlays staticOverlays(const Edits::Scene &scene, Size screenSize, Size canvas,
                              const platform::ImageRef &background);

} // namespace qv::SceneRenderer
