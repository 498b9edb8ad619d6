// The pointer's position along its recorded path: linear between samples, optionally through
// the follow filter that smooths its motion.
// Thread safety: pure functions; a FollowFilter is immutable once made.
#pragma once

#include "Compositor/engine/track_samples.h"
#include "platform/core/geometry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qv::SceneRenderer {

// The pointer at atMs, normalised (x from the left, y from the top), with the follow filter
// when smoothing is above 0. Re-runs the filter from the first sample: linear in the samples.
std::optional<Point> cursorPosition(const std::vector<CursorSample> &path, std::int64_t atMs,
                                    double smoothing);

// The same results, bit for bit, from filter states saved along the path once, so that a frame
// costs a binary search and a few filter steps however long the track is.
class FollowFilter {
public:
    FollowFilter(const std::vector<CursorSample> &path, double smoothing);
    std::optional<Point> position(const std::vector<CursorSample> &path, std::int64_t atMs) const;

    static constexpr std::size_t kCheckpointEvery = 16;

private:
    double smoothing_;
    double tau_;
    // State and previous time after the samples 0 .. k × kCheckpointEvery have been applied.
    std::vector<Point> states_;
    std::vector<std::int64_t> times_;
};

} // namespace qv::SceneRenderer
