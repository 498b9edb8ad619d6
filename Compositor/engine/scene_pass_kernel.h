// The compositing pass as the device runs it: the per-pixel function of the scene, evaluated
// band by band on the device's worker threads. Registered with the device as the fragment
// program "sceneF" (with vertex stage "sceneV").
//
// Preconditions of the fast paths (the general path handles everything else):
// - canvas-sized layers (behind, chrome, border, overlay, webcam shadow and hairline) whose
//   texture has the target's size are read texel for texel; a 1 × 1 texture is a constant;
// - the screen texture is BGRA8; the person mask is R8.
#pragma once

#include "platform/gfx/device.h"

namespace qv {

// Shades rows [rowBegin, rowEnd) of the target from buffer 0 (SceneUniforms), buffer 1 (mask
// rectangles) and the ten texture slots.
void sceneFragmentProgram(const platform::gfx::FragmentBindings &bindings,
                          platform::gfx::Texture &target, int rowBegin, int rowEnd);

// Which build of the row shader runs: the one for the CPU (chosen at first use), or a given
// one. Tests use this to check every variant the machine can run.
enum class ScenePassVariant { automatic, base, avx2 };
// False when the CPU cannot run the requested variant (the setting is then unchanged).
bool setScenePassVariantForTesting(ScenePassVariant variant);

// Registers the program with the device's program table; idempotent.
void registerScenePassProgram();

// The pipeline of the pass: the full-canvas triangle and this program, which writes every
// pixel of the target opaquely.
platform::gfx::RenderPipelineDescriptor scenePipelineDescriptor();

} // namespace qv
