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
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace qv {

// Where the pass finds the columns to shade per row and what to do with the rest: fragment
// buffer `kRedrawPlanBuffer` holds a lineage id as 8 bytes, then one `RowSpan` per output row.
// With an id, the rest is copied from the texture at slot `kPreviousFrameSlot`, provided that
// texture holds the frame with that id; with id 0 the target already holds the rest.
inline constexpr int kPreviousFrameSlot = sceneSlotCount;
inline constexpr int kRedrawPlanBuffer = 2;

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

// The columns of each row of `next` that must be shaded; outside them `next` equals `last`. Null
// when everything must be shaded. `screen` is the lineage of the screen frame of `next`.
std::shared_ptr<const platform::RowSpans> planRedraw(const DrawnFrame &last, const DrawnFrame &next,
                                                     const platform::FrameLineageRef &screen);

// Output buffers drawn before, kept to be drawn over again once nobody else holds them, and
// what each recent frame changed: such a buffer is brought up to date by shading only what
// changed since the frame it holds, which costs far less than filling a fresh buffer.
class OutputRing {
public:
    explicit OutputRing(std::size_t capacity = 6) : capacity_(capacity) {}

    // Records frame `id`: `spans` are its changes against frame `parent`; null when it has no
    // such relation (drawn in full).
    void record(std::uint64_t id, std::uint64_t parent,
                std::shared_ptr<const platform::RowSpans> spans);

    struct Target {
        platform::PixelBufferRef buffer;
        platform::RowSpans spans; // what to shade to turn its content into the new frame
    };
    // A kept W × H buffer that nobody else holds (`alsoHeld` is a holder the caller accounts
    // for), whose frame the history connects to frame `id`; the one needing the least work.
    std::optional<Target> reusable(std::uint64_t id, int W, int H,
                                   const platform::PixelBuffer *alsoHeld) const;

    // Keeps a buffer the compositor drew into; the oldest beyond the capacity is let go.
    void keep(platform::PixelBufferRef buffer);
    void clear();

private:
    struct Step {
        std::uint64_t id, parent;
        std::shared_ptr<const platform::RowSpans> spans;
    };
    std::size_t capacity_;
    std::vector<platform::PixelBufferRef> buffers_;
    std::deque<Step> history_;
};

// The bytes bound as the plan buffer.
std::vector<std::uint8_t> redrawPlanBytes(std::uint64_t previousId,
                                          const platform::RowSpans &spans);

} // namespace qv
