// SceneRenderer: the layout and decoration of a scene, as pure functions of the scene, the
// sizes and the source time. Rectangles are canvas pixels, origin bottom-left, y up.
// Thread safety: every function here is pure or guards its own process-wide caches.
#pragma once

#include "Compositor/scene/background.h"
#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/filter_renderer.h"
#include "Compositor/scene/frame_decorations.h"
#include "Compositor/scene/hex_color.h"
#include "Compositor/scene/scene_geometry.h"
#include "Compositor/scene/screen_placement.h"
#include "Compositor/scene/static_overlays.h"
