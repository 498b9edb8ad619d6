#include "Compositor/scene/cursor_path.h"

#include <algorithm>
#include <cmath>

namespace qv::SceneRenderer {

namespace {

Point at(const CursorSample &s) {
    return {s.x, s.y};
}

// Index of the last sample with tMs <= atMs, or -1.
std::ptrdiff_t lastAtOrBefore(const std::vector<CursorSample> &path, std::int64_t atMs) {
    auto it = std::upper_bound(path.begin(), path.end(), atMs,
                               [](std::int64_t t, const CursorSample &s) { return t < s.tMs; });
    return (it - path.begin()) - 1;
}

// The linear interpolation between the samples around atMs (first < atMs < last).
Point rawPosition(const std::vector<CursorSample> &path, std::int64_t atMs) {
    const auto n = static_cast<std::ptrdiff_t>(path.size());
    const std::ptrdiff_t i = std::max<std::ptrdiff_t>(lastAtOrBefore(path, atMs), 0);
    const std::ptrdiff_t j = std::min(i + 1, n - 1);
    const double dt = static_cast<double>(std::max<std::int64_t>(path[j].tMs - path[i].tMs, 1));
    const double f = std::clamp(static_cast<double>(atMs - path[i].tMs), 0.0, dt) / dt;
    return {path[i].x + (path[j].x - path[i].x) * f, path[i].y + (path[j].y - path[i].y) * f};
}

// One step of the follow filter.
void follow(Point &state, Point target, double step, double tau) {
    const double a = 1 - std::exp(-step / tau);
    state.x = state.x + (target.x - state.x) * a;
    state.y = state.y + (target.y - state.y) * a;
}

double tauFor(double smoothing) {
    return std::max(smoothing * 240, 1.0);
}

} // namespace

std::optional<Point> cursorPosition(const std::vector<CursorSample> &path, std::int64_t atMs,
                                    double smoothing) {
    if (path.empty()) return std::nullopt;
    if (atMs <= path.front().tMs) return at(path.front());
    if (atMs >= path.back().tMs) return at(path.back());
    const Point raw = rawPosition(path, atMs);
    if (!(smoothing > 0)) return raw;

    const double tau = tauFor(smoothing);
    Point state = at(path.front());
    std::int64_t tPrev = path.front().tMs;
    for (const CursorSample &s : path) {
        if (!(s.tMs < atMs)) break;
        follow(state, at(s), static_cast<double>(std::max<std::int64_t>(s.tMs - tPrev, 1)), tau);
        tPrev = s.tMs;
    }
    follow(state, raw, static_cast<double>(std::max<std::int64_t>(atMs - tPrev, 1)), tau);
    return state;
}

FollowFilter::FollowFilter(const std::vector<CursorSample> &path, double smoothing)
    : smoothing_(smoothing), tau_(tauFor(smoothing)) {
    if (path.empty() || !(smoothing > 0)) return;
    Point state = at(path.front());
    std::int64_t tPrev = path.front().tMs;
    states_.reserve(path.size() / kCheckpointEvery + 1);
    for (std::size_t k = 0; k < path.size(); ++k) {
        follow(state, at(path[k]),
               static_cast<double>(std::max<std::int64_t>(path[k].tMs - tPrev, 1)), tau_);
        tPrev = path[k].tMs;
        if (k % kCheckpointEvery == 0) {
            states_.push_back(state);
            times_.push_back(tPrev);
        }
    }
}

std::optional<Point> FollowFilter::position(const std::vector<CursorSample> &path,
                                            std::int64_t atMs) const {
    if (path.empty()) return std::nullopt;
    if (atMs <= path.front().tMs) return at(path.front());
    if (atMs >= path.back().tMs) return at(path.back());
    const Point raw = rawPosition(path, atMs);
    if (!(smoothing_ > 0) || states_.empty()) return raw;

    // The samples with tMs < atMs are a prefix (the path is in ascending time); resume from the
    // last checkpoint inside it and apply the same steps in the same order.
    const auto firstNotBefore =
        std::lower_bound(path.begin(), path.end(), atMs,
                         [](const CursorSample &s, std::int64_t t) { return s.tMs < t; });
    const auto applied = static_cast<std::size_t>(firstNotBefore - path.begin()); // >= 1
    const std::size_t checkpoint = (applied - 1) / kCheckpointEvery;
    Point state = states_[checkpoint];
    std::int64_t tPrev = times_[checkpoint];
    for (std::size_t k = checkpoint * kCheckpointEvery + 1; k < applied; ++k) {
        follow(state, at(path[k]),
               static_cast<double>(std::max<std::int64_t>(path[k].tMs - tPrev, 1)), tau_);
        tPrev = path[k].tMs;
    }
    follow(state, raw, static_cast<double>(std::max<std::int64_t>(atMs - tPrev, 1)), tau_);
    return state;
}

} // namespace qv::SceneRenderer
