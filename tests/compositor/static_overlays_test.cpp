// The frame's static layers as pictures: shadow, chrome bar, border, and their shared cache.
#include "Compositor/scene/chrome_cache.h"
#include "Compositor/scene/frame_decorations.h"
#include "Compositor/scene/screen_placement.h"
#include "Compositor/scene/static_overlays.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

namespace SR = SceneRenderer;
using platform::ImageRef;

Edits::Scene shadowScene(double padding = 10, double strength = 1) {
    Edits::Scene s = testing::flatEdits("#FFFFFF").scene;
    s.paddingPercent = padding;
    s.frameRadius = 8;
    s.shadowBlur = 6;
    s.shadowOffset = 4;
    s.shadowStrength = strength;
    return s;
}

ImageRef white(int W, int H) {
    return platform::Image::solid(W, H, 1, 1, 1, 1);
}

TEST(FrameShadow, AbsentWithoutPaddingEvenWhenStrong) {
    const auto bg = white(200, 100);
    const auto o = SR::staticOverlays(shadowScene(0, 1), {188, 88}, {200, 100}, bg);
    EXPECT_EQ(o.behind, bg);
}

TEST(FrameShadow, DarkensAroundAndBelowTheFrameButNotUnderIt) {
    const auto bg = white(200, 100);
    const Edits::Scene s = shadowScene();
    // Content 180 × 80 (the source less 4 on each side) fills the padded area exactly.
    const auto target = SR::screenPlacement(s, {188, 88}, {200, 100}).target;
    ASSERT_EQ(target, (Rect{10, 10, 180, 80})); // 10 % of 100 on every side
    const auto o = SR::staticOverlays(s, {188, 88}, {200, 100}, bg);
    ASSERT_NE(o.behind, bg);
    const auto &b = o.behind->bitmap();
    const auto below = testing::rgbAt(b, 100, 91); // just under the frame (y-up 8.5)
    const auto above = testing::rgbAt(b, 100, 8);  // just over it (y-up 91.5): offset away
    EXPECT_LT(below[0], 200);
    EXPECT_LT(below[0], above[0]);
    EXPECT_TRUE(testing::rgbNear(b, 100, 50, {255, 255, 255}, 0)); // cut out under the frame
    EXPECT_TRUE(testing::rgbNear(b, 100, 0, {255, 255, 255}, 2));  // far away
    EXPECT_EQ(b.row(91)[4 * 100 + 3], 255);                        // behind stays opaque
}

TEST(FrameShadow, StrengthTwoIsStrengthOne) {
    const Rect target{10, 10, 180, 80}, canvas{0, 0, 200, 100};
    const auto one = SR::frameShadow(shadowScene(10, 1), target, canvas);
    const auto two = SR::frameShadow(shadowScene(10, 2), target, canvas);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->bitmapRef(), two->bitmapRef());
    // 0.45 at most: nowhere darker than that opacity.
    int maxAlpha = 0;
    for (int j = 0; j < 100; ++j)
        for (int i = 0; i < 200; ++i)
            maxAlpha = std::max<int>(maxAlpha, one->bitmap().row(j)[4 * i + 3]);
    EXPECT_LE(maxAlpha, 115);
    EXPECT_GE(maxAlpha, 60);
}

TEST(FrameShadow, BlursOfTenPointZeroFourAndTenPointZeroOneShareOneImage) {
    const Rect target{10, 10, 180, 80}, canvas{0, 0, 400, 200};
    Edits::Scene a = shadowScene(), b = shadowScene(), c = shadowScene();
    a.shadowBlur = 10.04, b.shadowBlur = 10.01, c.shadowBlur = 10.06;
    const auto renders = SR::ChromeCache::shared().stats().renders;
    const auto ia = SR::frameShadow(a, target, canvas), ib = SR::frameShadow(b, target, canvas);
    EXPECT_EQ(ia->bitmapRef(), ib->bitmapRef());
    EXPECT_NE(SR::frameShadow(c, target, canvas)->bitmapRef(), ia->bitmapRef()); // 101
    EXPECT_EQ(SR::ChromeCache::shared().stats().renders, renders + 2);
}

TEST(FrameShadow, TheBlurIsBoundedByTheCanvas) {
    // 5 % of the larger side: 10 px here, however large the document asks for.
    const Rect target{10, 10, 180, 80}, canvas{0, 0, 200, 100};
    EXPECT_EQ(SR::boundedShadowBlur(2000, canvas), 10);
    EXPECT_EQ(SR::boundedShadowBlur(4, canvas), 4);
    EXPECT_EQ(SR::boundedShadowBlur(-3, canvas), 0);
    Edits::Scene bounded = shadowScene(), huge = shadowScene();
    bounded.shadowBlur = 10, huge.shadowBlur = 1e30;
    const auto a = SR::frameShadow(bounded, target, canvas),
               b = SR::frameShadow(huge, target, canvas);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->bitmapRef(), b->bitmapRef());
}

// Along the bar's middle row, the centre of each dot's coloured pixels.
double dotCentre(const platform::PixelBuffer &bar, int row, double guess) {
    double sum = 0, weight = 0;
    for (int i = int(guess) - 12; i <= int(guess) + 12; ++i) {
        const auto c = testing::rgbAt(bar, i, row);
        const double w = std::abs(c[0] - 236) + std::abs(c[1] - 236) + std::abs(c[2] - 237);
        sum += w * (i + 0.5), weight += w;
    }
    return sum / weight;
}

TEST(ChromeBar, BrowserDotsOnAFortyPixelBar) {
    const auto bar = SR::chromeBarImage({50, 300, 300, 40}, true);
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->extent(), (Rect{50, 300, 300, 40}));
    const auto &pb = bar->bitmap();
    // Radius 8.4, centres 28, 55.97, 83.94 at y = 20: rows 19 and 20 straddle the centre.
    for (double want : {28.0, 55.972, 83.944}) {
        EXPECT_NEAR(dotCentre(pb, 19, want), want, 0.1);
        EXPECT_NEAR(dotCentre(pb, 20, want), want, 0.1);
    }
    EXPECT_TRUE(testing::rgbNear(pb, 27, 19, {255, 94, 87}, 2));
    EXPECT_TRUE(testing::rgbNear(pb, 55, 19, {255, 189, 46}, 2));
    EXPECT_TRUE(testing::rgbNear(pb, 83, 19, {41, 199, 64}, 2));
    // The rim: pixel 19 is 0.4 covered by the dot; without the rim its red would stay above
    // the band's 236, the rim's black pulls it under.
    EXPECT_LT(testing::rgbAt(pb, 19, 19)[0], 236);
    EXPECT_TRUE(testing::rgbNear(pb, 18, 19, {236, 236, 237}, 1)); // beyond the radius
    EXPECT_TRUE(testing::rgbNear(pb, 200, 10, {236, 236, 237}, 1));
}

TEST(ChromeBar, MinimalHasTheBandAndSeparatorOnly) {
    const auto bar = SR::chromeBarImage({0, 0, 120, 30}, false);
    ASSERT_TRUE(bar);
    const auto &pb = bar->bitmap();
    for (int i = 0; i < 120; i += 7) {
        EXPECT_TRUE(testing::rgbNear(pb, i, 15, {236, 236, 237}, 1)) << i;
        // The separator: max(0.035 × 30, 1) = 1.05 rows at the bottom, black at 0.1.
        EXPECT_TRUE(testing::rgbNear(pb, i, 29, {212, 212, 213}, 2)) << i;
        EXPECT_EQ(pb.row(15)[4 * i + 3], 255);
    }
    EXPECT_FALSE(SR::chromeBarImage({0, 0, 120, 0.4}, false));
}

TEST(ChromeBar, StaticOverlaysPlaceItAtTheTopOfTheFrame) {
    Edits::Scene s = shadowScene();
    s.shadowStrength = 0;
    s.chromeStyle = Edits::ChromeStyle::browser;
    const auto o = SR::staticOverlays(s, {2000, 1000}, {2000, 1000}, white(2000, 1000));
    const auto p = SR::screenPlacement(s, {2000, 1000}, {2000, 1000});
    ASSERT_TRUE(o.chrome);
    EXPECT_EQ(o.chrome->extent().x, p.target.x);
    EXPECT_EQ(o.chrome->extent().maxY(), p.target.maxY());
    EXPECT_EQ(o.chrome->extent().height, std::round(p.barH));
    EXPECT_FALSE(o.border);
}

// Opacity of the border image along its middle row, from the left edge.
std::vector<int> leftEdgeAlpha(const ImageRef &img, int n) {
    std::vector<int> a;
    const int row = img->bitmap().height() / 2;
    for (int i = 0; i < n; ++i) a.push_back(img->bitmap().row(row)[4 * i + 3]);
    return a;
}

TEST(Border, LineWidthFollowsTheFrameWidth) {
    struct Case {
        double width;
        std::vector<int> alpha; // 0.55 × coverage × 255
    } cases[] = {
        {1000, {140, 70, 0}},      // 1.5 wide: one and a half pixels
        {2000, {140, 140, 56, 0}}, // 2.4 wide
    };
    for (const auto &c : cases) {
        EXPECT_DOUBLE_EQ(SR::borderLineWidth(c.width), c.width == 1000 ? 1.5 : 2.4);
        const auto img = SR::borderImage({5, 7, c.width, 300}, 12);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->extent(), (Rect{5, 7, c.width, 300}));
        const auto got = leftEdgeAlpha(img, int(c.alpha.size()));
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], c.alpha[i], 3) << c.width << " column " << i;
        // White: colour equals opacity (premultiplied).
        EXPECT_EQ(img->bitmap().row(150)[0], img->bitmap().row(150)[3]);
    }
}

TEST(Border, OversizedRadiusIsClampedForTheFrameAndThePath) {
    Edits::Scene s = shadowScene();
    s.shadowStrength = 0;
    s.frameRadius = 500;
    s.showBorder = true;
    const auto o = SR::staticOverlays(s, {188, 88}, {200, 100}, white(200, 100));
    EXPECT_DOUBLE_EQ(o.radius, 40); // half of the 80-high frame
    ASSERT_TRUE(o.border);
    // A half-circle end: the stroke crosses the middle row at the very left...
    EXPECT_GT(o.border->bitmap().row(40)[3], 100);
    // ...and the frame's corner pixel lies outside the rounded path.
    EXPECT_EQ(o.border->bitmap().row(0)[3], 0);
    EXPECT_DOUBLE_EQ(SR::staticOverlayRadius(s, {188, 88}, {200, 100}), 40);
}

TEST(ChromeCache, DropsTheLeastRecentlyUsedOverItsByteLimit) {
    SR::ChromeCache cache(3 * 64 * 64 * 4); // three 64 × 64 images
    auto key = [](int i) { return SR::ChromeKey{SR::chrome_key::RoundMask{i, 64, 0}}; };
    auto img = [] { return platform::Image::solid(64, 64, 1, 0, 0, 1); };
    for (int i = 0; i < 3; ++i) cache.image(key(i), img);
    EXPECT_TRUE(cache.lookup(key(0))); // 0 is now the most recent; 1 the least
    cache.image(key(3), img);
    EXPECT_FALSE(cache.lookup(key(1)));
    EXPECT_TRUE(cache.lookup(key(0)));
    EXPECT_TRUE(cache.lookup(key(2)));
    EXPECT_TRUE(cache.lookup(key(3)));
    auto st = cache.stats();
    EXPECT_EQ(st.entries, 3u);
    EXPECT_LE(st.bytes, cache.byteLimit());
    EXPECT_EQ(st.evictions, 1u);
    EXPECT_EQ(st.renders, 4u);
    cache.setByteLimit(64 * 64 * 4);
    EXPECT_EQ(cache.stats().entries, 1u);
    EXPECT_TRUE(cache.lookup(key(3)));
    // A miss that renders nothing stores nothing.
    EXPECT_FALSE(cache.image(key(9), [] { return ImageRef(); }));
    EXPECT_FALSE(cache.lookup(key(9)));
}

TEST(ChromeCache, KeysOfDifferentKindsOrFieldsDiffer) {
    SR::ChromeCache cache;
    using namespace SR::chrome_key;
    const SR::ChromeKey keys[] = {Border{10, 10, 150, 4},  Border{10, 10, 150, 5},
                                  ChromeBar{10, 10, true}, ChromeBar{10, 10, false},
                                  Caption{"a", 1, 1, 1},   Caption{"b", 1, 1, 1},
                                  RoundMask{10, 10, 4},    Triangle{10, 10}};
    int n = 0;
    for (const auto &k : keys)
        cache.image(k, [&] { return platform::Image::solid(1 + n++, 1, 0, 0, 0); });
    EXPECT_EQ(cache.stats().entries, std::size(keys));
    EXPECT_EQ(SR::keyNumber(100.4), 100);
    EXPECT_EQ(SR::keyNumber(100.5), 101);
    EXPECT_EQ(SR::keyNumber(-100.5), -101); // halves away from zero
}

} // namespace
} // namespace qv
