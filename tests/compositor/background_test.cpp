// Backgrounds as pictures: gradient directions, the supplied-picture fill, the fallbacks.
#include "Compositor/scene/background.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using platform::ImageRef;
using RGB3 = std::array<int, 3>;
namespace SR = SceneRenderer;

Edits::Scene gradientScene(double angle) {
    Edits::Scene s;
    s.backgroundKind = Edits::BackgroundKind::gradient;
    s.gradientFrom = "#000000";
    s.gradientTo = "#FFFFFF";
    s.gradientAngle = angle;
    return s;
}

int grey(const ImageRef &img, int x, int row) {
    return testing::rgbAt(img->bitmap(), x, row)[0];
}

TEST(Background, GradientAtZeroDegreesRunsLeftToRight) {
    const auto bg = SR::buildBackground(gradientScene(0), {100, 40}, nullptr);
    ASSERT_TRUE(bg);
    EXPECT_EQ(bg->extent(), (Rect{0, 0, 100, 40}));
    for (int row : {0, 20, 39}) {
        EXPECT_NEAR(grey(bg, 0, row), 1, 1);    // centre 0.5 of 100: 0.005 of the way
        EXPECT_NEAR(grey(bg, 49, row), 126, 1); // 49.5 / 100
        EXPECT_NEAR(grey(bg, 99, row), 253, 1);
        EXPECT_NEAR(grey(bg, 30, row), grey(bg, 30, 0), 1); // along x only (dither aside)
    }
}

TEST(Background, GradientAtNinetyDegreesRunsBottomToTop) {
    const auto bg = SR::buildBackground(gradientScene(90), {40, 100}, nullptr);
    ASSERT_TRUE(bg);
    for (int x : {0, 20, 39}) {
        EXPECT_NEAR(grey(bg, x, 99), 1, 1);               // bottom row: the start colour
        EXPECT_NEAR(grey(bg, x, 0), 253, 1);              // top row: the end colour
        EXPECT_NEAR(grey(bg, x, 50), 126, 1);             // y-up centre 49.5
        EXPECT_NEAR(grey(bg, x, 70), grey(bg, 0, 70), 1); // along y only
    }
}

TEST(Background, SolidAndTheSuppliedKindWithoutAPicture) {
    Edits::Scene s;
    s.backgroundKind = Edits::BackgroundKind::solid;
    s.backgroundColor = "#336699";
    const auto solid = SR::buildBackground(s, {8, 6}, nullptr);
    EXPECT_TRUE(testing::rgbNear(solid->bitmap(), 4, 3, {0x33, 0x66, 0x99}, 0));
    s.backgroundKind = Edits::BackgroundKind::image;
    const auto fallback = SR::buildBackground(s, {8, 6}, nullptr);
    EXPECT_TRUE(testing::rgbNear(fallback->bitmap(), 7, 5, {0x33, 0x66, 0x99}, 0));
    s.backgroundColor = "not a colour";
    EXPECT_TRUE(
        testing::rgbNear(SR::buildBackground(s, {8, 6}, nullptr)->bitmap(), 0, 0, {0, 0, 0}, 0));
}

// Rows 0-7 red, 8-21 green, 22-29 blue of a 40 × 30 picture, on a 160 × 90 canvas: scaled by 4
// to 160 × 120, 15 rows cut at the top and 15 at the bottom.
TEST(Background, AFourByThreePictureFillsSixteenByNineCroppedEquallyTopAndBottom) {
    auto pb = platform::PixelBuffer::create(40, 30, platform::PixelFormat::bgra8);
    for (int j = 0; j < 30; ++j)
        for (int i = 0; i < 40; ++i) {
            std::uint8_t *p = pb->row(j) + 4 * i;
            p[0] = j >= 22 ? 255 : 0, p[1] = j >= 8 && j < 22 ? 255 : 0, p[2] = j < 8 ? 255 : 0;
            p[3] = 255;
        }
    Edits::Scene s;
    s.backgroundKind = Edits::BackgroundKind::image;
    const auto bg = SR::buildBackground(s, {160, 90}, platform::Image::make(pb));
    ASSERT_TRUE(bg);
    ASSERT_EQ(bg->extent(), (Rect{0, 0, 160, 90}));
    int redRows = 0, blueRows = 0;
    for (int row = 0; row < 90; ++row) {
        const auto c = testing::rgbAt(bg->bitmap(), 80, row);
        redRows += c[0] > 127;
        blueRows += c[2] > 127;
        EXPECT_EQ(bg->bitmap().row(row)[4 * 80 + 3], 255);
    }
    // Source row 8 lands 8 × 4 − 15 = 17 rows below the top; row 22 lands 17 rows above the
    // bottom.
    EXPECT_EQ(redRows, 17);
    EXPECT_EQ(blueRows, 17);
    // The whole width is used: both edge columns show the picture, not a border.
    EXPECT_TRUE(testing::rgbNear(bg->bitmap(), 0, 45, {0, 255, 0}, 0));
    EXPECT_TRUE(testing::rgbNear(bg->bitmap(), 159, 45, {0, 255, 0}, 0));
}

TEST(Background, AnUnknownWallpaperUsesTheFirstPreset) {
    Edits::Scene s;
    s.backgroundKind = Edits::BackgroundKind::wallpaper;
    s.wallpaperId = "no-such-wallpaper";
    const auto unknown = SR::buildBackground(s, {48, 27}, nullptr);
    s.wallpaperId = Edits::wallpaperPresets().front().id;
    const auto first = SR::buildBackground(s, {48, 27}, nullptr);
    ASSERT_TRUE(unknown && first);
    EXPECT_EQ(unknown, first); // the same cached wallpaper
}

TEST(Background, NothingForACanvasUnderOnePixel) {
    EXPECT_FALSE(SR::buildBackground(Edits::Scene{}, {0.5, 10}, nullptr));
    EXPECT_FALSE(SR::buildBackground(Edits::Scene{}, {std::nan(""), 10}, nullptr));
}

} // namespace
} // namespace qv
