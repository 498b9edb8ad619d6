// What one band of the compositing pass works from: the decoded bindings and the scratch rows
// that the caller owns. Plain data, shared by the instruction-set variants of the row shader.
#pragma once

#include "Compositor/engine/scene_uniforms.h"
#include "platform/gfx/device.h"

#include <cstdint>

namespace qv::scenepass {

struct Inputs {
    SceneUniforms u;
    MaskRect masks[kMaxMasks];
    int maskCount = 0;
    const platform::gfx::Texture *tex[sceneSlotCount] = {};
};

// What the per-column tables of a frame are computed from. A thread that shades bands of
// several frames keeps its tables, and recomputes them only when this changes (the pointer
// and clicks move every frame; the geometry seldom does).
struct ColumnKey {
    const void *variant; // the build of the shader that filled the tables
    int width, sourceWidth, maskCount;
    float geometry[14]; // the uniforms the tables depend on
    MaskRect masks[kMaxMasks];
};

// Per-band working memory, sized by the caller: `columns` entries for the per-column tables,
// `sourceColumns` for the blended source row.
struct Scratch {
    int columns = 0;
    int sourceColumns = 0;
    float *px = nullptr;
    std::uint8_t *flags = nullptr;
    std::int32_t *sx0 = nullptr;
    std::int32_t *sx1 = nullptr;
    float *sfx = nullptr;
    std::uint8_t *maskBits = nullptr;
    std::uint8_t *winAny = nullptr;
    std::uint8_t *special = nullptr;
    std::uint8_t *shown = nullptr;    // 1 where the column shows screen content
    std::uint8_t *fastMask = nullptr; // per row: 1 where the plain blend applies
    float *win = nullptr;             // 4 floats per column
    std::uint64_t *fxw = nullptr;     // per column: the horizontal weight × 32768, in 4 lanes
    std::int16_t *vrow = nullptr;     // 4 values × 128 per source column (8 spare at the end)
    // The inputs the per-column tables above hold (kept by the caller between bands; null when
    // there is no such memory), whether they are valid, and the ranges computed with them.
    ColumnKey *columnKey = nullptr;
    bool *columnsValid = nullptr;
    int *columnRanges = nullptr; // 4 values
};

} // namespace qv::scenepass
