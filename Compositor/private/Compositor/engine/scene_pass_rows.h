// The row shader of the compositing pass, in one variant per instruction set.
#pragma once

#include "Compositor/engine/scene_pass_inputs.h"

namespace qv::scenepass {

// Shades rows [rowBegin, rowEnd) of the target; with `spans`, only the columns of each row's
// spans (within the target's width).
namespace base {
void shadeRows(const Inputs &in, platform::gfx::Texture &target, int rowBegin, int rowEnd,
               Scratch &scratch, const platform::RowChanges *spans);
}
namespace avx2 {
// Needs a CPU with AVX2 and FMA.
void shadeRows(const Inputs &in, platform::gfx::Texture &target, int rowBegin, int rowEnd,
               Scratch &scratch, const platform::RowChanges *spans);
} // namespace avx2

} // namespace qv::scenepass
