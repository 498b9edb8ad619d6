// The frame's static layers: the background with the frame shadow, the chrome bar, the border.
// They change only with the scene and the canvas, so the compositor bakes them into textures
// once per instruction and size.
// Thread safety: pure; the decoration images come from the shared, self-guarding ChromeCache.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

namespace qv::SceneRenderer {

struct StaticOverlays {
    platform::ImageRef behind; // background with the frame's shadow; opaque, canvas-sized
    platform::ImageRef chrome; // the chrome bar at its place, or null
    platform::ImageRef border; // the frame border at the target, or null
    double radius = 0;         // corner radius of the frame
};
StaticOverlays staticOverlays(const Edits::Scene &scene, Size screenSize, Size canvas,
                              const platform::ImageRef &background);

// Just the corner radius of staticOverlays, without baking anything.
double staticOverlayRadius(const Edits::Scene &scene, Size screenSize, Size canvas) noexcept;

} // namespace qv::SceneRenderer
