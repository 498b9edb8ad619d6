// The row shader for any x86-64 (or other) CPU.
#include "Compositor/engine/scene_pass_rows.h"

#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace qv::scenepass::base {
namespace {
#include "Compositor/engine/scene_pass_rows.inc"
} // namespace

void shadeRows(const Inputs &in, platform::gfx::Texture &target, int rowBegin, int rowEnd,
               Scratch &scratch, const platform::RowChanges *spans) {
    shadeBand(in, target, rowBegin, rowEnd, scratch, spans);
}
} // namespace qv::scenepass::base
