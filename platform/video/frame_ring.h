// Frames a producer made, kept to be made over again once nobody else holds them. With the
// lineage of each recent frame, such a buffer is brought up to date by redoing only what changed
// since the frame it holds, which costs far less than filling a fresh buffer.
//
// Thread safety: one owner uses it; the buffers it hands out may be shared as usual, and it
// hands one out again only when every other holder has let go of it.
#pragma once

#include "platform/video/frame_lineage.h"
#include "platform/video/pixel_buffer.h"

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <vector>

namespace qv::platform {

class FrameRing {
public:
    explicit FrameRing(std::size_t capacity) : capacity_(capacity), history_(2 * capacity + 2) {}

    // Records the newest frame: its id, and its changes against the frame before (none when it
    // has no such relation).
    void record(FrameLineageRef frame) { history_.record(std::move(frame)); }

    struct Target {
        PixelBufferRef buffer;
        RowSpans spans; // what to redo to turn its content into the newest frame
    };
    // A kept W × H buffer that nobody else holds (`alsoHeld` lists holders the caller accounts
    // for; null entries are ignored), whose frame the history connects to the newest one; the
    // one needing the least work.
    std::optional<Target> reusable(int W, int H,
                                   std::initializer_list<const PixelBuffer *> alsoHeld) const;

    // A kept W × H buffer that nobody else holds, whatever it shows: a frame drawn whole goes
    // there rather than into new memory, so the kept buffers do not grow in number with every
    // frame that has no relation to the one before (a seek).
    PixelBufferRef idle(int W, int H) const;

    // Keeps a buffer the producer filled; the oldest beyond the capacity (fewer for large
    // frames: at most about 64 MB, but two at least) is let go.
    void keep(PixelBufferRef buffer);

private:
    std::size_t capacity_;
    std::vector<PixelBufferRef> buffers_;
    LineageHistory history_;
};

} // namespace qv::platform
