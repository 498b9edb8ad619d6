// The cursor and click effects as pictures, through the frame pipeline: a 1928 × 1088 source
// whose trimmed content (1920 × 1080) fills a 1920 × 1080 canvas one to one.
#include "scene_fixtures.h"

#include "Compositor/assets/system_cursor_bitmaps.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qv {
namespace {

using testing::InstructionPlan;
using testing::makeInstruction;
using testing::rgbNear;

constexpr double kW = 1928, kH = 1088;

// Content point (y-up, from the crop origin (4, 4)) to the canvas pixel (column, row from top).
std::pair<int, int> pixelOf(double cx, double cy) {
    return {static_cast<int>(std::floor(cx)), static_cast<int>(std::floor(1080 - cy))};
}

// Normalised track position of a content point.
CursorSample sampleAt(std::int64_t t, double cx, double cy) {
    return {t, (cx + 4) / kW, 1 - (cy + 4) / kH};
}

InstructionPlan cursorScene() {
    InstructionPlan s;
    s.screenSize = {kW, kH};
    s.renderSize = {1920, 1080};
    auto &sc = s.edits.scene;
    sc.cursorSize = 4;
    sc.cursorSmoothing = 0;
    sc.cursorFill = "#FF0000";
    sc.cursorFilled = true;
    sc.cursorOutline = false;
    sc.cursorShadow = false;
    sc.clickEffect = Edits::ClickEffect::none;
    s.cursorPath = {sampleAt(0, 600, 500), sampleAt(10000, 600, 500)};
    return s;
}

platform::PixelBufferRef render(const InstructionPlan &s, std::int64_t ms) {
    MetalVideoCompositor c;
    return testing::renderFrame(c, makeInstruction(s), ms,
                                testing::solidBuffer(int(kW), int(kH), 0, 0, 0));
}

TEST(CursorPicture, ShapesAreAnchoredAtTheirHotspot) {
    InstructionPlan s = cursorScene();
    const auto [px, py] = pixelOf(600, 500);
    s.edits.scene.cursorShape = Edits::CursorShape::dot;
    auto frame = render(s, 1000);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(rgbNear(*frame, px, py, {255, 0, 0}));
    EXPECT_TRUE(rgbNear(*frame, px + 60, py, {0, 0, 0}));

    // The arrow's tip is its hotspot: red just right of and below it, screen above-left.
    s.edits.scene.cursorShape = Edits::CursorShape::arrow;
    frame = render(s, 1000);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(rgbNear(*frame, px + 4, py + 12, {255, 0, 0}, 8));
    EXPECT_TRUE(rgbNear(*frame, px - 4, py - 4, {0, 0, 0}));
    EXPECT_TRUE(rgbNear(*frame, px + 10, py - 4, {0, 0, 0}));
}

TEST(CursorPicture, MaskCoversTheCursor) {
    InstructionPlan s = cursorScene();
    s.edits.scene.cursorShape = Edits::CursorShape::dot;
    // Content fractions, origin top-left: a box around (600, 500) y-up = (600, 580) y-down.
    s.edits.masks = {Edits::Mask{"m",
                                 0,
                                 5000,
                                 Edits::MaskStyle::solid,
                                 {{0, 500.0 / 1920, 520.0 / 1080, 200.0 / 1920, 120.0 / 1080}}}};
    const auto frame = render(s, 1000);
    ASSERT_TRUE(frame);
    const auto [px, py] = pixelOf(600, 500);
    EXPECT_TRUE(rgbNear(*frame, px, py, {13, 13, 15}));
}

TEST(CursorPicture, RegisteredSystemBitmapIsDrawnAsItIs) {
    auto art = platform::Image::solid(20, 20, 0, 1, 0);
    SystemCursorBitmaps::registerTable({{"iBeam", {art, {0.5, 0.5}}}});
    InstructionPlan s = cursorScene();
    s.edits.scene.cursorOutline = true; // ignored for registered art
    s.cursorKinds = {{0, "iBeam"}};
    const auto frame = render(s, 1000);
    SystemCursorBitmaps::registerTable({});
    ASSERT_TRUE(frame);
    const auto [px, py] = pixelOf(600, 500);
    EXPECT_TRUE(rgbNear(*frame, px, py, {0, 255, 0}));
    // Drawn 4 × 2 % of 1088 = 87 pixels high and as wide: 60 pixels right is the screen.
    EXPECT_TRUE(rgbNear(*frame, px + 60, py, {0, 0, 0}));
}

// The click at (1200, 400); the cursor stays away at (600, 500).
struct ClickCase {
    Edits::ClickEffect style;
    std::int64_t ms; // frame time; the click is at 1000
    double distance; // from the click centre, content pixels
    int expected;    // white level over the black screen
};

TEST(CursorPicture, ClickEffectsFollowTheirCurves) {
    const double k = kH / 1080;
    const ClickCase cases[] = {
        // Ring at the click: radius 26k, alpha 0.6 on its line, nothing at the centre.
        {Edits::ClickEffect::ring, 1000, 26 * k, 153},
        {Edits::ClickEffect::ring, 1000, 0, 0},
        {Edits::ClickEffect::ring, 1000, 26 * k + 12, 0},
        // Ripple: a disc fading outward from 0.3 at the centre to 0 at 14k.
        {Edits::ClickEffect::ripple, 1000, 0, 77},
        {Edits::ClickEffect::ripple, 1000, 7 * k, 38},
        {Edits::ClickEffect::ripple, 1000, 15 * k, 0},
        // Shockwave 160 ms before the click: radius 144k, alpha 0.75 × 0.5^1.6.
        {Edits::ClickEffect::shockwave, 840, 144 * k, 63},
        {Edits::ClickEffect::shockwave, 1160, 144 * k, 63},
        {Edits::ClickEffect::shockwave, 1000 + 320, 24 * k, 0},
    };
    for (const ClickCase &c : cases) {
        InstructionPlan s = cursorScene();
        s.edits.scene.clickEffect = c.style;
        s.clicks = {sampleAt(1000, 1200, 400)};
        const auto frame = render(s, c.ms);
        ASSERT_TRUE(frame);
        const auto [px, py] = pixelOf(1200 + c.distance, 400);
        const int level = testing::rgbAt(*frame, px, py)[0];
        EXPECT_NEAR(level, c.expected, 6)
            << rawValue(c.style) << " at " << c.ms << " ms, distance " << c.distance;
    }
}

TEST(CursorPicture, SpriteIsUploadedOncePerSprite) {
    MetalVideoCompositor c;
    const auto I = makeInstruction(cursorScene());
    for (std::int64_t ms : {100, 200, 300})
        ASSERT_TRUE(
            testing::renderFrame(c, I, ms, testing::solidBuffer(int(kW), int(kH), 0, 0, 0)));
    EXPECT_EQ(c.diagnostics().cursorUploads, 1);
}

} // namespace
} // namespace qv
