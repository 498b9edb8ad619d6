// edits.json reader and what is computed from an accepted document: the segment map, the zoom
// curve, the mask rectangles and the crop. Source durations and screen sizes come from a hash of
// the input and from the extremes, so the seeds stay plain documents.
#include "fuzz_check.h"
#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/segment_map.h"
#include "interfaces/persistence/zoom_path.h"

#include <algorithm>
#include <vector>

namespace {

using qv::Edits;
using qv::fuzz::saturatingAdd;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
// Enough points to cross every segment of a small map; the boundaries are added separately.
constexpr int kSweepSteps = 64;
// Bounds the per-input work on documents with very many entries.
constexpr std::size_t kSampledEntries = 64;

std::vector<std::int64_t> durationsFor(std::uint64_t hash, const Edits &e) {
    // The latest time the document names, so that some maps end right at an entry.
    std::int64_t latest = std::max(e.trimStartMs, e.trimEndMs.value_or(0));
    for (const auto &c : e.cuts) latest = std::max({latest, c.startMs, c.endMs});
    for (const auto &s : e.speeds) latest = std::max({latest, s.startMs, s.endMs});
    return {0,
            1,
            static_cast<std::int64_t>(hash % 600000),
            static_cast<std::int64_t>(hash >> 1),
            latest,
            saturatingAdd(latest, 1),
            kMax};
}

void checkSegmentMap(const Edits &e, std::int64_t duration) {
    const auto map = qv::SegmentMap::make(e, duration);
    const std::int64_t total = map.timelineDurationMs();
    QV_FUZZ_CHECK(total >= 0);

    std::vector<std::int64_t> times{
        kMin, -1, 0, 1, saturatingAdd(total, -1), total, saturatingAdd(total, 1), kMax};
    for (int i = 1; i < kSweepSteps; ++i)
        times.push_back(static_cast<std::int64_t>(static_cast<__int128>(total) * i / kSweepSteps));
    const auto &segments = map.segments();
    for (std::size_t i = 0; i < segments.size() && i < kSampledEntries; ++i) {
        const std::int64_t start = segments[i].timelineStartMs;
        times.insert(times.end(), {saturatingAdd(start, -1), start, saturatingAdd(start, 1)});
    }
    std::sort(times.begin(), times.end());

    const std::int64_t upper = std::max<std::int64_t>(duration, 0);
    std::int64_t previous = kMin;
    for (std::int64_t t : times) {
        const std::int64_t source = map.sourceTime(t);
        QV_FUZZ_CHECK(source >= 0 && source <= upper);
        QV_FUZZ_CHECK(source >= previous);
        previous = source;
    }
}

void checkZooms(const Edits &e, qv::Size screen) {
    const qv::ZoomPath path(e.zooms, screen);
    std::vector<std::int64_t> times{kMin, -1, 0, kMax};
    for (std::size_t i = 0; i < e.zooms.size() && i < kSampledEntries; ++i) {
        const auto &z = e.zooms[i];
        const std::int64_t ease = qv::ZoomPath::easeMs(z.durationMs);
        const std::int64_t end = saturatingAdd(z.startMs, z.durationMs);
        times.insert(times.end(),
                     {z.startMs, saturatingAdd(z.startMs, 1), saturatingAdd(z.startMs, ease),
                      saturatingAdd(z.startMs, z.durationMs / 2), saturatingAdd(end, -ease),
                      saturatingAdd(end, -1), end});
    }
    for (std::int64_t t : times) {
        const auto transform = path.transform(t);
        if (!transform) continue;
        QV_FUZZ_CHECK(std::isfinite(transform->scale));
        QV_FUZZ_CHECK(std::isfinite(transform->cx) && std::isfinite(transform->cy));
    }
}

void checkMasks(const Edits &e) {
    for (std::size_t m = 0; m < e.masks.size() && m < kSampledEntries; ++m) {
        const auto &mask = e.masks[m];
        std::vector<std::int64_t> times{kMin, 0, kMax, mask.startMs, mask.endMs};
        const auto &keys = mask.keyframes;
        for (std::size_t i = 0; i < keys.size() && i < kSampledEntries; ++i) {
            const std::int64_t t = keys[i].tMs;
            times.insert(times.end(), {saturatingAdd(t, -1), t, saturatingAdd(t, 1)});
            // Half way to the next keyframe, without overflowing the sum.
            if (i + 1 < keys.size()) times.push_back(t / 2 + keys[i + 1].tMs / 2);
        }
        for (std::int64_t t : times) {
            const auto r = mask.resolvedRect(t);
            QV_FUZZ_CHECK(std::isfinite(r.x) && std::isfinite(r.y));
            QV_FUZZ_CHECK(std::isfinite(r.width) && std::isfinite(r.height));
        }
    }
}

void checkCrop(const Edits::Crop &crop, qv::Size screen) {
    const auto g = crop.ciGeometry(screen);
    const qv::Rect &r = g.ciCropRect;
    QV_FUZZ_CHECK(std::isfinite(r.x) && std::isfinite(r.y));
    QV_FUZZ_CHECK(std::isfinite(r.width) && std::isfinite(r.height));
    QV_FUZZ_CHECK(g.contentSize == r.size());
    // Clamped into the source; the slack only absorbs rounding in the products.
    const double slackX = 1e-9 * screen.width, slackY = 1e-9 * screen.height;
    QV_FUZZ_CHECK(r.x >= 0 && r.y >= -slackY && r.width >= 0 && r.height >= 0);
    QV_FUZZ_CHECK(r.maxX() <= screen.width + slackX && r.maxY() <= screen.height + slackY);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text = qv::fuzz::text(data, size);
    const auto edits = Edits::decode(text, "edits.json");
    if (!edits) return 0;
    const Edits &e = *edits;
    const std::uint64_t hash = qv::fuzz::hashOf(text);

    for (std::int64_t duration : durationsFor(hash, e)) {
        checkSegmentMap(e, duration);
        (void)e.isPassthroughEligible(duration);
    }

    const qv::Size screens[] = {
        {1920, 1080},
        {1, 1},
        {double(1 + (hash >> 8) % 16384), double(1 + (hash >> 32) % 16384)},
    };
    for (const auto &screen : screens) {
        checkZooms(e, screen);
        checkCrop(e.scene.crop, screen);
    }
    checkMasks(e);

    const auto again = Edits::decode(e.encode(), "edits.json");
    QV_FUZZ_CHECK(again && *again == e);
    return 0;
}
