// The cursor of a frame: pointer position and follow filter, kinds and glyphs, sprites and
// their cache, the system bitmap registry, colours.
#include "scene_fixtures.h"

#include "Compositor/assets/system_cursor_bitmaps.h"
#include "Compositor/scene/cursor_frame.h"
#include "Compositor/scene/cursor_path.h"
#include "Compositor/scene/hex_color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <latch>
#include <random>
#include <thread>

namespace qv {
namespace {

using namespace SceneRenderer;
using testing::InstructionPlan;
using testing::makeInstruction;

// Leaves the process-wide registry empty for the next test.
struct RegistryReset {
    ~RegistryReset() { SystemCursorBitmaps::registerTable({}); }
};

TEST(CursorPosition, InterpolatesAndHoldsAtTheEnds) {
    const std::vector<CursorSample> path{{0, 0.0, 0.0}, {100, 1.0, 1.0}};
    EXPECT_EQ(*cursorPosition(path, 25, 0), (Point{0.25, 0.25}));
    EXPECT_EQ(*cursorPosition(path, -5, 0), (Point{0, 0}));
    EXPECT_EQ(*cursorPosition(path, 500, 0.5), (Point{1, 1}));
    EXPECT_FALSE(cursorPosition({}, 10, 0));
    // Two samples at the same time: the interval counts as 1 ms, nothing divides by zero.
    const std::vector<CursorSample> twin{{0, 0, 0}, {50, 0.5, 0.5}, {50, 0.7, 0.7}, {90, 1, 1}};
    const auto p = cursorPosition(twin, 50, 0);
    ASSERT_TRUE(p);
    EXPECT_TRUE(std::isfinite(p->x) && std::isfinite(p->y));
    EXPECT_TRUE(std::isfinite(cursorPosition(twin, 60, 0.5)->x));
}

TEST(CursorPosition, FollowFilterLagsBehindThePointer) {
    const std::vector<CursorSample> path{
        {0, 0, 0}, {16, 0, 0}, {32, 1, 0}, {48, 1, 0}, {400, 1, 0}};
    const Point smooth = *cursorPosition(path, 40, 1.0);
    const Point raw = *cursorPosition(path, 40, 0);
    EXPECT_EQ(raw.x, 1);
    EXPECT_GT(smooth.x, 0);
    EXPECT_LT(smooth.x, 0.5); // tau = 240 ms: the filter has barely started to follow
}

// The saved filter states must give exactly the bits of the full re-run, at any time and in
// any order of requests.
TEST(CursorPosition, SavedFilterStatesGiveTheSameBits) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> pos(0, 1);
    std::uniform_int_distribution<int> gap(0, 40);
    std::vector<CursorSample> path;
    std::int64_t t = 100;
    for (int k = 0; k < 3000; ++k) {
        path.push_back({t, pos(gen), pos(gen)});
        t += gap(gen); // repeated times included
    }
    for (double smoothing : {0.0, 0.15, 0.5, 2.0}) {
        const FollowFilter filter(path, smoothing);
        std::uniform_int_distribution<std::int64_t> when(0, t + 100);
        for (int q = 0; q < 2000; ++q) {
            const std::int64_t at = q < 40 ? path[std::size_t(q) * 70].tMs : when(gen);
            const Point a = *cursorPosition(path, at, smoothing);
            const Point b = *filter.position(path, at);
            ASSERT_EQ(a.x, b.x) << "smoothing " << smoothing << " at " << at;
            ASSERT_EQ(a.y, b.y) << "smoothing " << smoothing << " at " << at;
        }
    }
}

TEST(GlyphForKind, MapsTheKindTableExactly) {
    const std::pair<const char *, std::optional<SystemGlyph>> table[] = {
        {"pointingHand", SystemGlyph::pointingHand},
        {"iBeam", SystemGlyph::iBeam},
        {"iBeamVertical", SystemGlyph::iBeamVertical},
        {"openHand", SystemGlyph::openHand},
        {"closedHand", SystemGlyph::closedHand},
        {"crosshair", SystemGlyph::crosshair},
        {"resizeLeftRight", SystemGlyph::resizeH},
        {"resizeLeft", SystemGlyph::resizeH},
        {"resizeRight", SystemGlyph::resizeH},
        {"resizeUpDown", SystemGlyph::resizeV},
        {"resizeUp", SystemGlyph::resizeV},
        {"resizeDown", SystemGlyph::resizeV},
        {"operationNotAllowed", SystemGlyph::notAllowed},
        {"arrow", std::nullopt},
        {"ibeam", std::nullopt},
        {"", std::nullopt},
        {"dragCopy", std::nullopt},
    };
    for (const auto &[kind, glyph] : table) EXPECT_EQ(glyphForKind(kind), glyph) << kind;
}

TEST(HexColor, ParsesSixDigitsWithOptionalHash) {
    EXPECT_EQ(hexColor("#FF8000"), (RGB{1, 128 / 255.0, 0}));
    EXPECT_EQ(hexColor("FF8000"), (RGB{1, 128 / 255.0, 0}));
    EXPECT_EQ(hexColor("#0a0B0c"), (RGB{10 / 255.0, 11 / 255.0, 12 / 255.0}));
    for (const char *bad : {"#F80", "red", "", "#", "##FF8000", "#FF80001", "#GG0000", " FF8000"})
        EXPECT_EQ(hexColor(bad), (RGB{})) << bad;
}

Edits::Scene style(Edits::CursorShape shape, bool outline, bool shadow,
                   const char *fill = "#FF0000") {
    Edits::Scene s = Edits::defaults().scene;
    s.cursorShape = shape;
    s.cursorFilled = true;
    s.cursorFill = fill;
    s.cursorOutline = outline;
    s.cursorOutlineColor = "#0000FF";
    s.cursorShadow = shadow;
    return s;
}

std::array<int, 4> pixel(const platform::Image &img, int x, int y) {
    const std::uint8_t *p = img.bitmap().row(y) + 4 * x;
    return {p[2], p[1], p[0], p[3]};
}

TEST(CursorSprite, SizesAndHotspotsFollowTheMargins) {
    const CursorSprite s = cursorSprite(style(Edits::CursorShape::arrow, true, true), std::nullopt);
    ASSERT_TRUE(s.image);
    EXPECT_EQ(s.image->extent().size(), (Size{236, 326}));
    EXPECT_DOUBLE_EQ(s.hotX, 43.0 / 236);
    EXPECT_DOUBLE_EQ(s.hotY, 43.0 / 326);
    // Plain: m = 4; the dot's hotspot is its centre.
    const CursorSprite dot =
        cursorSprite(style(Edits::CursorShape::dot, false, false), std::nullopt);
    EXPECT_EQ(dot.image->extent().size(), (Size{109, 109}));
    EXPECT_DOUBLE_EQ(dot.hotX, 54.4 / 109);
}

TEST(CursorSprite, OutlineShowsOnlyOutsideTheShape) {
    const CursorSprite plain =
        cursorSprite(style(Edits::CursorShape::dot, false, false), std::nullopt);
    const CursorSprite outlined =
        cursorSprite(style(Edits::CursorShape::dot, true, false), std::nullopt);
    // Plain dot (m = 4, radius 50.4): centre red, just inside the edge red, outside clear.
    EXPECT_EQ(pixel(*plain.image, 54, 54), (std::array<int, 4>{255, 0, 0, 255}));
    EXPECT_EQ(pixel(*plain.image, 54, 6), (std::array<int, 4>{255, 0, 0, 255}));
    EXPECT_EQ(pixel(*plain.image, 2, 2)[3], 0);
    // Outlined (m = ceil(18.4) = 19): 5 units inside the shape is still fill, 8 outside is the
    // outline colour, 20 outside is clear.
    const int c = 19 + 50; // centre column
    EXPECT_EQ(pixel(*outlined.image, c, 19 + 5), (std::array<int, 4>{255, 0, 0, 255}));
    EXPECT_EQ(pixel(*outlined.image, c, 19 - 8), (std::array<int, 4>{0, 0, 255, 255}));
    EXPECT_EQ(pixel(*outlined.image, 0, 0)[3], 0);
}

TEST(CursorSprite, ShadowFallsBelowTheShape) {
    const CursorSprite s = cursorSprite(style(Edits::CursorShape::dot, false, true), std::nullopt);
    // m = 28; the dot spans rows 28 .. 128. Below it the shadow is darker than above it.
    const int below = pixel(*s.image, 78, 128 + 12)[3];
    const int above = pixel(*s.image, 78, 28 - 12)[3];
    EXPECT_GT(below, 20);
    EXPECT_GT(below, above + 10);
    EXPECT_EQ(pixel(*s.image, 78, 78), (std::array<int, 4>{255, 0, 0, 255}));
}

TEST(CursorSprite, EachStyleIsRenderedOnceUnderConcurrentCalls) {
    const Edits::Scene st = style(Edits::CursorShape::heart, true, false, "#123456");
    const int before = cursorSpriteRenderCount();
    std::latch start(8);
    std::vector<std::thread> threads;
    std::vector<platform::ImageRef> got(8);
    for (int k = 0; k < 8; ++k)
        threads.emplace_back([&, k] {
            start.arrive_and_wait();
            got[k] = cursorSprite(st, std::nullopt).image;
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(cursorSpriteRenderCount(), before + 1);
    for (const auto &img : got) EXPECT_EQ(img, got[0]);
}

TEST(CursorSprite, RegisteredSystemBitmapIsUsedUnstyled) {
    RegistryReset reset;
    auto art = platform::Image::solid(10, 20, 0, 1, 0);
    SystemCursorBitmaps::registerTable({{"iBeam", {art, {0.5, 0.25}}}});
    const CursorSprite s =
        cursorSprite(style(Edits::CursorShape::arrow, true, true), SystemGlyph::iBeam);
    EXPECT_EQ(s.image, art);
    EXPECT_DOUBLE_EQ(s.hotX, 0.5);
    EXPECT_DOUBLE_EQ(s.hotY, 0.25);
    // A glyph without registered art is drawn from its vector table.
    const CursorSprite v =
        cursorSprite(style(Edits::CursorShape::arrow, false, false), SystemGlyph::resizeH);
    EXPECT_EQ(v.image->extent().size(), (Size{248, 128}));
}

TEST(SystemCursorBitmaps, TableIsReplacedAsAWhole) {
    RegistryReset reset;
    SystemCursorBitmaps::registerTable({});
    EXPECT_FALSE(SystemCursorBitmaps::entry("crosshair"));
    auto a = platform::Image::solid(4, 4, 1, 0, 0);
    SystemCursorBitmaps::registerTable({{"crosshair", {a, {0.5, 0.5}}}, {"iBeam", {a, {0, 0}}}});
    const auto held = SystemCursorBitmaps::entry("crosshair");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->image, a);
    EXPECT_FALSE(SystemCursorBitmaps::entry("Crosshair"));
    SystemCursorBitmaps::registerTable({{"iBeam", {a, {0, 0}}}});
    EXPECT_FALSE(SystemCursorBitmaps::entry("crosshair"));
    EXPECT_TRUE(SystemCursorBitmaps::entry("iBeam"));
    EXPECT_EQ(held->image->extent().width, 4); // a copy handed out stays valid
}

InstructionPlan cursorSpec() {
    InstructionPlan s;
    s.screenSize = {1000, 500};
    s.renderSize = {1000, 500};
    s.edits.scene.cursorSize = 1;
    s.edits.scene.cursorSmoothing = 0;
    s.edits.scene.clickEffect = Edits::ClickEffect::ring;
    s.edits.scene.cursorOutline = false;
    s.edits.scene.cursorShadow = false;
    s.cursorPath = {{0, 0.5, 0.5}, {1000, 0.5, 0.5}};
    s.clicks = {{500, 0.5, 0.5}};
    return s;
}

TEST(CursorFrameTest, NoPathOrNoSizeMeansNoCursorAndNoClick) {
    InstructionPlan noPath = cursorSpec();
    noPath.cursorPath.clear();
    EXPECT_FALSE(cursorFrame(*makeInstruction(noPath), 500, {}));
    InstructionPlan noSize = cursorSpec();
    noSize.edits.scene.cursorSize = 0;
    EXPECT_FALSE(cursorFrame(*makeInstruction(noSize), 500, {}));
}

TEST(CursorFrameTest, PointerInThePixelsKeepsOnlyTheClick) {
    InstructionPlan s = cursorSpec();
    s.cursorSynthetic = false;
    const auto f = cursorFrame(*makeInstruction(s), 500, {});
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->sprite);
    ASSERT_TRUE(f->click);
    EXPECT_EQ(f->click->kind, ClickFX::Kind::ring);
}

TEST(CursorFrameTest, HotspotLandsOnThePointer) {
    InstructionPlan s = cursorSpec();
    s.edits.scene.cursorSize = 0.05; // drawn as 0.1
    for (auto shape :
         {Edits::CursorShape::arrow, Edits::CursorShape::heart, Edits::CursorShape::dot,
          Edits::CursorShape::ring, Edits::CursorShape::crosshair}) {
        s.edits.scene.cursorShape = shape;
        const Point crop{4, 4};
        const auto f = cursorFrame(*makeInstruction(s), 300, crop);
        ASSERT_TRUE(f && f->sprite);
        const CursorSprite sp = cursorSprite(s.edits.scene, std::nullopt);
        const Rect r = f->spriteRect;
        EXPECT_NEAR(r.height, 0.1 * 500 * 0.02, 1e-9);
        // The hotspot, hotY measured from the top, sits on (0.5 × 1000 − 4, 0.5 × 500 − 4).
        EXPECT_NEAR(r.x + sp.hotX * r.width, 496, 1e-9) << rawValue(shape);
        EXPECT_NEAR(r.y + r.height * (1 - sp.hotY), 246, 1e-9) << rawValue(shape);
    }
}

TEST(CursorFrameTest, KindFollowsTheTrack) {
    InstructionPlan s = cursorSpec();
    s.cursorKinds = {{200, "resizeUp"}, {600, "arrow"}};
    const auto I = makeInstruction(s);
    const auto arrow = cursorSprite(s.edits.scene, std::nullopt).image;
    const auto resize = cursorSprite(s.edits.scene, SystemGlyph::resizeV).image;
    EXPECT_EQ(cursorFrame(*I, 100, {})->sprite, arrow);  // before the first kind: the arrow
    EXPECT_EQ(cursorFrame(*I, 200, {})->sprite, resize); // "resizeUp" is the vertical glyph
    EXPECT_EQ(cursorFrame(*I, 599, {})->sprite, resize);
    EXPECT_EQ(cursorFrame(*I, 600, {})->sprite, arrow);
    InstructionPlan upDown = s;
    upDown.cursorKinds = {{0, "resizeUpDown"}};
    EXPECT_EQ(cursorFrame(*makeInstruction(upDown), 300, {})->sprite, resize);
}

} // namespace
} // namespace qv
