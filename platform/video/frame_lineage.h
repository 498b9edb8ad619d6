// What changed between consecutive frames of a stream. Screen recordings change little from one
// frame to the next, so whoever keeps work derived from a frame (a converted picture, a
// composited frame) redoes only the parts that changed.
//
// Thread safety: plain values; a lineage is immutable once attached to a frame. Who sets it and
// when, and when a frame may be drawn over again: the contract in pixel_buffer.h.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace qv::platform {

// Columns [begin, end) of one row; empty when end <= begin.
struct RowSpan {
    std::int32_t begin = 0, end = 0;
    bool empty() const noexcept { return end <= begin; }
    friend bool operator==(RowSpan, RowSpan) = default;
};

// The changed columns of one row: at most `kMaxSpans` disjoint spans, in ascending order. Adding
// one that would make more merges the two spans with the smallest gap between them, so the set
// only ever grows: whatever was added stays covered.
class RowChanges {
public:
    static constexpr int kMaxSpans = 4;

    bool empty() const noexcept { return count_ == 0; }
    int size() const noexcept { return count_; }
    const RowSpan *begin() const noexcept { return spans_; }
    const RowSpan *end() const noexcept { return spans_ + count_; }

    void add(RowSpan span) noexcept;
    void add(const RowChanges &other) noexcept {
        for (RowSpan s : other) add(s);
    }
    friend bool operator==(const RowChanges &, const RowChanges &) = default;

private:
    RowSpan spans_[kMaxSpans]{};
    std::int32_t count_ = 0;
};
using RowSpans = std::vector<RowChanges>; // one per row

// What the producer of a frame knows about how its pixels relate to the frame it produced
// before: outside the spans of `changed[y]`, row y is byte for byte that row of the frame whose
// id is `parent`.
struct FrameLineage {
    std::uint64_t id = 0;     // names this content; never 0
    std::uint64_t parent = 0; // 0: related to no earlier frame
    RowSpans changed;         // one per row when `parent` is set

    // A fresh id, unique in the process.
    static std::uint64_t newId() noexcept;
    // What of `frame` may differ from the frame with id `earlier`: null when the lineage does
    // not connect them (all of it then counts as changed); nothing marked when `frame` is that
    // very content.
    static std::shared_ptr<const RowSpans>
    changesSince(const std::shared_ptr<const FrameLineage> &frame, std::uint64_t earlier, int rows);
};
using FrameLineageRef = std::shared_ptr<const FrameLineage>;

// The lineages of the last frames of a stream, newest last: says what changed between any of
// them and the newest, so that a picture kept from a few frames back can be brought up to date.
class LineageHistory {
public:
    explicit LineageHistory(std::size_t depth) : depth_(depth) {}

    // Adds the newest frame; the oldest beyond the depth is forgotten.
    void record(FrameLineageRef lineage);
    // How many frames lie between frame `content` and the newest (0: it is the newest);
    // nullopt when the history does not connect them for pictures of `rows` rows.
    std::optional<std::size_t> distance(std::uint64_t content, int rows) const;
    // The union of the changes of the newest `steps` frames, for pictures of `rows` rows.
    RowSpans changesOver(std::size_t steps, int rows) const;
    void clear() { frames_.clear(); }

private:
    std::size_t depth_;
    std::deque<FrameLineageRef> frames_;
};

} // namespace qv::platform
