// The webcam of a frame: placement of every position, the animated layout over camera blocks,
// and the halo and outline as pictures with their shared cache.
#include "scene_fixtures.h"

#include "Compositor/scene/chrome_cache.h"
#include "Compositor/scene/webcam_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qv {
namespace {

using namespace SceneRenderer;
using Position = Edits::WebcamPosition;
using Shape = Edits::WebcamShape;

constexpr Size kCanvas{1920, 1080};

using testing::rectNear;

Edits sceneWith(Position position, double size, Shape shape = Shape::circle) {
    Edits e = testing::flatEdits();
    e.scene.webcamPosition = position;
    e.scene.webcamSize = size;
    e.scene.webcamShape = shape;
    e.scene.webcamTransitionMs = 300;
    return e;
}

std::shared_ptr<const SceneInstruction> instructionFor(Edits edits, Size canvas = kCanvas) {
    testing::InstructionPlan plan;
    plan.edits = std::move(edits);
    plan.renderSize = canvas;
    plan.webcamTrackID = 2;
    return testing::makeInstruction(std::move(plan));
}

const platform::PixelBufferRef &camera() {
    static const auto pb = testing::solidBuffer(64, 36, 200, 150, 120);
    return pb;
}

// --- Placement ---

struct PlacementCase {
    const char *name;
    WebcamConfig config;
    Size canvas;
    Rect want;
    bool hidden;
};
void PrintTo(const PlacementCase &c, std::ostream *os) {
    *os << c.name;
}

class WebcamPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(WebcamPlacement, FollowsThePositionRules) {
    const auto &c = GetParam();
    const auto [rect, hidden] = webcamRect(c.config, c.canvas);
    EXPECT_EQ(hidden, c.hidden);
    if (!c.hidden) {
        EXPECT_TRUE(rectNear(rect, c.want, 1e-9));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, WebcamPlacement,
    ::testing::Values(
        PlacementCase{"cornerBR",
                      {Position::cornerBR, Shape::circle, 0.25},
                      kCanvas,
                      {1626, 24, 270, 270},
                      false},
        PlacementCase{"cornerBL",
                      {Position::cornerBL, Shape::circle, 0.25},
                      kCanvas,
                      {24, 24, 270, 270},
                      false},
        PlacementCase{"cornerTL",
                      {Position::cornerTL, Shape::circle, 0.25},
                      kCanvas,
                      {24, 786, 270, 270},
                      false},
        PlacementCase{"cornerTR",
                      {Position::cornerTR, Shape::circle, 0.25},
                      kCanvas,
                      {1626, 786, 270, 270},
                      false},
        // Corners use the size unclamped.
        PlacementCase{"cornerUnclamped",
                      {Position::cornerBL, Shape::circle, 1.5},
                      {400, 200},
                      {24, 24, 300, 300},
                      false},
        PlacementCase{
            "full02", {Position::full, Shape::circle, 0.2}, kCanvas, {480, 270, 960, 540}, false},
        PlacementCase{
            "full001", {Position::full, Shape::circle, 0.01}, kCanvas, {912, 513, 96, 54}, false},
        PlacementCase{
            "fullLarge", {Position::full, Shape::circle, 0.9}, kCanvas, {0, 0, 1920, 1080}, false},
        PlacementCase{"sideLeft",
                      {Position::sideLeft, Shape::circle, 0.3, 0},
                      kCanvas,
                      {0, 0, 576, 1080},
                      false},
        PlacementCase{"sideRightPadded",
                      {Position::sideRight, Shape::circle, 0.3, 10},
                      kCanvas,
                      {1236, 108, 576, 864},
                      false},
        PlacementCase{"sideClamped",
                      {Position::sideLeft, Shape::circle, 0.05, 0},
                      kCanvas,
                      {0, 0, 288, 1080},
                      false},
        PlacementCase{"hidden", {Position::hidden, Shape::circle, 0.25}, kCanvas, {}, true},
        PlacementCase{
            "cornerNaN", {Position::cornerBR, Shape::circle, std::nan("")}, kCanvas, {}, true},
        PlacementCase{"noCanvas", {Position::full, Shape::circle, 0.2}, {0, 1080}, {}, true}),
    [](const auto &info) { return std::string(info.param.name); });

struct ShapeCase {
    Shape shape;
    int code;
    double radius; // on a 270 × 270 bubble
};

class WebcamShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(WebcamShapes, DrawCodeAndRadius) {
    const auto &c = GetParam();
    const auto f =
        webcamFrame(*instructionFor(sceneWith(Position::cornerBR, 0.25, c.shape)), camera(), 0);
    ASSERT_TRUE(f);
    EXPECT_TRUE(rectNear(f->dest, {1626, 24, 270, 270}));
    EXPECT_EQ(f->shape, c.code);
    EXPECT_DOUBLE_EQ(f->cornerRadius, c.radius);
    EXPECT_EQ(f->alpha, 1);
    EXPECT_TRUE(f->floating);
    EXPECT_EQ(f->camExtent, (Size{64, 36}));
    ASSERT_TRUE(f->shadow);
    EXPECT_EQ(f->shadow->extent(), (Rect{0, 0, 1920, 1080}));
    ASSERT_TRUE(f->hairline);
    EXPECT_EQ(f->hairline->extent(), (Rect{1626, 24, 270, 270}));
}

INSTANTIATE_TEST_SUITE_P(Shapes, WebcamShapes,
                         ::testing::Values(ShapeCase{Shape::circle, 2, 135},
                                           ShapeCase{Shape::roundedSquare, 1, 0.18 * 270},
                                           ShapeCase{Shape::square, 0, 0},
                                           ShapeCase{Shape::triangle, 3, 0}));

TEST(WebcamFrame, AbsentWhenHiddenOrWithoutACameraFrame) {
    EXPECT_FALSE(webcamFrame(*instructionFor(sceneWith(Position::hidden, 0.25)), camera(), 500));
    EXPECT_FALSE(webcamFrame(*instructionFor(sceneWith(Position::cornerBR, 0.25)), nullptr, 500));
}

TEST(WebcamFrame, RemoveBackgroundComesFromTheScene) {
    Edits e = sceneWith(Position::full, 0.2);
    EXPECT_FALSE(webcamFrame(*instructionFor(e), camera(), 0)->removeBg);
    e.scene.webcamRemoveBackground = true;
    EXPECT_TRUE(webcamFrame(*instructionFor(e), camera(), 0)->removeBg);
}

TEST(WebcamFrame, SideBySideAndFullDoNotFloat) {
    Edits side = sceneWith(Position::sideLeft, 0.3);
    const auto f = webcamFrame(*instructionFor(side), camera(), 0);
    ASSERT_TRUE(f);
    EXPECT_TRUE(rectNear(f->dest, {0, 0, 576, 1080}));
    EXPECT_FALSE(f->floating);
    EXPECT_FALSE(f->shadow);
    EXPECT_FALSE(f->hairline);
    const auto full = webcamFrame(*instructionFor(sceneWith(Position::full, 0.2)), camera(), 0);
    ASSERT_TRUE(full);
    EXPECT_FALSE(full->floating || full->shadow || full->hairline);
}

// --- Camera blocks and transitions ---

Edits withBlock(Edits e, std::int64_t start, std::int64_t end, Position position, double size,
                Shape shape = Shape::circle) {
    e.cameraBlocks.push_back({"block", start, end, position, shape, size});
    return e;
}

double smoothstep(double q) {
    return q * q * (3 - 2 * q);
}

Rect lerpRect(const Rect &a, const Rect &b, double e) {
    return {a.x + e * (b.x - a.x), a.y + e * (b.y - a.y), a.width + e * (b.width - a.width),
            a.height + e * (b.height - a.height)};
}

const Rect kCorner{1626, 24, 270, 270};
const Rect kFull{480, 270, 960, 540};

struct TransitionCase {
    std::int64_t atMs;
    std::optional<Rect> rect; // absent: no webcam frame
    double alpha;
    bool floating;
};

class CornerToFullAndBack : public ::testing::TestWithParam<TransitionCase> {};

// Scene corner-br 0.25; block [1000, 2000] full 0.2; 300 ms transitions.
TEST_P(CornerToFullAndBack, FollowsTheSmoothstep) {
    const auto &c = GetParam();
    const Edits e = withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000, Position::full, 0.2);
    const auto f = webcamFrame(*instructionFor(e), camera(), c.atMs);
    ASSERT_EQ(f.has_value(), c.rect.has_value());
    if (!f) return;
    EXPECT_TRUE(rectNear(f->dest, *c.rect, 1e-6));
    EXPECT_NEAR(f->alpha, c.alpha, 1e-12);
    EXPECT_EQ(f->floating, c.floating);
    EXPECT_EQ(bool(f->shadow), c.floating);
}

INSTANTIATE_TEST_SUITE_P(
    Block, CornerToFullAndBack,
    ::testing::Values(TransitionCase{-40, kCorner, 1, true}, TransitionCase{999, kCorner, 1, true},
                      TransitionCase{1000, kCorner, 1, false}, // q = 0, already full's turn
                      TransitionCase{1075, lerpRect(kCorner, kFull, smoothstep(0.25)), 1, false},
                      TransitionCase{1150, lerpRect(kCorner, kFull, 0.5), 1, false},
                      TransitionCase{1299, lerpRect(kCorner, kFull, smoothstep(299.0 / 300)), 1,
                                     false},
                      TransitionCase{1300, kFull, 1, false}, TransitionCase{2000, kFull, 1, false},
                      // lastChange = endMs + 1: the way back starts at 2001.
                      TransitionCase{2001, kFull, 1, true},
                      TransitionCase{2151, lerpRect(kFull, kCorner, 0.5), 1, true},
                      TransitionCase{2301, kCorner, 1, true}));

TEST(WebcamLayout, HalfwayIsTheMidpointOfBothRectangles) {
    const Edits e = withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000, Position::full, 0.2);
    const auto l = webcamLayout(e, kCanvas, 1150);
    ASSERT_TRUE(l);
    // Each of min x, min y, width and height halfway between the corner and the full rectangle.
    EXPECT_TRUE(rectNear(l->rect, {1053, 147, 615, 405}, 1e-9));
}

class AppearingFromHidden : public ::testing::TestWithParam<std::int64_t> {};

// Hidden by default; a block [1000, 5000] shows the corner bubble.
TEST_P(AppearingFromHidden, GrowsFromTheCentreWhileFadingIn) {
    const std::int64_t t = GetParam();
    const Edits e = withBlock(sceneWith(Position::hidden, 0.25), 1000, 5000, Position::cornerBR,
                              0.25, Shape::square);
    const auto f = webcamFrame(*instructionFor(e), camera(), t);
    const double q = std::clamp((t - 1000) / 300.0, 0.0, 1.0);
    const double opacity = smoothstep(q);
    if (opacity <= 0.001) {
        EXPECT_FALSE(f) << "at " << t << " ms the opacity is " << opacity;
        return;
    }
    ASSERT_TRUE(f) << "at " << t << " ms";
    EXPECT_NEAR(f->alpha, opacity, 1e-12);
    EXPECT_NEAR(f->dest.midX(), kCorner.midX(), 1e-9);
    EXPECT_NEAR(f->dest.midY(), kCorner.midY(), 1e-9);
    EXPECT_NEAR(f->dest.width, 270 * opacity, 1e-9);
    EXPECT_NEAR(f->dest.height, 270 * opacity, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Times, AppearingFromHidden,
                         ::testing::Values(999, 1000, 1001, 1005, 1006, 1030, 1150, 1250, 1300,
                                           4000));

TEST(WebcamLayout, DisappearingShrinksIntoTheCentreAndFadesOut) {
    // Visible by default; hidden during [1000, 5000].
    const Edits e =
        withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 5000, Position::hidden, 0.25);
    const auto mid = webcamLayout(e, kCanvas, 1150);
    ASSERT_TRUE(mid);
    EXPECT_NEAR(mid->alpha, 0.5, 1e-12);
    EXPECT_TRUE(rectNear(mid->rect, {1626 + 67.5, 24 + 67.5, 135, 135}, 1e-9));
    EXPECT_EQ(mid->position, Position::hidden);   // the current layout's: it does not float
    EXPECT_FALSE(webcamLayout(e, kCanvas, 1299)); // alpha 1 − smoothstep(0.9967) < 0.001
    EXPECT_FALSE(webcamLayout(e, kCanvas, 1300));
    EXPECT_FALSE(webcamLayout(e, kCanvas, 3000));
    const auto f = webcamFrame(*instructionFor(e), camera(), 1150);
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->floating || f->shadow || f->hairline);
}

struct NoAnimationCase {
    const char *name;
    Edits edits;
    std::int64_t atMs;
    Rect want;
    Shape shape;
};
void PrintTo(const NoAnimationCase &c, std::ostream *os) {
    *os << c.name;
}

class WithoutAnimation : public ::testing::TestWithParam<NoAnimationCase> {};

TEST_P(WithoutAnimation, SettlesAtOnce) {
    const auto &c = GetParam();
    const auto l = webcamLayout(c.edits, kCanvas, c.atMs);
    ASSERT_TRUE(l);
    EXPECT_TRUE(rectNear(l->rect, c.want));
    EXPECT_EQ(l->alpha, 1);
    EXPECT_EQ(l->shape, c.shape);
}

Edits withTransition(Edits e, double ms) {
    e.scene.webcamTransitionMs = ms;
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithoutAnimation,
    ::testing::Values(
        // A shape change alone is not animated.
        NoAnimationCase{"shapeOnly",
                        withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000,
                                  Position::cornerBR, 0.25, Shape::triangle),
                        1100, kCorner, Shape::triangle},
        NoAnimationCase{"zeroTransition",
                        withTransition(withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000,
                                                 Position::full, 0.2),
                                       0),
                        1000, kFull, Shape::circle},
        // 0.9 ms truncates to 0.
        NoAnimationCase{"underOneMs",
                        withTransition(withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000,
                                                 Position::full, 0.2),
                                       0.9),
                        1000, kFull, Shape::circle},
        NoAnimationCase{"notFinite",
                        withTransition(withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000,
                                                 Position::full, 0.2),
                                       std::nan("")),
                        1000, kFull, Shape::circle},
        // 300.7 truncates to 300: at 1300 the move is over.
        NoAnimationCase{"truncated",
                        withTransition(withBlock(sceneWith(Position::cornerBR, 0.25), 1000, 2000,
                                                 Position::full, 0.2),
                                       300.7),
                        1300, kFull, Shape::circle},
        // A block that began before 0 counts only with its end: no change at 0.
        NoAnimationCase{
            "negativeStart",
            withBlock(sceneWith(Position::cornerBR, 0.25), -500, 2000, Position::full, 0.2), 0,
            kFull, Shape::circle}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WebcamLayout, FirstContainingBlockWinsAndBoundariesOfEveryBlockCount) {
    Edits e = sceneWith(Position::cornerBR, 0.25);
    e = withBlock(e, 1000, 3000, Position::full, 0.2);
    e = withBlock(e, 2000, 4000, Position::cornerBL, 0.25); // overlaps: the first block wins
    EXPECT_EQ(webcamConfigAt(e, 2500).position, Position::full);
    EXPECT_EQ(webcamConfigAt(e, 3500).position, Position::cornerBL);
    EXPECT_EQ(webcamConfigAt(e, 4001).position, Position::cornerBR);
    // The second block's start at 2000 is a boundary although the layout stays full, and nothing
    // visible changes: no animation.
    const auto l = webcamLayout(e, kCanvas, 2100);
    ASSERT_TRUE(l);
    EXPECT_TRUE(rectNear(l->rect, kFull));
    // At 3001 the first block ends: full → corner-bl.
    const auto back = webcamLayout(e, kCanvas, 3151);
    ASSERT_TRUE(back);
    EXPECT_TRUE(rectNear(back->rect, lerpRect(kFull, {24, 24, 270, 270}, 0.5), 1e-9));
}

// --- Halo and outline as pictures ---

int alphaAt(const platform::Image &img, double x, double yUp) {
    const Rect e = img.extent();
    const int i = int(std::floor(x - e.x));
    const int j = int(e.height) - 1 - int(std::floor(yUp - e.y));
    return img.bitmap().row(j)[4 * i + 3];
}

// Premultiplied white: every colour channel equals the opacity.
bool whiteAt(const platform::Image &img, double x, double yUp) {
    const Rect e = img.extent();
    const int i = int(std::floor(x - e.x));
    const int j = int(e.height) - 1 - int(std::floor(yUp - e.y));
    const std::uint8_t *p = img.bitmap().row(j) + 4 * i;
    return p[0] == p[3] && p[1] == p[3] && p[2] == p[3];
}

TEST(WebcamHalo, SoftWhiteGlowMovedDown) {
    const auto halo = webcamHalo(kCorner, Shape::circle, kCanvas);
    ASSERT_TRUE(halo);
    ASSERT_EQ(halo->extent(), (Rect{0, 0, 1920, 1080}));
    const double cx = kCorner.midX();
    // Under the middle: B (0.32) over A (0.26) of a fully covered silhouette.
    EXPECT_NEAR(alphaAt(*halo, cx, kCorner.midY()), 255 * (0.32 + 0.26 * (1 - 0.32)), 3);
    EXPECT_TRUE(whiteAt(*halo, cx, kCorner.midY()));
    // The layers are moved down: below the bottom edge there is more than above the top edge.
    const int below = alphaAt(*halo, cx, kCorner.minY() - 3);
    const int above = alphaAt(*halo, cx, kCorner.maxY() + 3);
    EXPECT_GT(below, 20);
    EXPECT_GT(below, above + 10);
    // The wide blur reaches further than the narrow one, and fades to nothing.
    EXPECT_GT(alphaAt(*halo, cx, kCorner.minY() - 16), 0);
    EXPECT_EQ(alphaAt(*halo, cx, kCorner.maxY() + 120), 0);
    EXPECT_EQ(alphaAt(*halo, 100, 1000), 0);
    // The circle's corner region is outside the silhouette: less than at the middle of an edge.
    EXPECT_LT(alphaAt(*halo, kCorner.minX() + 2, kCorner.maxY() - 2),
              alphaAt(*halo, kCorner.minX() + 2, kCorner.midY()));
}

TEST(WebcamHalo, TriangleFollowsItsSilhouette) {
    const auto halo = webcamHalo(kCorner, Shape::triangle, kCanvas);
    ASSERT_TRUE(halo);
    // The apex is at the top centre: the top corners are empty of silhouette, the bottom ones
    // are inside it.
    const int topLeft = alphaAt(*halo, kCorner.minX() + 5, kCorner.maxY() - 5);
    const int bottomLeft = alphaAt(*halo, kCorner.minX() + 5, kCorner.minY() + 5);
    EXPECT_GT(bottomLeft, topLeft + 30);
}

TEST(WebcamHalo, CroppedToTheCanvas) {
    // A bubble partly off the canvas still gives a canvas-sized halo.
    const auto halo = webcamHalo({-100, -100, 200, 200}, Shape::square, {400, 300});
    ASSERT_TRUE(halo);
    EXPECT_EQ(halo->extent(), (Rect{0, 0, 400, 300}));
    EXPECT_GT(alphaAt(*halo, 10, 10), 100);
    EXPECT_FALSE(webcamHalo({1000, 1000, 50, 50}, Shape::square, {400, 300}));
    EXPECT_FALSE(webcamHalo({10, 10, 0.4, 50}, Shape::square, {400, 300}));
}

struct HairlineCase {
    const char *name;
    Shape shape;
    Rect dest;
    std::vector<std::pair<Point, int>> alphas; // bitmap position (from its top-left), alpha
};
void PrintTo(const HairlineCase &c, std::ostream *os) {
    *os << c.name;
}

class WebcamHairlinePicture : public ::testing::TestWithParam<HairlineCase> {};

constexpr int kLine = 46; // 0.18 × 255 on a pixel the line covers fully

TEST_P(WebcamHairlinePicture, WhiteLineOnThePathOnly) {
    const auto &c = GetParam();
    const auto img = webcamHairline(c.dest, c.shape);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->extent(),
              (Rect{c.dest.x, c.dest.y, std::round(c.dest.width), std::round(c.dest.height)}));
    const auto &pb = img->bitmap();
    for (const auto &[p, want] : c.alphas) {
        const std::uint8_t *px = pb.row(int(p.y)) + 4 * int(p.x);
        EXPECT_NEAR(px[3], want, 2) << "at (" << p.x << ", " << p.y << ")";
        EXPECT_TRUE(px[0] == px[3] && px[1] == px[3] && px[2] == px[3])
            << "not premultiplied white at (" << p.x << ", " << p.y << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, WebcamHairlinePicture,
    ::testing::Values(
        // 270 wide: the line is 1.08 pixels, so the outermost pixel is covered.
        HairlineCase{"circle",
                     Shape::circle,
                     kCorner,
                     {{{135, 0}, kLine},
                      {{0, 135}, kLine},
                      {{269, 135}, kLine},
                      {{135, 269}, kLine},
                      {{135, 135}, 0},
                      {{3, 3}, 0},
                      {{135, 3}, 0}}},
        HairlineCase{"square",
                     Shape::square,
                     kCorner,
                     {{{0, 0}, kLine},
                      {{0, 100}, kLine},
                      {{269, 269}, kLine},
                      {{100, 0}, kLine},
                      {{3, 3}, 0},
                      {{135, 135}, 0}}},
        HairlineCase{"roundedSquare",
                     Shape::roundedSquare,
                     kCorner,
                     {{{135, 0}, kLine}, {{0, 135}, kLine}, {{0, 0}, 0}, {{135, 135}, 0}}},
        HairlineCase{"triangle",
                     Shape::triangle,
                     kCorner,
                     {{{135, 269}, kLine}, {{5, 269}, kLine}, {{3, 3}, 0}, {{135, 135}, 0}}},
        // 1000 wide: a 4-pixel line.
        HairlineCase{"wideSquare",
                     Shape::square,
                     {10.5, 20.25, 1000, 500},
                     {{{0, 250}, kLine},
                      {{3, 250}, kLine},
                      {{4, 250}, 0},
                      {{500, 499}, kLine},
                      {{500, 495}, 0}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WebcamHairline, NothingUnderOnePixel) {
    EXPECT_FALSE(webcamHairline({0, 0, 0.4, 100}, Shape::circle));
    EXPECT_FALSE(webcamHairline({0, 0, 100, 0}, Shape::square));
}

TEST(WebcamImages, SameGeometryReusesOneImageAndAMovedBubbleGetsAnother) {
    const Edits still = sceneWith(Position::cornerBR, 0.25);
    const auto a = webcamFrame(*instructionFor(still), camera(), 10);
    const auto b = webcamFrame(*instructionFor(still), camera(), 900);
    ASSERT_TRUE(a && b && a->shadow && b->shadow && a->hairline && b->hairline);
    EXPECT_EQ(a->shadow, b->shadow);
    EXPECT_EQ(a->hairline->bitmapRef(), b->hairline->bitmapRef());

    // Moving from corner-br into corner-bl: every frame of the move is a new position.
    const Edits moving = withBlock(still, 1000, 2000, Position::cornerBL, 0.25);
    const auto before = ChromeCache::shared().stats();
    const auto m1 = webcamFrame(*instructionFor(moving), camera(), 1100);
    const auto m2 = webcamFrame(*instructionFor(moving), camera(), 1101);
    const auto m2again = webcamFrame(*instructionFor(moving), camera(), 1101);
    ASSERT_TRUE(m1 && m2 && m2again && m1->shadow && m2->shadow);
    EXPECT_NE(m1->shadow, a->shadow);
    EXPECT_NE(m1->shadow, m2->shadow);
    EXPECT_EQ(m2->shadow, m2again->shadow);
    EXPECT_EQ(ChromeCache::shared().stats().renders - before.renders, 2u);
    // Same size throughout: the outline is shared, only placed elsewhere.
    EXPECT_EQ(m1->hairline->bitmapRef(), a->hairline->bitmapRef());
    EXPECT_TRUE(rectNear(m2->hairline->extent(), {m2->dest.x, m2->dest.y, 270, 270}));
}

TEST(WebcamImages, SubPixelMovesShareTheRoundedHalo) {
    const auto a = webcamHalo({100.2, 50.4, 120, 120}, Shape::circle, {640, 360});
    const auto b = webcamHalo({99.8, 49.6, 120.3, 119.9}, Shape::circle, {640, 360});
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a, b);
    const auto c = webcamHalo({100.2, 50.4, 120, 120}, Shape::square, {640, 360});
    EXPECT_NE(a, c);
}

} // namespace
} // namespace qv
