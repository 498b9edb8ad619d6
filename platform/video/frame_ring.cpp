#include "platform/video/frame_ring.h"

#include <algorithm>

namespace qv::platform {

std::optional<FrameRing::Target>
FrameRing::reusable(int W, int H, std::initializer_list<const PixelBuffer *> alsoHeld) const {
    const PixelBufferRef *best = nullptr;
    std::size_t bestSteps = 0;
    for (const PixelBufferRef &b : buffers_) {
        if (b->width() != W || b->height() != H) continue;
        const long holders = 1 + std::count(alsoHeld.begin(), alsoHeld.end(), b.get());
        if (b.use_count() != holders) continue;
        // Nobody else holds it, and nobody can take it (only its holders could). Taking a
        // reference increments the count with acquire-release ordering, which reads the count
        // the last other holder left when it let go: what that holder did with the buffer
        // (reading its pixels, setting its lineage) happens before anything done here. A
        // fence after the plain count check would order it as well, but race detectors do not
        // see fences.
        const PixelBufferRef claimed = b;
        const FrameLineageRef &lineage = claimed->lineage();
        if (!lineage) continue; // its frame was never finished
        const auto steps = history_.distance(lineage->id, H);
        if (steps && *steps > 0 && (!best || *steps < bestSteps)) best = &b, bestSteps = *steps;
    }
    if (!best) return std::nullopt;
    return Target{*best, history_.changesOver(bestSteps, H)};
}

PixelBufferRef FrameRing::idle(int W, int H) const {
    for (const PixelBufferRef &b : buffers_)
        // Only the ring holds it; the ordering argument is the one in reusable().
        if (b->width() == W && b->height() == H && b.use_count() == 1) return b;
    return nullptr;
}

void FrameRing::keep(PixelBufferRef buffer) {
    // Large frames keep fewer buffers: at 4K six of them would hold 200 MB.
    constexpr std::size_t budget = 64u << 20;
    const std::size_t bytes = buffer ? buffer->bytesPerRow() * std::size_t(buffer->height()) : 1;
    const std::size_t capacity = std::clamp<std::size_t>(
        budget / std::max<std::size_t>(bytes, 1), std::min<std::size_t>(2, capacity_), capacity_);
    buffers_.push_back(std::move(buffer));
    while (buffers_.size() > capacity) buffers_.erase(buffers_.begin());
}

} // namespace qv::platform
