// Zoom scale and centre over time.
#include "interfaces/persistence/zoom_path.h"

#include <gtest/gtest.h>

#include <limits>

namespace qv {
namespace {

Edits::Zoom zoom(std::int64_t start, std::int64_t duration, double scale, double cx = 0.5,
                 double cy = 0.5) {
    Edits::Zoom z;
    z.startMs = start;
    z.durationMs = duration;
    z.scale = scale;
    z.centerX = cx;
    z.centerY = cy;
    return z;
}

TEST(ZoomPath, EaseLengthIsAThirdCappedAt400) {
    EXPECT_EQ(ZoomPath::easeMs(3000), 400);
    EXPECT_EQ(ZoomPath::easeMs(1200), 400);
    EXPECT_EQ(ZoomPath::easeMs(900), 300);
    EXPECT_EQ(ZoomPath::easeMs(100), 33);
    EXPECT_EQ(ZoomPath::easeMs(2), 0);
    EXPECT_EQ(ZoomPath::easeMs(0), 0);
    EXPECT_EQ(ZoomPath::easeMs(-50), 0);
}

TEST(ZoomPath, EasesInAlongSmoothstep) {
    const ZoomPath path({zoom(1000, 3000, 3, 0.25, 0.75)}, Size{1920, 1080});
    auto at = [&](std::int64_t t) { return path.transform(t).value().scale; };
    EXPECT_DOUBLE_EQ(at(1000), 1);
    // Halfway through the 400 ms ease smoothstep is 1/2: halfway to the target scale.
    EXPECT_DOUBLE_EQ(at(1200), 2);
    // A quarter in: 0.25^2 * (3 - 0.5) = 0.15625.
    EXPECT_DOUBLE_EQ(at(1100), 1 + 2 * 0.15625);
    const auto t = path.transform(1200).value();
    EXPECT_DOUBLE_EQ(t.cx, 480);
    EXPECT_DOUBLE_EQ(t.cy, 810);
}

TEST(ZoomPath, HoldsThenEasesOut) {
    const ZoomPath path({zoom(1000, 3000, 3)}, Size{100, 100});
    EXPECT_DOUBLE_EQ(path.transform(1400)->scale, 3);
    EXPECT_DOUBLE_EQ(path.transform(2500)->scale, 3);
    EXPECT_DOUBLE_EQ(path.transform(3600)->scale, 3);
    EXPECT_DOUBLE_EQ(path.transform(3800)->scale, 2); // 200 ms before the end: halfway out
    EXPECT_LT(path.transform(3999)->scale, 1.001);
    EXPECT_GT(path.transform(3999)->scale, 1);
}

TEST(ZoomPath, OutsideEveryZoomIsAbsent) {
    const ZoomPath path({zoom(1000, 500, 2), zoom(3000, 500, 2)}, Size{100, 100});
    EXPECT_TRUE(path.hasZoom());
    EXPECT_FALSE(path.transform(999).has_value());
    EXPECT_FALSE(path.transform(1500).has_value()); // the end is exclusive
    EXPECT_FALSE(path.transform(2000).has_value());
    EXPECT_TRUE(path.transform(3200).has_value());
    EXPECT_FALSE(path.transform(3500).has_value());
    EXPECT_FALSE(ZoomPath().hasZoom());
    EXPECT_FALSE(ZoomPath().transform(0).has_value());
}

TEST(ZoomPath, EarlierZoomWinsWhereTheyOverlap) {
    // Listed late-first on purpose: the path sorts by start.
    const ZoomPath path({zoom(1500, 3000, 4, 0.9, 0.9), zoom(1000, 1000, 2, 0.1, 0.1)},
                        Size{1000, 1000});
    ASSERT_EQ(path.zooms().front().startMs, 1000);
    auto inOverlap = path.transform(1600).value();
    EXPECT_DOUBLE_EQ(inOverlap.cx, 100);
    auto after = path.transform(2100).value();
    EXPECT_DOUBLE_EQ(after.cx, 900);
}

TEST(ZoomPath, ZeroLengthZoomsNeverApply) {
    const ZoomPath path({zoom(1000, 0, 2), zoom(1000, -10, 2)}, Size{10, 10});
    EXPECT_TRUE(path.hasZoom());
    EXPECT_FALSE(path.transform(1000).has_value());
}

TEST(ZoomPath, ExtremeTimesDoNotOverflow) {
    const auto min = std::numeric_limits<std::int64_t>::min();
    const auto max = std::numeric_limits<std::int64_t>::max();
    const ZoomPath path({zoom(min, max, 2)}, Size{10, 10});
    EXPECT_TRUE(path.transform(min + 5).has_value());
    EXPECT_FALSE(path.transform(max).has_value());
}

} // namespace
} // namespace qv
