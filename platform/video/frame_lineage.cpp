#include "platform/video/frame_lineage.h"

#include <algorithm>
#include <atomic>

namespace qv::platform {

void RowChanges::add(RowSpan span) noexcept {
    if (span.empty()) return;
    // The common cases first: the first span, and one that lies after all others.
    if (count_ == 0 || (count_ < kMaxSpans && spans_[count_ - 1].end < span.begin)) {
        spans_[count_++] = span;
        return;
    }
    // Spans before `span`, then `span` grown over every span it overlaps or touches, then the
    // spans after it.
    RowSpan merged[kMaxSpans + 1];
    int n = 0;
    bool placed = false;
    for (RowSpan s : *this) {
        if (s.end < span.begin) {
            merged[n++] = s;
        } else if (span.end < s.begin) {
            if (!placed) merged[n++] = span, placed = true;
            merged[n++] = s;
        } else {
            span = {std::min(span.begin, s.begin), std::max(span.end, s.end)};
        }
    }
    if (!placed) merged[n++] = span;
    if (n > kMaxSpans) {
        int closest = 0;
        for (int i = 1; i + 1 < n; ++i)
            if (merged[i + 1].begin - merged[i].end <
                merged[closest + 1].begin - merged[closest].end)
                closest = i;
        merged[closest].end = merged[closest + 1].end;
        std::copy(merged + closest + 2, merged + n, merged + closest + 1);
        --n;
    }
    std::copy(merged, merged + n, spans_);
    std::fill(spans_ + n, spans_ + kMaxSpans, RowSpan{});
    count_ = n;
}

std::uint64_t FrameLineage::newId() noexcept {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

std::shared_ptr<const RowSpans> FrameLineage::changesSince(const FrameLineageRef &frame,
                                                           std::uint64_t earlier, int rows) {
    if (!frame || earlier == 0 || rows < 0) return nullptr;
    if (frame->id == earlier)
        return std::make_shared<const RowSpans>(static_cast<std::size_t>(rows));
    if (frame->parent != earlier || frame->changed.size() != static_cast<std::size_t>(rows))
        return nullptr;
    // Shares the frame's own table rather than copying it.
    return std::shared_ptr<const RowSpans>(frame, &frame->changed);
}

void LineageHistory::record(FrameLineageRef lineage) {
    if (!lineage) return;
    frames_.push_back(std::move(lineage));
    while (frames_.size() > depth_) frames_.pop_front();
}

std::optional<std::size_t> LineageHistory::distance(std::uint64_t content, int rows) const {
    if (frames_.empty() || content == 0) return std::nullopt;
    std::uint64_t at = frames_.back()->id;
    std::size_t steps = 0;
    for (auto it = frames_.rbegin(); at != content; ++it, ++steps) {
        if (it == frames_.rend() || (*it)->id != at || (*it)->parent == 0 ||
            (*it)->changed.size() != static_cast<std::size_t>(rows))
            return std::nullopt;
        at = (*it)->parent;
    }
    return steps;
}

RowSpans LineageHistory::changesOver(std::size_t steps, int rows) const {
    RowSpans acc(static_cast<std::size_t>(std::max(rows, 0)));
    auto it = frames_.rbegin();
    for (std::size_t k = 0; k < steps && it != frames_.rend(); ++k, ++it)
        for (std::size_t y = 0; y < acc.size() && y < (*it)->changed.size(); ++y)
            acc[y].add((*it)->changed[y]);
    return acc;
}

} // namespace qv::platform
