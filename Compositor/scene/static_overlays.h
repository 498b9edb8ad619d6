// The frame's static layers: the background with the frame shadow, the chrome bar, the border.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

namespace qv::SceneRenderer {

struct StaticOverlays {
    platform::ImageRef behind; // background with the frame's shadow; canvas-sized
    platform::ImageRef chrome; // the chrome bar at its place, or null
    platform::ImageRef border; // the frame border at the target, or null
    double radius = 0;         // corner radius of the frame
};
StaticOverlays staticOverlays(const Edits::Scene &scene, Size screenSize, Size canvas,
                              const platform::ImageRef &background);

} // namespace qv::SceneRenderer
