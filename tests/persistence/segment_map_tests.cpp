// Timeline to source time through trims, cuts and speed changes.
#include "interfaces/persistence/segment_map.h"

#include <gtest/gtest.h>

#include <limits>

namespace qv {
namespace {

using Segment = SegmentMap::Segment;

TEST(SegmentMap, DefaultMapIsTheIdentity) {
    SegmentMap identity;
    EXPECT_TRUE(identity.isIdentity());
    for (std::int64_t t : {-5, 0, 1234, 99999999}) EXPECT_EQ(identity.sourceTime(t), t);
}

TEST(SegmentMap, UneditedDocumentKeepsTheWholeSource) {
    const auto map = SegmentMap::make(Edits{}, 5000);
    ASSERT_EQ(map.segments(), (std::vector<Segment>{{0, 5000, 1, 0}}));
    EXPECT_FALSE(map.isIdentity());
    EXPECT_EQ(map.timelineDurationMs(), 5000);
    EXPECT_EQ(map.sourceTime(0), 0);
    EXPECT_EQ(map.sourceTime(4999), 4999);
    EXPECT_EQ(map.sourceTime(5000), 4999);
    EXPECT_EQ(map.sourceTime(-10), 0);
}

TEST(SegmentMap, TrimsKeepTheMiddle) {
    Edits e;
    e.trimStartMs = 1000;
    e.trimEndMs = 4000;
    const auto map = SegmentMap::make(e, 5000);
    ASSERT_EQ(map.segments(), (std::vector<Segment>{{1000, 4000, 1, 0}}));
    EXPECT_EQ(map.timelineDurationMs(), 3000);
    EXPECT_EQ(map.sourceTime(0), 1000);
    EXPECT_EQ(map.sourceTime(2999), 3999);
    EXPECT_EQ(map.sourceTime(100000), 3999);
}

TEST(SegmentMap, TrimsOutsideTheSourceAreClipped) {
    Edits e;
    e.trimStartMs = -300;
    e.trimEndMs = 9000;
    EXPECT_EQ(SegmentMap::make(e, 5000).segments(), (std::vector<Segment>{{0, 5000, 1, 0}}));
}

TEST(SegmentMap, CutsAreRemovedAndOverlappingCutsMerge) {
    Edits e;
    e.trimStartMs = 500;
    // Out of order, overlapping, one inside another, and one reaching past the trim.
    e.cuts = {{3000, 3500}, {1000, 2000}, {1200, 1300}, {1500, 2500}, {4500, 7000}, {-100, 200}};
    const auto map = SegmentMap::make(e, 6000);
    ASSERT_EQ(map.segments(), (std::vector<Segment>{
                                  {500, 1000, 1, 0}, {2500, 3000, 1, 500}, {3500, 4500, 1, 1000}}));
    EXPECT_EQ(map.timelineDurationMs(), 2000);
    EXPECT_EQ(map.sourceTime(499), 999);
    EXPECT_EQ(map.sourceTime(500), 2500);
    EXPECT_EQ(map.sourceTime(1000), 3500);
    EXPECT_EQ(map.sourceTime(1999), 4499);
}

TEST(SegmentMap, DoubleSpeedHalvesTheTimeline) {
    Edits e;
    e.speeds = {{1000, 3000, 2}};
    const auto map = SegmentMap::make(e, 4000);
    ASSERT_EQ(map.segments(), (std::vector<Segment>{
                                  {0, 1000, 1, 0}, {1000, 3000, 2, 1000}, {3000, 4000, 1, 2000}}));
    EXPECT_EQ(map.timelineDurationMs(), 3000);
    EXPECT_EQ(map.sourceTime(999), 999);
    EXPECT_EQ(map.sourceTime(1000), 1000);
    EXPECT_EQ(map.sourceTime(1500), 2000);
    EXPECT_EQ(map.sourceTime(1999), 2998);
    EXPECT_EQ(map.sourceTime(2000), 3000);
}

TEST(SegmentMap, SlowMotionRoundsTheTimelineUpAndStaysInside) {
    Edits e;
    e.speeds = {{0, 1000, 3}};
    auto fast = SegmentMap::make(e, 1000);
    // 1000 / 3 = 333.3 -> 334 timeline milliseconds, the last still inside the piece.
    EXPECT_EQ(fast.timelineDurationMs(), 334);
    EXPECT_EQ(fast.sourceTime(333), 999);

    e.speeds = {{0, 1000, 0.5}};
    auto slow = SegmentMap::make(e, 1000);
    EXPECT_EQ(slow.timelineDurationMs(), 2000);
    EXPECT_EQ(slow.sourceTime(1), 0);
    EXPECT_EQ(slow.sourceTime(3), 1);
    EXPECT_EQ(slow.sourceTime(1999), 999);
}

TEST(SegmentMap, SourceTimeIsMonotoneAndInsideTheKeptRanges) {
    Edits e;
    e.trimStartMs = 100;
    e.trimEndMs = 2900;
    e.cuts = {{700, 900}};
    e.speeds = {{0, 500, 1.7}, {400, 1500, 0.3}, {2000, 2600, 7}};
    const auto map = SegmentMap::make(e, 3000);
    std::int64_t previous = -1;
    for (std::int64_t t = 0; t < map.timelineDurationMs(); ++t) {
        const std::int64_t s = map.sourceTime(t);
        EXPECT_GE(s, previous) << "at " << t;
        EXPECT_GE(s, 100);
        EXPECT_LT(s, 2900);
        EXPECT_FALSE(s >= 700 && s < 900) << "cut source time " << s << " at " << t;
        previous = s;
    }
}

TEST(SegmentMap, OverlappingSpeedsUseTheFirstListed) {
    Edits e;
    e.speeds = {{0, 2000, 2}, {1000, 3000, 4}};
    const auto map = SegmentMap::make(e, 3000);
    ASSERT_EQ(map.segments(), (std::vector<Segment>{{0, 2000, 2, 0}, {2000, 3000, 4, 1000}}));
}

TEST(SegmentMap, UnusableRatesCountAsNormalSpeed) {
    Edits e;
    e.speeds = {{0, 1000, 0},
                {1000, 2000, -2},
                {2000, 3000, std::numeric_limits<double>::quiet_NaN()},
                {3000, 4000, std::numeric_limits<double>::infinity()}};
    const auto map = SegmentMap::make(e, 4000);
    ASSERT_EQ(map.segments(), (std::vector<Segment>{{0, 4000, 1, 0}}));
}

TEST(SegmentMap, EverythingCutPinsToTheTrimStart) {
    Edits e;
    e.trimStartMs = 1200;
    e.cuts = {{0, 10000}};
    const auto map = SegmentMap::make(e, 5000);
    EXPECT_FALSE(map.isIdentity());
    EXPECT_EQ(map.timelineDurationMs(), 0);
    for (std::int64_t t : {-1, 0, 1, 5000}) EXPECT_EQ(map.sourceTime(t), 1200);

    Edits inverted;
    inverted.trimStartMs = 3000;
    inverted.trimEndMs = 1000;
    EXPECT_EQ(SegmentMap::make(inverted, 5000).sourceTime(10), 3000);
}

TEST(SegmentMap, SegmentDurationFollowsItsRate) {
    EXPECT_EQ((Segment{0, 1000, 2, 0}.timelineDurationMs()), 500);
    EXPECT_EQ((Segment{0, 1001, 2, 0}.timelineDurationMs()), 501);
    EXPECT_EQ((Segment{0, 1000, 0.25, 0}.timelineDurationMs()), 4000);
    EXPECT_EQ((Segment{500, 500, 1, 0}.timelineDurationMs()), 0);
    EXPECT_EQ((Segment{0, 100, -1, 0}.timelineDurationMs()), 100);
}

} // namespace
} // namespace qv
