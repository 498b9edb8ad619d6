// Click decorations: timing, nearest click, scale and the three styles' curves.
#include "Compositor/scene/click_effects.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qv {
namespace {

using SceneRenderer::clickEffectAt;
using SceneRenderer::ClickFX;
using Style = Edits::ClickEffect;

const Size k1080{1920, 1080};

TEST(ClickEffects, AtTheClickEachStyleStartsFromItsTable) {
    const std::vector<CursorSample> clicks{{1000, 0.5, 0.25}};
    struct Row {
        Style style;
        ClickFX::Kind kind;
        double radius, lineWidth, alpha;
    } rows[] = {{Style::ring, ClickFX::Kind::ring, 26, 5, 0.6},
                {Style::ripple, ClickFX::Kind::ripple, 14, 0, 0.3},
                {Style::shockwave, ClickFX::Kind::shockwave, 24, 3, 0.75}};
    for (const Row &r : rows) {
        const auto fx = clickEffectAt(r.style, clicks, 1000, k1080, {10, 20});
        ASSERT_TRUE(fx);
        EXPECT_EQ(fx->kind, r.kind);
        EXPECT_DOUBLE_EQ(fx->radius, r.radius);
        EXPECT_DOUBLE_EQ(fx->lineWidth, r.lineWidth);
        EXPECT_DOUBLE_EQ(fx->alpha, r.alpha);
        EXPECT_EQ(fx->center, (Point{960 - 10, 810 - 20}));
    }
}

TEST(ClickEffects, FadesOutOverItsDuration) {
    const std::vector<CursorSample> clicks{{0, 0.5, 0.5}};
    EXPECT_FALSE(clickEffectAt(Style::ring, clicks, 470, k1080, {}));
    const auto faint = clickEffectAt(Style::ring, clicks, 469, k1080, {});
    ASSERT_TRUE(faint);
    EXPECT_NEAR(faint->alpha, 0.6 / 470, 1e-12);
    EXPECT_NEAR(faint->radius, 26 + 130 * 469.0 / 470, 1e-9);
    EXPECT_FALSE(clickEffectAt(Style::shockwave, clicks, 320, k1080, {}));
    const auto ripple = clickEffectAt(Style::ripple, clicks, 235, k1080, {});
    EXPECT_NEAR(ripple->alpha, 0.3 * 0.25, 1e-12);
    const auto shock = clickEffectAt(Style::shockwave, clicks, 160, k1080, {});
    EXPECT_NEAR(shock->alpha, 0.75 * std::pow(0.5, 1.6), 1e-12);
}

TEST(ClickEffects, BeforeTheClickMirrorsAfterIt) {
    const std::vector<CursorSample> clicks{{1000, 0.3, 0.3}};
    EXPECT_EQ(clickEffectAt(Style::shockwave, clicks, 800, k1080, {}),
              clickEffectAt(Style::shockwave, clicks, 1200, k1080, {}));
}

TEST(ClickEffects, NearestClickWinsAndTiesGoToTheEarlier) {
    const std::vector<CursorSample> clicks{{1000, 0.1, 0.1}, {1100, 0.9, 0.9}};
    const auto near = clickEffectAt(Style::ring, clicks, 1040, k1080, {});
    EXPECT_NEAR(near->center.x, 192, 1e-9);
    const auto tie = clickEffectAt(Style::ring, clicks, 1050, k1080, {});
    EXPECT_NEAR(tie->center.x, 192, 1e-9);
    const auto later = clickEffectAt(Style::ring, clicks, 1060, k1080, {});
    EXPECT_NEAR(later->center.x, 1728, 1e-9);
}

TEST(ClickEffects, ScaleFollowsTheSourceHeightWithAFloor) {
    const std::vector<CursorSample> clicks{{0, 0.5, 0.5}};
    const std::pair<double, double> heights[] = {{720, 720 / 1080.0}, {300, 0.4}, {2160, 2.0}};
    for (auto [h, k] : heights) {
        const auto fx = clickEffectAt(Style::ring, clicks, 0, {h * 16 / 9, h}, {});
        EXPECT_NEAR(fx->radius, 26 * k, 1e-9) << h;
        EXPECT_NEAR(fx->lineWidth, std::max(5 * k, 2.0), 1e-9) << h;
    }
}

TEST(ClickEffects, NothingWithoutAStyleOrClicks) {
    EXPECT_FALSE(clickEffectAt(Style::none, {{0, 0.5, 0.5}}, 0, k1080, {}));
    EXPECT_FALSE(clickEffectAt(Style::ring, {}, 0, k1080, {}));
}

} // namespace
} // namespace qv
