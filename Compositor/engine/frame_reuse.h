// Redrawing only what changed. A screen recording changes little from one frame to the next:
// a few rows of typing, the pointer, a click ring. When two consecutive frames of the pass have
// the same layers and the same geometry, every output row whose inputs are unchanged is taken
// from the frame drawn before instead of being shaded again.
//
// A row's inputs are the two screen rows it blends (unchanged when the screen frame's lineage
// says so) and the decorations (pointer, click effect, masks) whose rows it crosses, in this
// frame or the one before. Everything else the pass reads is the same for both frames.
//
// Thread safety: plain values; the compositor uses them on its render queue.
#pragma once

#include "Compositor/engine/scene_uniforms.h"
#include "platform/gfx/device.h"
#include "platform/video/pixel_buffer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qv {

// Where the pass finds the columns to shade per row and what to do with the rest: fragment
// buffer `kRedrawPlanBuffer` holds a lineage id as 8 bytes, then `kPlanRowBytes` per output row
// (the number of spans as an int32, then `RowChanges::kMaxSpans` spans as int32 pairs).
// With an id, the rest is copied from the texture at slot `kPreviousFrameSlot`, provided that
// texture holds the frame with that id; with id 0 the target already holds the rest.
inline constexpr int kPreviousFrameSlot = sceneSlotCount;
inline constexpr int kRedrawPlanBuffer = 2;
inline constexpr std::size_t kPlanRowBytes = 4 + 8 * platform::RowChanges::kMaxSpans;

// One frame of the pass, as far as reuse is concerned.
struct DrawnFrame {
    platform::gfx::TextureRef output;
    std::uint64_t outputId = 0; // the lineage id its output gets once drawn
    int width = 0, height = 0;  // of the output
    SceneUniforms uniforms{};
    std::vector<MaskRect> masks;
    // The bound textures; the screen slot is described by its lineage instead.
    std::array<platform::gfx::TextureRef, sceneSlotCount> layers{};
    std::uint64_t screenId = 0;
    int screenWidth = 0, screenHeight = 0;
};

// The columns of each row of `next` that must be shaded; outside them `next` equals `last`.
// Nullopt when everything must be shaded. `screen` is the lineage of the screen frame of `next`.
std::optional<platform::RowSpans> planRedraw(const DrawnFrame &last, const DrawnFrame &next,
                                             const platform::FrameLineageRef &screen);

// The bytes bound as the plan buffer, and back: false when they are not a plan for `rows` rows.
// Reading fills rows [rowBegin, rowEnd) of `spans` (sized `rows`), clamped to [0, width].
std::vector<std::uint8_t> redrawPlanBytes(std::uint64_t previousId,
                                          const platform::RowSpans &spans);
bool readRedrawPlan(const std::vector<std::uint8_t> &bytes, int rows, int width, int rowBegin,
                    int rowEnd, std::uint64_t &previousId, platform::RowSpans &spans);

} // namespace qv
