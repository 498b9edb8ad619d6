// The canvas background of a scene.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

namespace qv::SceneRenderer {

// The canvas background for the scene at the given size; `provided` is the instruction's
// background image. Never null for a size of at least one pixel.
platform::ImageRef buildBackground(const Edits::Scene &scene, Size size,
                                   const platform::ImageRef &provided);

} // namespace qv::SceneRenderer
