// The compositing pass written the plain way, step by step, as the independent version that
// the fast kernel is checked against. Tests only.
#pragma once

#include "Compositor/engine/scene_uniforms.h"
#include "platform/gfx/device.h"

#include <array>
#include <span>

namespace qv::testing {

using SceneTextures = std::array<const platform::gfx::Texture *, sceneSlotCount>;

struct RGBf {
    float r, g, b;
};

// One pixel: X, Yf are the pixel centre in fragment space (top-left origin, y down).
RGBf scenePixelReference(float X, float Yf, const SceneUniforms &u, std::span<const MaskRect> masks,
                         const SceneTextures &tex);

// The whole canvas into a BGRA8 buffer of canvasW × canvasH.
void renderSceneReference(const SceneUniforms &u, std::span<const MaskRect> masks,
                          const SceneTextures &tex, platform::PixelBuffer &out);

} // namespace qv::testing
