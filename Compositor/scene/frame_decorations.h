// The frame's baked decorations: the drop shadow, the chrome bar and the border. Each is drawn
// once per geometry into the shared ChromeCache and handed out placed on the canvas.
// Thread safety: any thread (the cache guards itself).
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

namespace qv::SceneRenderer {

// The frame's shadow on a transparent canvas of `canvas` extent (the background's), or null
// when there is none to draw. Black at opacity 0.45 × clamp(shadowStrength, 0, 1) in the shape
// of the rounded frame, blurred by shadowBlur, moved down by shadowOffset, and cut away where
// the frame itself will be.
platform::ImageRef frameShadow(const Edits::Scene &scene, const Rect &target, const Rect &canvas);

// The shadow's blur is bounded relative to the canvas: its cost grows with the square of the
// blur, and beyond this a shadow has faded to nothing anyway.
inline constexpr double maxShadowBlurFraction = 0.05;
// shadowBlur clamped to 0 … maxShadowBlurFraction × the canvas's larger side.
double boundedShadowBlur(double shadowBlur, const Rect &canvas) noexcept;

// The window-chrome bar for the bar rectangle (whole pixels wide; its top edge is the frame's
// top), with the three window buttons when `dots`. Null when the bar is under one pixel.
platform::ImageRef chromeBarImage(const Rect &bar, bool dots);

// The frame's border line, placed at `target`; null for a frame under one pixel.
platform::ImageRef borderImage(const Rect &target, double frameRadius);

// The border's line width for a frame of this width.
double borderLineWidth(double targetWidth) noexcept;
// The corner radius of the frame: frameRadius clamped to 0 … half the shorter side.
double frameCornerRadius(double frameRadius, const Rect &target) noexcept;

} // namespace qv::SceneRenderer
