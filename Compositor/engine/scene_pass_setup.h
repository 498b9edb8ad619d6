// Host side of the compositing pass: derives the parameter block and the mask list of one
// frame from the instruction, the source time and what the frame pipeline could prepare.
// Pure functions; called on the compositor's render queue.
#pragma once

#include "Compositor/engine/scene_instruction.h"
#include "Compositor/engine/scene_uniforms.h"
#include "Compositor/scene/scene_geometry.h"
#include "Compositor/scene/scene_renderer.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

// Placement, solid masks (content space, y-up) and zoom of one frame.
struct SceneGeometry {
    SceneRenderer::ScreenPlacement placement;
    std::vector<MaskRect> masks; // at most kMaxMasks
    bool zoomActive = false;
    double zoomS = 1;
    double focusX = 0, focusY = 0;
};

// Absent when an active blur mask is met before eight solid ones: only the image-filter
// renderer can draw that frame.
std::optional<SceneGeometry> sceneGeometry(const SceneInstruction &instruction,
                                           std::int64_t sourceMs);

// What the pipeline managed to bind for this frame. Layers that are absent stay off.
struct ScenePassLayers {
    double radius = 0;
    bool hasScreen = false;
    // The cursor sprite rectangle (content space) when a sprite texture is bound.
    std::optional<Rect> cursorRect;
    struct Click {
        int kind = 0; // 0 ripple, 1 ring, 2 shockwave
        double cx = 0, cy = 0, radius = 0, lineWidth = 0, alpha = 0;
    };
    std::optional<Click> click;
    bool hasOverlay = false;
    // The webcam bubble when its camera texture is bound.
    struct Webcam {
        Rect dest;
        int shape = 0;
        double cornerRadius = 0, alpha = 1;
        Size camExtent;
        bool maskBound = false; // the person mask of this frame is bound
        bool hasShadow = false, hasHairline = false;
    };
    std::optional<Webcam> webcam;
};

struct ScenePassParameters {
    SceneUniforms uniforms{};
    std::vector<MaskRect> masks; // never empty: one zero rectangle when there are none
};

ScenePassParameters fillSceneUniforms(const SceneInstruction &instruction, std::int64_t sourceMs,
                                      const SceneGeometry &geometry, const ScenePassLayers &layers);

} // namespace qv
