// The record of what changed between frames: the per-row span sets, the history that adds
// up the changes of several frames, and the ring of frames kept to be made over again.
#include "platform/video/frame_lineage.h"
#include "platform/video/frame_ring.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv::platform {
namespace {

std::vector<RowSpan> spansOf(const RowChanges &r) {
    return {r.begin(), r.end()};
}

TEST(RowChanges, KeepsDisjointSortedSpansAndNeverLosesColumns) {
    struct Case {
        const char *what;
        std::vector<RowSpan> added;
        std::vector<RowSpan> expected;
    };
    const Case cases[] = {
        {"nothing", {}, {}},
        {"an empty span is ignored", {{5, 5}, {7, 3}}, {}},
        {"in order", {{0, 2}, {5, 8}}, {{0, 2}, {5, 8}}},
        {"out of order", {{5, 8}, {0, 2}}, {{0, 2}, {5, 8}}},
        {"overlapping spans merge", {{0, 4}, {3, 9}}, {{0, 9}}},
        {"touching spans merge", {{0, 4}, {4, 9}}, {{0, 9}}},
        {"one span swallows several",
         {{0, 1}, {3, 4}, {6, 7}, {20, 21}, {2, 8}},
         {{0, 1}, {2, 8}, {20, 21}}},
        {"a fifth span closes the smallest gap",
         {{0, 1}, {10, 11}, {20, 21}, {23, 24}, {40, 41}},
         {{0, 1}, {10, 11}, {20, 24}, {40, 41}}},
        {"a fifth span in the middle",
         {{0, 1}, {10, 11}, {30, 31}, {40, 41}, {12, 13}},
         {{0, 1}, {10, 13}, {30, 31}, {40, 41}}},
    };
    for (const Case &c : cases) {
        RowChanges r;
        for (RowSpan s : c.added) r.add(s);
        EXPECT_EQ(spansOf(r), c.expected) << c.what;
        // Whatever was added is still covered.
        for (RowSpan s : c.added)
            for (int x = s.begin; x < s.end; ++x) {
                bool covered = false;
                for (RowSpan k : r) covered = covered || (x >= k.begin && x < k.end);
                EXPECT_TRUE(covered) << c.what << ": column " << x;
            }
    }
}

FrameLineageRef frame(std::uint64_t parent, std::vector<RowChanges> changed) {
    auto l = std::make_shared<FrameLineage>();
    l->id = FrameLineage::newId();
    l->parent = parent;
    l->changed = std::move(changed);
    return l;
}

RowChanges row(RowSpan s) {
    RowChanges r;
    r.add(s);
    return r;
}

TEST(LineageHistory, AddsUpTheChangesBackToAnEarlierFrame) {
    LineageHistory history(3);
    const auto a = frame(0, {});
    const auto b = frame(a->id, {row({0, 2}), {}});
    const auto c = frame(b->id, {row({5, 6}), row({1, 3})});
    const auto d = frame(c->id, {{}, row({8, 9})});
    for (const auto &f : {a, b, c}) history.record(f);

    EXPECT_EQ(history.distance(c->id, 2), 0u);
    EXPECT_EQ(history.distance(b->id, 2), 1u);
    EXPECT_EQ(history.distance(a->id, 2), 2u);
    EXPECT_EQ(history.distance(a->id, 5), std::nullopt) << "pictures of another height";
    const RowSpans sinceA = history.changesOver(2, 2);
    EXPECT_EQ(spansOf(sinceA[0]), (std::vector<RowSpan>{{0, 2}, {5, 6}}));
    EXPECT_EQ(spansOf(sinceA[1]), (std::vector<RowSpan>{{1, 3}}));

    // The depth is three: d, c and b still say what changed since a; once e arrives, what b
    // changed is forgotten and a is out of reach.
    history.record(d);
    EXPECT_EQ(history.distance(a->id, 2), 3u);
    history.record(frame(d->id, {{}, {}}));
    EXPECT_EQ(history.distance(b->id, 2), 3u);
    EXPECT_EQ(history.distance(a->id, 2), std::nullopt);

    // A frame related to nothing cuts the chain.
    history.record(frame(0, {}));
    EXPECT_EQ(history.distance(d->id, 2), std::nullopt);
    EXPECT_EQ(history.distance(12345678, 2), std::nullopt);
}

TEST(FrameLineage, ChangesSinceNeedsTheParentOrTheFrameItself) {
    const auto a = frame(0, {});
    const auto b = frame(a->id, {row({0, 2}), {}});
    ASSERT_TRUE(FrameLineage::changesSince(b, a->id, 2));
    EXPECT_EQ(*FrameLineage::changesSince(b, a->id, 2), b->changed);
    const auto same = FrameLineage::changesSince(b, b->id, 2);
    ASSERT_TRUE(same);
    EXPECT_TRUE((*same)[0].empty() && (*same)[1].empty());
    EXPECT_FALSE(FrameLineage::changesSince(b, 999999999, 2));
    EXPECT_FALSE(FrameLineage::changesSince(b, a->id, 3)) << "a table of another height";
    EXPECT_FALSE(FrameLineage::changesSince(nullptr, a->id, 2));
}

// The ring keeps six frames, fewer when they are large, and never picks one someone holds.
TEST(FrameRing, KeepsAFewFramesAndOnlyHandsOutFreeOnes) {
    struct Case {
        int w, h;
        std::size_t kept;
    };
    for (const Case c : {Case{64, 48, 6}, Case{3840, 2160, 2}}) {
        FrameRing ring(6);
        std::vector<PixelBufferRef> made;
        for (int k = 0; k < 8; ++k) {
            made.push_back(PixelBuffer::create(c.w, c.h, PixelFormat::bgra8));
            ring.keep(made.back());
        }
        std::size_t held = 0;
        for (const auto &b : made) held += b.use_count() == 2 ? 1 : 0;
        EXPECT_EQ(held, c.kept) << c.w << "x" << c.h;
        EXPECT_EQ(made.back().use_count(), 2) << "the newest is kept";
    }

    // A kept frame is handed out only when nobody else holds it and the history reaches it.
    FrameRing ring(6);
    auto frame = [](std::uint64_t parent, int changedRow) {
        auto l = std::make_shared<FrameLineage>();
        l->id = FrameLineage::newId();
        l->parent = parent;
        if (parent) {
            l->changed.resize(4);
            l->changed[changedRow].add({1, 3});
        }
        return l;
    };
    const auto first = frame(0, 0), second = frame(first->id, 1), third = frame(second->id, 2);
    auto buffer = PixelBuffer::create(8, 4, PixelFormat::bgra8);
    buffer->setLineage(first);
    ring.keep(buffer);
    ring.record(first);
    ring.record(second);
    ring.record(third);
    EXPECT_FALSE(ring.reusable(8, 4, {})) << "the test still holds it";
    EXPECT_TRUE(ring.reusable(8, 4, {buffer.get()})) << "a holder the caller accounts for";
    const PixelBuffer *raw = buffer.get();
    buffer.reset();
    const auto target = ring.reusable(8, 4, {});
    ASSERT_TRUE(target);
    EXPECT_EQ(target->buffer.get(), raw);
    // What the second and third frames changed since the first.
    ASSERT_EQ(target->spans.size(), 4u);
    EXPECT_TRUE(target->spans[0].empty() && target->spans[3].empty());
    EXPECT_FALSE(target->spans[1].empty() || target->spans[2].empty());
    EXPECT_FALSE(ring.reusable(16, 4, {})) << "another size";
}

// A frame drawn whole takes any kept buffer of its size that nobody holds, whatever it shows.
TEST(FrameRing, IdleBuffersAreAnyFreeOneOfTheSize) {
    FrameRing ring(6);
    auto held = PixelBuffer::create(8, 4, PixelFormat::bgra8);
    auto free = PixelBuffer::create(8, 4, PixelFormat::bgra8);
    auto other = PixelBuffer::create(16, 4, PixelFormat::bgra8);
    for (const auto &b : {held, free, other}) ring.keep(b);
    EXPECT_FALSE(ring.idle(8, 4)) << "all still held by the test";
    const PixelBuffer *raw = free.get();
    free.reset();
    other.reset();
    EXPECT_EQ(ring.idle(8, 4).get(), raw);
    EXPECT_FALSE(ring.idle(8, 8)) << "no buffer of that size";
    EXPECT_EQ(ring.idle(16, 4)->width(), 16);
}

} // namespace
} // namespace qv::platform
