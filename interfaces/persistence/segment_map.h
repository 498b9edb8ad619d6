// Maps output (timeline) milliseconds to source milliseconds through trims, cuts and speed
// changes. Immutable value; safe to share between threads.
#pragma once

#include "interfaces/persistence/edits.h"

#include <cstdint>
#include <vector>

namespace qv {

class SegmentMap {
public:
    struct Segment {
        std::int64_t sourceStartMs = 0;
        std::int64_t sourceEndMs = 0; // exclusive
        double rate = 1;
        std::int64_t timelineStartMs = 0;
        std::int64_t timelineDurationMs() const noexcept;
        friend bool operator==(const Segment &, const Segment &) = default;
    };

    // The identity map: every timeline millisecond is the same source millisecond.
    SegmentMap() = default;
    explicit SegmentMap(std::vector<Segment> segments) : segments_(std::move(segments)) {}
    // Keeps [trimStart, trimEnd) of a source of the given duration, minus the cuts, with the
    // speed ranges applied; overlapping or out-of-range entries are clipped.
    static SegmentMap make(const Edits &edits, std::int64_t sourceDurationMs);

    // Times before the first segment map to its start, after the last to its last millisecond.
    std::int64_t sourceTime(std::int64_t forTimelineMs) const noexcept;
    std::int64_t timelineDurationMs() const noexcept;

    // A stretch of the output: [startMs, endMs).
    struct TimelineRange {
        std::int64_t startMs = 0, endMs = 0;
        friend bool operator==(const TimelineRange &, const TimelineRange &) = default;
    };
    // Where the source range [sourceStartMs, sourceEndMs) plays in the output, in timeline
    // order: nothing when it is wholly trimmed or cut, one range per stretch between cuts (a
    // speed change alone does not split it).
    std::vector<TimelineRange> timelineRanges(std::int64_t sourceStartMs,
                                              std::int64_t sourceEndMs) const;
    // True when the map plays a source of this duration unchanged: no trim, cut or speed change.
    bool keepsSourceUnchanged(std::int64_t sourceDurationMs) const noexcept;

    const std::vector<Segment> &segments() const noexcept { return segments_; }
    bool isIdentity() const noexcept { return segments_.empty(); }

    friend bool operator==(const SegmentMap &, const SegmentMap &) = default;

private:
    std::vector<Segment> segments_;
};

} // namespace qv
