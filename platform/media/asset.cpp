#include "platform/media/asset.h"

#include <algorithm>
#include <cmath>

namespace qv::platform::media {

std::int64_t CompositionTrack::sourceTimeMs(std::int64_t t) const noexcept {
    if (segments.empty()) return t;
    if (t < segments.front().timelineStartMs) return segments.front().sourceStartMs;
    for (const TrackSegment &s : segments) {
        if (t >= s.timelineStartMs + s.timelineDurationMs) continue;
        const auto offset = static_cast<std::int64_t>(
            std::floor(static_cast<double>(t - s.timelineStartMs) * s.rate));
        return std::min(s.sourceStartMs + offset, std::max(s.sourceStartMs, s.sourceEndMs - 1));
    }
    const TrackSegment &last = segments.back();
    return std::max(last.sourceStartMs, last.sourceEndMs - 1);
}

bool CompositionTrack::isUnedited() const noexcept {
    if (segments.empty()) return true;
    if (segments.size() != 1) return false;
    const TrackSegment &s = segments.front();
    return s.sourceStartMs == 0 && s.timelineStartMs == 0 && s.rate == 1;
}

const CompositionTrack *Asset::track(TrackID id) const noexcept {
    for (const CompositionTrack &t : tracks)
        if (t.trackID == id) return &t;
    return nullptr;
}

std::vector<const CompositionTrack *> Asset::tracksWithMediaType(MediaType type) const {
    std::vector<const CompositionTrack *> out;
    for (const CompositionTrack &t : tracks)
        if (t.mediaType == type) out.push_back(&t);
    return out;
}

InstructionRef VideoComposition::instruction(Time at) const {
    using Wide = __int128;
    for (const InstructionRef &i : instructions) {
        if (!i) continue;
        const TimeRange r = i->timeRange();
        if (at.timescale <= 0 || r.start.timescale <= 0 || r.duration.timescale <= 0) continue;
        // Exact rational comparisons: start <= at < start + duration.
        const Wide a = Wide(at.value) * r.start.timescale * r.duration.timescale;
        const Wide s = Wide(r.start.value) * at.timescale * r.duration.timescale;
        const Wide d = Wide(r.duration.value) * at.timescale * r.start.timescale;
        if (s <= a && a < s + d) return i;
    }
    return nullptr;
}

} // namespace qv::platform::media
