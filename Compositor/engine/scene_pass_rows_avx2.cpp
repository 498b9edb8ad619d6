// The row shader built for AVX2 and FMA; chosen at first use when the CPU has them.
#include "Compositor/engine/scene_pass_rows.h"

#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace qv::scenepass::avx2 {
namespace {
#include "Compositor/engine/scene_pass_rows.inc"
} // namespace

void shadeRows(const Inputs &in, platform::gfx::Texture &target, int rowBegin, int rowEnd,
               Scratch &scratch, const platform::RowChanges *spans) {
    shadeBand(in, target, rowBegin, rowEnd, scratch, spans);
}
} // namespace qv::scenepass::avx2
