// The compositor's frame resource caches: the background per document and output size, the
// static layers per instruction and size, and what a repeated frame renders again (nothing).
#include "Compositor/assets/wallpaper_cache.h"
#include "Compositor/scene/background.h"
#include "Compositor/scene/chrome_cache.h"
#include "Compositor/scene/screen_placement.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using testing::makeInstruction;
using testing::renderFrame;

// Wallpaper, shadow, browser chrome and border: every static layer in use.
Edits decorated() {
    Edits e = Edits::defaults();
    e.scene.backgroundKind = Edits::BackgroundKind::wallpaper;
    e.scene.wallpaperId = "dusk";
    e.scene.paddingPercent = 10;
    e.scene.frameRadius = 6;
    e.scene.shadowStrength = 0.8;
    e.scene.shadowBlur = 5;
    e.scene.shadowOffset = 3;
    e.scene.chromeStyle = Edits::ChromeStyle::browser;
    e.scene.showBorder = true;
    return e;
}

struct Counts {
    int backgrounds, staticRenders;
    std::size_t decorationRenders, decorationHits, wallpaperRenders;
};
Counts counts(MetalVideoCompositor &c) {
    const auto d = c.diagnostics();
    const auto chrome = SceneRenderer::ChromeCache::shared().stats();
    return {d.backgroundBuilds, d.staticLayerRenders, chrome.renders, chrome.hits,
            WallpaperCache::stats().renders};
}

TEST(FrameResources, ASecondFrameOfTheSameInstructionAndSizeRendersNothingAgain) {
    MetalVideoCompositor c;
    // A size of its own, so that no other test has warmed the process-wide caches for it.
    auto I = makeInstruction({decorated(), {161, 97}, {161, 97}});
    const auto screen = testing::solidBuffer(161, 97, 200, 100, 50);
    const auto first = renderFrame(c, I, 0, screen);
    ASSERT_TRUE(first);
    const Counts a = counts(c);
    EXPECT_EQ(a.backgrounds, 1);
    EXPECT_EQ(a.staticRenders, 1);

    const auto second = renderFrame(c, I, 40, screen);
    ASSERT_TRUE(second);
    const Counts b = counts(c);
    EXPECT_EQ(b.backgrounds, 1);
    EXPECT_EQ(b.staticRenders, 1);
    EXPECT_EQ(b.wallpaperRenders, a.wallpaperRenders);   // no background
    EXPECT_EQ(b.decorationRenders, a.decorationRenders); // no shadow, chrome or border
    EXPECT_EQ(b.decorationHits, a.decorationHits);       // not even looked up
    EXPECT_EQ(c.diagnostics().gpuFrames, 2);
    // And the two frames are the same picture.
    for (int j = 0; j < 97; j += 8)
        for (int i = 0; i < 161; i += 8)
            ASSERT_EQ(testing::rgbAt(*first, i, j), testing::rgbAt(*second, i, j));
}

TEST(FrameResources, TheFrameShowsChromeBorderAndShadowOverTheWallpaper) {
    MetalVideoCompositor c;
    Edits e = decorated();
    e.scene.frameRadius = 0;
    auto I = makeInstruction({e, {200, 120}, {200, 120}});
    const auto out = renderFrame(c, I, 0, testing::solidBuffer(200, 120, 0, 0, 0));
    ASSERT_TRUE(out);
    const auto p = SceneRenderer::screenPlacement(e.scene, {200, 120}, {200, 120});
    const int top = 120 - int(p.target.maxY()); // first frame row, counted from the top
    const int left = int(p.target.minX());
    // The bar's grey band (over the border's top edge the line makes it lighter still).
    const auto bar = testing::rgbAt(*out, left + int(p.target.width / 2), top + 2);
    EXPECT_GE(bar[0], 230);
    // The border: white at 0.55 over the black screen on the frame's left column.
    const int mid = top + int(p.target.height * 0.6);
    EXPECT_NEAR(testing::rgbAt(*out, left, mid)[1], 140, 4);
    EXPECT_NEAR(testing::rgbAt(*out, left + 3, mid)[1], 0, 1);
    // The shadow: below the frame darker than the same column well above it.
    const int below = 120 - int(p.target.minY()) + 1;
    const auto under = testing::rgbAt(*out, left + 30, below);
    auto bg = WallpaperCache::image(*SceneRenderer::wallpaperPreset("dusk"), {200, 120});
    const auto wall = testing::rgbAt(bg->bitmap(), left + 30, below);
    EXPECT_LT(under[0] + under[1] + under[2], wall[0] + wall[1] + wall[2] - 30);
}

TEST(FrameResources, ANewInstructionWithEqualEditsRebuildsTheLayersButNotTheBackground) {
    MetalVideoCompositor c;
    const auto screen = testing::solidBuffer(90, 60, 10, 20, 30);
    ASSERT_TRUE(renderFrame(c, makeInstruction({decorated(), {90, 60}, {90, 60}}), 0, screen));
    ASSERT_TRUE(renderFrame(c, makeInstruction({decorated(), {90, 60}, {90, 60}}), 0, screen));
    auto d = c.diagnostics();
    EXPECT_EQ(d.backgroundBuilds, 1);
    EXPECT_EQ(d.staticLayerRenders, 2);
    // A new output size rebuilds both.
    ASSERT_TRUE(renderFrame(c, makeInstruction({decorated(), {91, 60}, {90, 60}}), 0, screen));
    d = c.diagnostics();
    EXPECT_EQ(d.backgroundBuilds, 2);
    EXPECT_EQ(d.staticLayerRenders, 3);
}

TEST(FrameResources, WithoutChromeAndBorderTheFrameIsStillDrawn) {
    MetalVideoCompositor c;
    Edits e = decorated();
    e.scene.chromeStyle = Edits::ChromeStyle::none;
    e.scene.showBorder = false;
    e.scene.frameRadius = 0;
    auto I = makeInstruction({e, {100, 60}, {100, 60}});
    const auto out = renderFrame(c, I, 0, testing::solidBuffer(100, 60, 200, 100, 50));
    ASSERT_TRUE(out);
    EXPECT_TRUE(testing::rgbNear(*out, 50, 30, {200, 100, 50}, 1));
    EXPECT_FALSE(c.diagnostics().metalUnavailable);
}

} // namespace
} // namespace qv
