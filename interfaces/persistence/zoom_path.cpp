#include "interfaces/persistence/zoom_path.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace {

constexpr std::int64_t kMaximumEaseMs = 400;

// start <= t < start + duration without overflowing for extreme values: the unsigned
// difference is exact once t >= start.
bool covers(const Edits::Zoom &z, std::int64_t t) noexcept {
    if (z.durationMs <= 0 || t < z.startMs) return false;
    return static_cast<std::uint64_t>(t) - static_cast<std::uint64_t>(z.startMs) <
           static_cast<std::uint64_t>(z.durationMs);
}

} // namespace

ZoomPath::ZoomPath(std::vector<Edits::Zoom> zooms, Size screenSize)
    : zooms_(std::move(zooms)), screenSize_(screenSize) {
    // Stable, so that of two zooms starting together the one listed first still wins.
    std::stable_sort(zooms_.begin(), zooms_.end(), [](const Edits::Zoom &a, const Edits::Zoom &b) {
        return a.startMs < b.startMs;
    });
}

std::int64_t ZoomPath::easeMs(std::int64_t durationMs) noexcept {
    if (durationMs <= 0) return 0;
    // A third at most, so the ease in and the ease out never overlap.
    return std::min(kMaximumEaseMs, durationMs / 3);
}

std::optional<ZoomPath::Transform> ZoomPath::transform(std::int64_t atSourceMs) const noexcept {
    for (const auto &z : zooms_) {
        if (z.startMs > atSourceMs) break; // sorted: no later zoom can cover the time either
        if (!covers(z, atSourceMs)) continue;
        const std::int64_t ease = easeMs(z.durationMs);
        const std::int64_t sinceStart = atSourceMs - z.startMs;
        const std::int64_t untilEnd = z.durationMs - sinceStart;
        double progress = 1;
        if (ease > 0 && sinceStart < ease)
            progress = static_cast<double>(sinceStart) / static_cast<double>(ease);
        else if (ease > 0 && untilEnd < ease)
            progress = static_cast<double>(untilEnd) / static_cast<double>(ease);
        const double eased = progress * progress * (3 - 2 * progress);
        return Transform{1 + (z.scale - 1) * eased, z.centerX * screenSize_.width,
                         z.centerY * screenSize_.height};
    }
    return std::nullopt;
}

} // namespace qv
