// The host side of the compositing pass: masks, zoom, window crop and the frame rectangles that
// go into the parameter block. The base source is 264 × 136, so the content (the source trimmed
// by 4 on each side) is 256 × 128 and document fractions land on whole content pixels.
#include "Compositor/engine/scene_pass_setup.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using testing::flatEdits;
using testing::makeInstruction;

constexpr Size kScreen{264, 136};
constexpr Size kCanvas{256, 128};

Edits::Mask mask(std::int64_t start, std::int64_t end, double x, double y, double w, double h,
                 Edits::MaskStyle style = Edits::MaskStyle::solid) {
    return Edits::Mask{"m", start, end, style, {{0, x, y, w, h}}};
}

std::shared_ptr<const SceneInstruction> instructionWith(Edits edits) {
    return makeInstruction(
        {.edits = std::move(edits), .renderSize = kCanvas, .screenSize = kScreen});
}

std::optional<SceneGeometry> geometryWithMasks(std::vector<Edits::Mask> masks, std::int64_t t) {
    Edits e = flatEdits();
    e.masks = std::move(masks);
    return sceneGeometry(*instructionWith(std::move(e)), t);
}

ScenePassParameters fill(const SceneInstruction &I, std::int64_t t, ScenePassLayers layers = {}) {
    const auto g = sceneGeometry(I, t);
    EXPECT_TRUE(g);
    return fillSceneUniforms(I, t, g ? *g : SceneGeometry{}, layers);
}

TEST(SceneMasks, ActiveWindowIncludesBothEnds) {
    const std::pair<std::int64_t, std::size_t> cases[] = {
        {99, 0}, {100, 1}, {150, 1}, {200, 1}, {201, 0}};
    for (const auto &[t, count] : cases) {
        const auto g = geometryWithMasks({mask(100, 200, 0.25, 0.25, 0.5, 0.5)}, t);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->masks.size(), count) << "at " << t;
    }
}

TEST(SceneMasks, SolidRectGoesToContentSpaceWithYUp) {
    // The document rectangle moves from x 0 to x 0.25 over a second; at 500 ms it is
    // (0.125, 0.125, 0.25, 0.5) from the top-left: 32 px in, 16 px down, 64 × 64.
    Edits::Mask m = mask(0, 1000, 0, 0.125, 0.25, 0.5);
    m.keyframes.push_back({1000, 0.25, 0.125, 0.25, 0.5});
    const auto g = geometryWithMasks({m}, 500);
    ASSERT_TRUE(g);
    ASSERT_EQ(g->masks.size(), 1u);
    const MaskRect r = g->masks[0];
    EXPECT_FLOAT_EQ(r.x, 32);
    EXPECT_FLOAT_EQ(r.y, 128 - (16 + 64));
    EXPECT_FLOAT_EQ(r.width, 64);
    EXPECT_FLOAT_EQ(r.height, 64);
}

TEST(SceneMasks, RectanglesOnePixelOrThinnerAreDropped) {
    struct Case {
        double w, h;
        bool kept;
    } cases[] = {
        {1.0 / 256, 0.5, false}, // exactly one content pixel wide
        {0.5, 1.0 / 128, false}, // one pixel high
        {0.5 / 256, 0.5, false},
        {2.0 / 256, 2.0 / 128, true},
    };
    for (const auto &c : cases) {
        const auto g = geometryWithMasks({mask(0, 100, 0.1, 0.1, c.w, c.h)}, 50);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->masks.size(), c.kept ? 1u : 0u) << c.w * 256 << " × " << c.h * 128;
    }
}

TEST(SceneMasks, AtMostEightAreKeptInDocumentOrder) {
    std::vector<Edits::Mask> masks;
    for (int k = 0; k < 9; ++k) masks.push_back(mask(0, 100, k / 16.0, 0, 1 / 16.0, 0.5));
    const auto g = geometryWithMasks(masks, 10);
    ASSERT_TRUE(g);
    ASSERT_EQ(g->masks.size(), 8u);
    for (int k = 0; k < 8; ++k) EXPECT_FLOAT_EQ(g->masks[k].x, 16.0f * k);
}

TEST(SceneMasks, ActiveBlurMaskSendsTheFrameElsewhere) {
    using Style = Edits::MaskStyle;
    const auto solid = [](int k) { return mask(0, 100, k / 16.0, 0, 1 / 16.0, 0.5); };
    const auto blur = mask(0, 100, 0.5, 0.5, 0.25, 0.25, Style::blur);

    EXPECT_FALSE(geometryWithMasks({blur}, 50));
    EXPECT_FALSE(geometryWithMasks({solid(0), blur}, 50));
    // Outside its time the blur mask is not looked at.
    EXPECT_TRUE(geometryWithMasks({mask(200, 300, 0.5, 0.5, 0.25, 0.25, Style::blur)}, 50));

    // Eight solid rectangles end the walk before the blur mask is met.
    std::vector<Edits::Mask> eightThenBlur;
    for (int k = 0; k < 8; ++k) eightThenBlur.push_back(solid(k));
    eightThenBlur.push_back(blur);
    const auto g = geometryWithMasks(eightThenBlur, 50);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->masks.size(), 8u);

    // A dropped thin mask does not count towards the eight.
    std::vector<Edits::Mask> sevenThinBlur;
    for (int k = 0; k < 7; ++k) sevenThinBlur.push_back(solid(k));
    sevenThinBlur.push_back(mask(0, 100, 0.9, 0, 1.0 / 256, 0.5));
    sevenThinBlur.push_back(blur);
    EXPECT_FALSE(geometryWithMasks(sevenThinBlur, 50));
}

std::optional<SceneGeometry> geometryWithZoom(double scale, double cx, double cy, std::int64_t t) {
    Edits e = flatEdits();
    // 3 s long: the ease takes 400 ms at each end, so 1000 ms is at full scale.
    e.zooms = {Edits::Zoom{0, 3000, scale, 1, cx, cy}};
    return sceneGeometry(*instructionWith(std::move(e)), t);
}

TEST(SceneZoom, ScaleOfAtMostOnePointZeroZeroOneIsNoZoom) {
    const std::pair<double, bool> cases[] = {
        {1.0, false}, {1.0005, false}, {1.001, false}, {1.002, true}, {2, true}};
    for (const auto &[scale, active] : cases) {
        const auto g = geometryWithZoom(scale, 0.5, 0.5, 1000);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->zoomActive, active) << scale;
        if (active) {
            EXPECT_DOUBLE_EQ(g->zoomS, scale);
        }
    }
}

TEST(SceneZoom, FocusIsClampedSoTheViewStaysInsideTheContent) {
    // Scale 2 shows 128 × 64 of the 256 × 128 content: the focus stays 64 and 32 from the edges.
    struct Case {
        double cx, cy;
        double focusX, focusY;
    } cases[] = {
        {0.5, 0.5, 128, 64}, // screen (132, 68) from the top-left, minus the crop origin
        {0, 0, 64, 96},      // top-left corner of the source
        {1, 1, 192, 32},     // bottom-right corner
        // Inside the bounds the request is kept: (79.2, 54.4) from the top-left.
        {0.3, 0.4, 79.2 - 4, (136 - 54.4) - 4},
    };
    for (const auto &c : cases) {
        const auto g = geometryWithZoom(2, c.cx, c.cy, 1000);
        ASSERT_TRUE(g);
        ASSERT_TRUE(g->zoomActive);
        EXPECT_NEAR(g->focusX, c.focusX, 1e-9) << c.cx << ", " << c.cy;
        EXPECT_NEAR(g->focusY, c.focusY, 1e-9) << c.cx << ", " << c.cy;
    }
}

TEST(SceneZoom, OutsideEveryZoomTheUniformsAreNeutral) {
    Edits e = flatEdits();
    e.zooms = {Edits::Zoom{0, 3000, 2, 1, 0.3, 0.3}};
    const auto I = instructionWith(std::move(e));
    const SceneUniforms zoomed = fill(*I, 1000).uniforms;
    EXPECT_EQ(zoomed.zoomActive, 1);
    EXPECT_EQ(zoomed.zoomS, 2);
    const SceneUniforms u = fill(*I, 5000).uniforms;
    EXPECT_EQ(u.zoomActive, 0);
    EXPECT_EQ(u.zoomS, 1);
    EXPECT_EQ(u.focusX, 0);
    EXPECT_EQ(u.focusY, 0);
}

TEST(SceneWindowCrop, LiveWindowIsFlippedIntoCaptureSpace) {
    struct Case {
        std::optional<std::string> mode;
        float letterbox;
    } cases[] = {{"maxObserved", 1}, {"initial", 0}, {std::nullopt, 0}, {"MaxObserved", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode.value_or("(none)"));
        WindowCrop crop{400, 300, c.mode, {{0, 10, 10, 100, 100}, {500, 50, 30, 200, 100}}};
        const auto I = makeInstruction({.edits = flatEdits(),
                                        .renderSize = kCanvas,
                                        .screenSize = kScreen,
                                        .windowCrop = crop});
        const SceneUniforms u = fill(*I, 600).uniforms;
        EXPECT_EQ((Size{u.screenTexW, u.screenTexH}), (Size{400, 300}));
        // The sample in force at 600 ms: 30 from the top and 100 high puts its bottom at 170.
        EXPECT_EQ((Rect{u.winX, u.winY, u.winW, u.winH}), (Rect{50, 170, 200, 100}));
        EXPECT_EQ(u.letterbox, c.letterbox);
        EXPECT_EQ((Size{u.screenW, u.screenH}), kScreen);
    }
}

TEST(SceneWindowCrop, DisplayRecordingSamplesTheWholeScreen) {
    const SceneUniforms u = fill(*instructionWith(flatEdits()), 0).uniforms;
    EXPECT_EQ((Size{u.screenTexW, u.screenTexH}), kScreen);
    EXPECT_EQ((Rect{u.winX, u.winY, u.winW, u.winH}), (Rect{0, 0, kScreen.width, kScreen.height}));
    EXPECT_EQ(u.letterbox, 0);
}

TEST(SceneUniformsFill, FrameRectanglesAndBarBand) {
    Edits e = flatEdits();
    e.scene.chromeStyle = Edits::ChromeStyle::minimal;
    const auto I = instructionWith(std::move(e));
    ScenePassLayers layers;
    layers.radius = 7.5;
    layers.hasScreen = true;
    const ScenePassParameters p = fill(*I, 0, layers);
    const SceneUniforms &u = p.uniforms;
    EXPECT_EQ((Size{u.canvasW, u.canvasH}), kCanvas);
    // Content 256 × 128 fills the canvas; the minimal bar is 8 (2.8 raised) at the top.
    EXPECT_EQ((Rect{u.tX, u.tY, u.tW, u.tH}), (Rect{0, 0, 256, 128}));
    EXPECT_EQ((Rect{u.srX, u.srY, u.srW, u.srH}), (Rect{0, 0, 256, 120}));
    EXPECT_EQ(u.barY0, 120);
    EXPECT_EQ(u.barY1, 128);
    EXPECT_EQ((Size{u.contentW, u.contentH}), (Size{256, 128}));
    EXPECT_EQ((Point{u.cropX, u.cropY}), (Point{4, 4}));
    EXPECT_EQ(u.radius, 7.5f);
    EXPECT_EQ(u.hasScreen, 1);
    EXPECT_EQ(fill(*I, 0).uniforms.hasScreen, 0);

    // No masks: the count is 0 but the list still holds one zero rectangle.
    EXPECT_EQ(u.maskCount, 0);
    ASSERT_EQ(p.masks.size(), 1u);
    EXPECT_EQ((Rect{p.masks[0].x, p.masks[0].y, p.masks[0].width, p.masks[0].height}), Rect{});

    // Layers that were not bound stay off; the webcam's neutral values keep the pass's
    // divisions defined.
    for (float flag : {u.hasCursor, u.hasClick, u.hasOverlay, u.hasWebcam, u.hasShadow,
                       u.hasHairline, u.wRemoveBg, u.zoomActive, u.letterbox})
        EXPECT_EQ(flag, 0);
    EXPECT_EQ((Rect{u.wdX, u.wdY, u.wdW, u.wdH}), (Rect{0, 0, 1, 1}));
    EXPECT_EQ(u.wAlpha, 1);
    EXPECT_EQ((Size{u.camW, u.camH}), (Size{1, 1}));
}

TEST(SceneUniformsFill, CanvasSizeIsTruncatedButPlacementUsesTheExactSize) {
    // On 300.9 × 150.5 the 2:1 frame is 300.9 × 150.45 at y = 0.025, snapped to 301 × 151;
    // on the truncated 300 × 150 it would be 300 × 150.
    const auto I = makeInstruction(
        {.edits = flatEdits(), .renderSize = {300.9, 150.5}, .screenSize = kScreen});
    const SceneUniforms u = fill(*I, 0).uniforms;
    EXPECT_EQ((Size{u.canvasW, u.canvasH}), (Size{300, 150}));
    EXPECT_EQ((Rect{u.tX, u.tY, u.tW, u.tH}), (Rect{0, 0, 301, 151}));
    EXPECT_EQ(u.srW, 301);
}

} // namespace
} // namespace qv
