#include "interfaces/persistence/segment_map.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace qv {

namespace {

// Slowest rate honoured; slower ones would make a timeline too long to count in milliseconds.
constexpr double kMinimumRate = 0.001;

double effectiveRate(double rate) noexcept {
    if (!std::isfinite(rate) || rate <= 0) return 1;
    return std::max(rate, kMinimumRate);
}

// Timeline sums saturate: an absurd document must give a long timeline, never a negative one.
std::int64_t addSaturating(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return sum;
}

struct Range {
    std::int64_t start, end; // end exclusive
};

// Sorted, merged ranges clipped to [lo, hi); empty ones dropped.
std::vector<Range> mergedWithin(std::vector<Range> ranges, std::int64_t lo, std::int64_t hi) {
    std::vector<Range> clipped;
    for (auto r : ranges) {
        r.start = std::max(r.start, lo);
        r.end = std::min(r.end, hi);
        if (r.start < r.end) clipped.push_back(r);
    }
    std::sort(clipped.begin(), clipped.end(),
              [](const Range &a, const Range &b) { return a.start < b.start; });
    std::vector<Range> merged;
    for (const auto &r : clipped) {
        if (!merged.empty() && r.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    return merged;
}

} // namespace

std::int64_t SegmentMap::Segment::timelineDurationMs() const noexcept {
    if (sourceEndMs <= sourceStartMs) return 0;
    const double length = static_cast<double>(sourceEndMs - sourceStartMs);
    const double duration = std::ceil(length / effectiveRate(rate));
    // Only absurd lengths get here, but the conversion must stay defined.
    if (!(duration < 9223372036854775807.0)) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(duration);
}

SegmentMap SegmentMap::make(const Edits &edits, std::int64_t sourceDurationMs) {
    const std::int64_t duration = std::max<std::int64_t>(sourceDurationMs, 0);
    const std::int64_t keepStart = std::clamp<std::int64_t>(edits.trimStartMs, 0, duration);
    const std::int64_t keepEnd =
        std::clamp<std::int64_t>(edits.trimEndMs.value_or(duration), keepStart, duration);

    std::vector<Range> cuts;
    for (const auto &c : edits.cuts) cuts.push_back({c.startMs, c.endMs});
    cuts = mergedWithin(std::move(cuts), keepStart, keepEnd);

    // What survives the trims and cuts.
    std::vector<Range> kept;
    std::int64_t at = keepStart;
    for (const auto &c : cuts) {
        if (at < c.start) kept.push_back({at, c.start});
        at = c.end;
    }
    if (at < keepEnd) kept.push_back({at, keepEnd});

    std::vector<Segment> segments;
    std::int64_t timeline = 0;
    for (const auto &piece : kept) {
        // Every speed boundary inside the piece splits it.
        std::vector<std::int64_t> cutsAt{piece.start, piece.end};
        for (const auto &s : edits.speeds) {
            if (s.startMs > piece.start && s.startMs < piece.end) cutsAt.push_back(s.startMs);
            if (s.endMs > piece.start && s.endMs < piece.end) cutsAt.push_back(s.endMs);
        }
        std::sort(cutsAt.begin(), cutsAt.end());
        cutsAt.erase(std::unique(cutsAt.begin(), cutsAt.end()), cutsAt.end());

        for (std::size_t i = 0; i + 1 < cutsAt.size(); ++i) {
            const std::int64_t a = cutsAt[i], b = cutsAt[i + 1];
            // Where speed ranges overlap, the one listed first applies.
            double rate = 1;
            for (const auto &s : edits.speeds) {
                if (s.startMs <= a && b <= s.endMs) {
                    rate = effectiveRate(s.rate);
                    break;
                }
            }
            // Neighbours at one speed stay one segment, so rounding happens once per run.
            if (!segments.empty() && segments.back().sourceEndMs == a &&
                segments.back().rate == rate) {
                Segment &last = segments.back();
                last.sourceEndMs = b;
                timeline = addSaturating(last.timelineStartMs, last.timelineDurationMs());
                continue;
            }
            Segment s{a, b, rate, timeline};
            timeline = addSaturating(timeline, s.timelineDurationMs());
            segments.push_back(s);
        }
    }

    // Everything removed: one empty segment keeps the map from being the identity and pins
    // every time to the start of the kept range.
    if (segments.empty()) segments.push_back(Segment{keepStart, keepStart, 1, 0});
    return SegmentMap(std::move(segments));
}

std::int64_t SegmentMap::sourceTime(std::int64_t forTimelineMs) const noexcept {
    if (segments_.empty()) return forTimelineMs;
    auto lastMs = [](const Segment &s) { return std::max(s.sourceStartMs, s.sourceEndMs - 1); };
    const Segment &first = segments_.front();
    if (forTimelineMs < first.timelineStartMs) return first.sourceStartMs;
    // The last segment starting at or before the time.
    auto it =
        std::upper_bound(segments_.begin(), segments_.end(), forTimelineMs,
                         [](std::int64_t t, const Segment &s) { return t < s.timelineStartMs; });
    const Segment &s = *(it - 1);
    const std::int64_t offset = forTimelineMs - s.timelineStartMs;
    if (offset >= s.timelineDurationMs()) return lastMs(s);
    const double source = std::floor(static_cast<double>(offset) * effectiveRate(s.rate));
    const double length = static_cast<double>(s.sourceEndMs - s.sourceStartMs);
    // Rounding in the rate must never step past the segment's last millisecond.
    if (!(source < length - 1)) return lastMs(s);
    return s.sourceStartMs + static_cast<std::int64_t>(source);
}

std::vector<SegmentMap::TimelineRange> SegmentMap::timelineRanges(std::int64_t sourceStartMs,
                                                                  std::int64_t sourceEndMs) const {
    if (segments_.empty()) {
        if (sourceStartMs < sourceEndMs) return {{sourceStartMs, sourceEndMs}};
        return {};
    }
    // The first timeline millisecond that shows source time `at` or later, inside segment s
    // (the inverse of sourceTime's floor).
    auto timelineAt = [](const Segment &s, std::int64_t at) {
        const double offset =
            std::ceil(static_cast<double>(at - s.sourceStartMs) / effectiveRate(s.rate));
        const std::int64_t duration = s.timelineDurationMs();
        const auto clamped =
            offset < static_cast<double>(duration) ? static_cast<std::int64_t>(offset) : duration;
        return addSaturating(s.timelineStartMs, clamped);
    };
    std::vector<TimelineRange> out;
    std::int64_t previousSourceEnd = 0;
    for (const Segment &s : segments_) {
        const std::int64_t lo = std::max(sourceStartMs, s.sourceStartMs);
        const std::int64_t hi = std::min(sourceEndMs, s.sourceEndMs);
        if (lo >= hi) continue;
        const TimelineRange piece{timelineAt(s, lo), timelineAt(s, hi)};
        if (piece.startMs >= piece.endMs) continue;
        // Pieces that meet in the source and in the output are one stretch at two speeds.
        if (!out.empty() && previousSourceEnd == lo && out.back().endMs == piece.startMs)
            out.back().endMs = piece.endMs;
        else
            out.push_back(piece);
        previousSourceEnd = hi;
    }
    return out;
}

bool SegmentMap::keepsSourceUnchanged(std::int64_t sourceDurationMs) const noexcept {
    if (segments_.empty()) return true;
    const Segment &s = segments_.front();
    return segments_.size() == 1 && s.sourceStartMs == 0 && s.timelineStartMs == 0 && s.rate == 1 &&
           s.sourceEndMs == std::max<std::int64_t>(sourceDurationMs, 0);
}

std::int64_t SegmentMap::timelineDurationMs() const noexcept {
    std::int64_t total = 0;
    for (const auto &s : segments_) total = addSaturating(total, s.timelineDurationMs());
    return total;
}

} // namespace qv
