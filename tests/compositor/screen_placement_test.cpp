// Where the recorded screen sits on the canvas: padding, aspect fit, pixel snapping, the chrome
// bar and the side-by-side webcam split. Expected rectangles are worked out by hand from the
// placement rules; sources are chosen so that the trimmed content (crop minus 8) has a round
// aspect ratio.
#include "Compositor/scene/scene_renderer.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qv {

namespace {

using Chrome = Edits::ChromeStyle;
using Position = Edits::WebcamPosition;
namespace SR = SceneRenderer;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Edits::Scene sceneWith(double padding, Chrome chrome = Chrome::none,
                       Position position = Position::cornerBR, double webcamSize = 0.22) {
    Edits::Scene s;
    s.paddingPercent = padding;
    s.chromeStyle = chrome;
    s.webcamPosition = position;
    s.webcamSize = webcamSize;
    return s;
}

using testing::rectNear;

struct FitCase {
    const char *name;
    Size screen;
    Size canvas;
    double padding;
    Rect target;
};

class ScreenPlacementFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(ScreenPlacementFit, FitsCentresAndSnapsTheFrame) {
    const FitCase &c = GetParam();
    const auto p = SR::screenPlacement(sceneWith(c.padding), c.screen, c.canvas);
    EXPECT_EQ(p.target, c.target);
    // The whole source is shown, inset by 4 on each side.
    EXPECT_EQ(p.ciCropRect, (Rect{4, 4, c.screen.width - 8, c.screen.height - 8}));
    EXPECT_EQ(p.cropOrigin, (Point{4, 4}));
    EXPECT_EQ(p.contentSize, (Size{c.screen.width - 8, c.screen.height - 8}));
    EXPECT_EQ(p.barH, 0);
    EXPECT_EQ(p.screenRect, p.target);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScreenPlacementFit,
    ::testing::Values(
        // Without padding the frame touches two opposite edges and is centred between the
        // others. Content 1000 × 500 on a square canvas: full width, centred vertically.
        FitCase{"wideOnSquare", {1008, 508}, {800, 800}, 0, {0, 200, 800, 400}},
        // Content 500 × 1000 on a wide canvas: full height, centred horizontally.
        FitCase{"tallOnWide", {508, 1008}, {1000, 600}, 0, {350, 0, 300, 600}},
        // A 16:9 source keeps a 1912 × 1072 content after the trim, a touch wider than 16:9:
        // h = 1920 × 1072 / 1912 = 1076.49, y = 1.76, snapped outward to rows 1 ... 1079.
        FitCase{"sixteenNineSource", {1920, 1080}, {1920, 1080}, 0, {0, 1, 1920, 1078}},
        // A source whose trimmed content is exactly 16:9 fills the 16:9 canvas.
        FitCase{"sixteenNineContent", {1928, 1088}, {1920, 1080}, 0, {0, 0, 1920, 1080}},
        // 10 % of 500 is a 50-pixel inset; the area 900 × 400 holds an 800 × 400 frame.
        FitCase{"padded", {1008, 508}, {1000, 500}, 10, {100, 50, 800, 400}},
        // h = 400.5 at y = 199.75: min edges round down, max edges up.
        FitCase{"snapsOutward", {1008, 508}, {801, 800}, 0, {0, 199, 801, 402}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ScreenPlacement, ChromeBarHeightRules) {
    // The clamped cases are in BarIsCarvedFromTheTopOfTheFrame; these scale freely.
    EXPECT_EQ(SR::chromeBarHeight(Chrome::none, 500), 0);
    EXPECT_NEAR(SR::chromeBarHeight(Chrome::minimal, 1000), 22, 1e-9); // no upper bound
    EXPECT_NEAR(SR::chromeBarHeight(Chrome::minimal, 3000), 66, 1e-9);
    EXPECT_NEAR(SR::chromeBarHeight(Chrome::browser, 1000), 34, 1e-9);
}

TEST(ScreenPlacement, BarIsCarvedFromTheTopOfTheFrame) {
    struct Case {
        Chrome style;
        Size canvas;
        double barH;
    } cases[] = {
        {Chrome::minimal, {400, 200}, 8},    // 4.4 is raised to 8
        {Chrome::browser, {4000, 2000}, 44}, // 68 is capped
        {Chrome::browser, {600, 300}, 18},   // 10.2 is raised
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(rawValue(c.style));
        // Content 1000 × 500 fills a 2:1 canvas exactly.
        const auto p = SR::screenPlacement(sceneWith(0, c.style), {1008, 508}, c.canvas);
        EXPECT_EQ(p.target, (Rect{0, 0, c.canvas.width, c.canvas.height}));
        EXPECT_NEAR(p.barH, c.barH, 1e-9);
        EXPECT_TRUE(rectNear(p.screenRect, {0, 0, c.canvas.width, c.canvas.height - c.barH}));
    }
}

TEST(ScreenPlacement, SideBySideSplit) {
    const Size canvas{1920, 1080};
    struct Case {
        const char *name;
        Position position;
        double padding, webcamSize;
        Rect webcam, screenArea;
    } cases[] = {
        {"left", Position::sideLeft, 0, 0.3, {0, 0, 576, 1080}, {633.6, 0, 1286.4, 1080}},
        {"right", Position::sideRight, 0, 0.3, {1344, 0, 576, 1080}, {0, 0, 1286.4, 1080}},
        // pad 108; screen area x = 108 + 576 + 57.6, width 1920 − 216 − 576 − 57.6.
        {"padded", Position::sideLeft, 10, 0.3, {108, 108, 576, 864}, {741.6, 108, 1070.4, 864}},
        // Sizes outside 0.15 ... 0.5 are clamped; not-a-number takes the lower bound.
        {"small", Position::sideLeft, 0, 0.05, {0, 0, 288, 1080}, {345.6, 0, 1574.4, 1080}},
        {"atMin", Position::sideLeft, 0, 0.15, {0, 0, 288, 1080}, {345.6, 0, 1574.4, 1080}},
        {"nan", Position::sideLeft, 0, kNaN, {0, 0, 288, 1080}, {345.6, 0, 1574.4, 1080}},
        {"large", Position::sideRight, 0, 0.9, {960, 0, 960, 1080}, {0, 0, 902.4, 1080}},
        {"atMax", Position::sideRight, 0, 0.5, {960, 0, 960, 1080}, {0, 0, 902.4, 1080}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto split = SR::sideBySideSplit(
            sceneWith(c.padding, Chrome::none, c.position, c.webcamSize), canvas);
        ASSERT_TRUE(split);
        EXPECT_TRUE(rectNear(split->first, c.webcam));
        EXPECT_TRUE(rectNear(split->second, c.screenArea));
    }
}

TEST(ScreenPlacement, FrameFitsIntoTheScreenSideOfTheSplit) {
    // On 2000 × 1000 a quarter-width webcam and the 60-pixel gap leave the area
    // (560, 0, 1440, 1000); 16:9 content fills its width, 810 high at y = 95.
    const auto p = SR::screenPlacement(sceneWith(0, Chrome::none, Position::sideLeft, 0.25),
                                       {1928, 1088}, {2000, 1000});
    EXPECT_EQ(p.target, (Rect{560, 95, 1440, 810}));
}

TEST(ScreenPlacement, OtherWebcamPositionsLeaveTheLayoutAlone) {
    for (Position position : {Position::cornerTL, Position::cornerTR, Position::cornerBL,
                              Position::cornerBR, Position::full, Position::hidden}) {
        for (double size : {0.05, 0.3, 0.9}) {
            SCOPED_TRACE(std::string(rawValue(position)) + " " + std::to_string(size));
            const auto scene = sceneWith(10, Chrome::none, position, size);
            EXPECT_FALSE(SR::sideBySideSplit(scene, {1000, 500}));
            const auto p = SR::screenPlacement(scene, {1008, 508}, {1000, 500});
            EXPECT_EQ(p.target, (Rect{100, 50, 800, 400}));
            EXPECT_EQ(p.screenRect, (Rect{100, 50, 800, 400}));
        }
    }
}

TEST(ScreenPlacement, ContentRectKeepsItsOwnRule) {
    // Untrimmed 16:9 aspect, no snapping: exactly the canvas, where the placement's trimmed
    // content gives rows 1 ... 1079.
    const auto scene = sceneWith(0);
    EXPECT_EQ(SR::contentRect(scene, {1920, 1080}, {1920, 1080}), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(SR::screenPlacement(scene, {1920, 1080}, {1920, 1080}).screenRect,
              (Rect{0, 1, 1920, 1078}));

    // Aspect 2 into 801 × 800 stays fractional: h = 400.5 at y = 199.75.
    EXPECT_TRUE(rectNear(SR::contentRect(scene, {1000, 500}, {801, 800}), {0, 199.75, 801, 400.5}));
    // The trimmed 992 × 492 content: h = 397.27 at y = 201.36, snapped to rows 201 ... 599.
    EXPECT_EQ(SR::screenPlacement(scene, {1000, 500}, {801, 800}).screenRect,
              (Rect{0, 201, 801, 398}));

    // Each takes its bar from its own frame height: 0.022 × 1080 and 0.022 × 1078.
    const auto minimal = sceneWith(0, Chrome::minimal);
    EXPECT_TRUE(
        rectNear(SR::contentRect(minimal, {1920, 1080}, {1920, 1080}), {0, 0, 1920, 1080 - 23.76}));
    EXPECT_TRUE(rectNear(SR::screenPlacement(minimal, {1920, 1080}, {1920, 1080}).screenRect,
                         {0, 1, 1920, 1078 - 23.716}));
}

bool allFinite(const Rect &r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
           std::isfinite(r.height);
}

TEST(ScreenPlacement, DegenerateInputsGiveAnEmptyPlacement) {
    struct Case {
        const char *name;
        Size screen, canvas;
        double padding;
        bool contentRectEmpty = true;
    } cases[] = {
        {"zeroScreen", {0, 0}, {800, 600}, 0},
        {"zeroCanvas", {1008, 508}, {0, 0}, 0},
        {"zeroCanvasHeight", {1008, 508}, {800, 0}, 0},
        {"negativeScreen", {-1008, 508}, {800, 600}, 0},
        {"nanScreen", {kNaN, 508}, {800, 600}, 0},
        {"nanCanvas", {1008, 508}, {800, kNaN}, 0},
        {"infiniteCanvas", {1008, 508}, {kInf, 600}, 0},
        // Nothing is left after the 4-pixel inset; the content rect uses the untrimmed size.
        {"trimmedAway", {8, 8}, {800, 600}, 0, false},
        {"paddingHalf", {1008, 508}, {800, 600}, 50},
        {"paddingSixty", {1008, 508}, {800, 600}, 60},
        {"paddingNaN", {1008, 508}, {800, 600}, kNaN},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto scene = sceneWith(c.padding, Chrome::browser);
        const auto p = SR::screenPlacement(scene, c.screen, c.canvas);
        for (const Rect &r : {p.ciCropRect, p.target, p.screenRect}) {
            EXPECT_TRUE(allFinite(r));
            EXPECT_EQ(r, Rect{});
        }
        EXPECT_EQ(p.contentSize, Size{});
        EXPECT_EQ(p.cropOrigin, Point{});
        EXPECT_EQ(p.barH, 0);
        const Rect content = SR::contentRect(scene, c.screen, c.canvas);
        EXPECT_TRUE(allFinite(content));
        if (c.contentRectEmpty) {
            EXPECT_EQ(content, Rect{});
        }
    }
}

TEST(ScreenPlacement, BarTallerThanATinyFrameLeavesNoNegativeScreen) {
    // A 10 × 5 frame with an 8-pixel minimal bar.
    const auto p = SR::screenPlacement(sceneWith(0, Chrome::minimal), {1008, 508}, {10, 5});
    EXPECT_EQ(p.target, (Rect{0, 0, 10, 5}));
    EXPECT_EQ(p.barH, 8);
    EXPECT_TRUE(allFinite(p.screenRect));
    EXPECT_GE(p.screenRect.height, 0);
    EXPECT_LE(p.screenRect.height, p.target.height);
}

} // namespace
} // namespace qv
