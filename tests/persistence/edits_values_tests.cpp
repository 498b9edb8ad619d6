// The document's computed values: crop geometry, mask interpolation, presets and whether an
// export may copy the recording unchanged.
#include "interfaces/persistence/edits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace qv {
namespace {

struct CropCase {
    const char *name;
    Edits::Crop crop;
    Rect expected;
};

class CropGeometry : public ::testing::TestWithParam<CropCase> {};

TEST_P(CropGeometry, GivesPixelsWithTheOriginAtTheBottom) {
    const auto &c = GetParam();
    const auto g = c.crop.ciGeometry(Size{1000, 500});
    EXPECT_DOUBLE_EQ(g.ciCropRect.x, c.expected.x);
    EXPECT_DOUBLE_EQ(g.ciCropRect.y, c.expected.y);
    EXPECT_DOUBLE_EQ(g.ciCropRect.width, c.expected.width);
    EXPECT_DOUBLE_EQ(g.ciCropRect.height, c.expected.height);
    EXPECT_EQ(g.contentSize, g.ciCropRect.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CropGeometry,
    ::testing::Values(CropCase{"Whole", {0, 0, 1, 1}, {0, 0, 1000, 500}},
                      // Top-left quarter in document terms is the upper half of a y-up source.
                      CropCase{"TopLeftQuarter", {0, 0, 0.5, 0.5}, {0, 250, 500, 250}},
                      CropCase{"Inner", {0.1, 0.2, 0.5, 0.6}, {100, 100, 500, 300}},
                      CropCase{"OverhangClipped", {0.75, 0.5, 0.5, 0.8}, {750, 0, 250, 250}},
                      CropCase{"NegativeOriginClamped", {-0.5, -1, 0.5, 0.5}, {0, 250, 500, 250}},
                      CropCase{"ZeroWidthFallsBack", {0.2, 0.2, 0, 0.5}, {0, 0, 1000, 500}},
                      CropCase{"NegativeHeightFallsBack", {0, 0, 1, -0.3}, {0, 0, 1000, 500}},
                      CropCase{"OutsideFallsBack", {1.5, 0, 0.5, 1}, {0, 0, 1000, 500}},
                      CropCase{
                          "NaNFallsBack", {std::nan(""), 0, std::nan(""), 1}, {0, 0, 1000, 500}}),
    [](const ::testing::TestParamInfo<CropCase> &info) { return std::string(info.param.name); });

Edits::Mask twoKeyframes() {
    Edits::Mask m;
    m.keyframes = {{1000, 0.0, 0.2, 0.4, 0.1}, {2000, 0.5, 0.4, 0.2, 0.3}};
    return m;
}

TEST(MaskResolvedRect, HoldsBeforeTheFirstAndAfterTheLastKeyframe) {
    const auto m = twoKeyframes();
    EXPECT_EQ(m.resolvedRect(0), (Edits::Mask::Resolved{0.0, 0.2, 0.4, 0.1}));
    EXPECT_EQ(m.resolvedRect(1000), (Edits::Mask::Resolved{0.0, 0.2, 0.4, 0.1}));
    EXPECT_EQ(m.resolvedRect(2000), (Edits::Mask::Resolved{0.5, 0.4, 0.2, 0.3}));
    EXPECT_EQ(m.resolvedRect(99999), (Edits::Mask::Resolved{0.5, 0.4, 0.2, 0.3}));
}

TEST(MaskResolvedRect, InterpolatesLinearlyInTime) {
    const auto m = twoKeyframes();
    const auto quarter = m.resolvedRect(1250);
    EXPECT_DOUBLE_EQ(quarter.x, 0.125);
    EXPECT_DOUBLE_EQ(quarter.y, 0.25);
    EXPECT_DOUBLE_EQ(quarter.width, 0.35);
    EXPECT_DOUBLE_EQ(quarter.height, 0.15);
    const auto half = m.resolvedRect(1500);
    EXPECT_DOUBLE_EQ(half.x, 0.25);
    EXPECT_DOUBLE_EQ(half.height, 0.2);
}

TEST(MaskResolvedRect, UsesTimeOrderEvenWhenStoredOutOfOrder) {
    Edits::Mask m;
    m.keyframes = {{2000, 1, 1, 1, 1}, {0, 0, 0, 0, 0}, {1000, 0.5, 0.5, 0.5, 0.5}};
    EXPECT_EQ(m.resolvedRect(-5), (Edits::Mask::Resolved{0, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(m.resolvedRect(500).x, 0.25);
    EXPECT_DOUBLE_EQ(m.resolvedRect(1500).x, 0.75);
    EXPECT_EQ(m.resolvedRect(3000), (Edits::Mask::Resolved{1, 1, 1, 1}));
}

TEST(MaskResolvedRect, SingleKeyframeHoldsAndNoneGivesEmpty) {
    Edits::Mask one;
    one.keyframes = {{500, 0.1, 0.2, 0.3, 0.4}};
    EXPECT_EQ(one.resolvedRect(0), (Edits::Mask::Resolved{0.1, 0.2, 0.3, 0.4}));
    EXPECT_EQ(one.resolvedRect(900), (Edits::Mask::Resolved{0.1, 0.2, 0.3, 0.4}));
    EXPECT_EQ(Edits::Mask{}.resolvedRect(0), Edits::Mask::Resolved{});
}

TEST(WallpaperPresets, AreOrderedUniqueAndCoverEveryKind) {
    const auto &presets = Edits::wallpaperPresets();
    ASSERT_FALSE(presets.empty());
    std::set<std::string> ids;
    std::set<int> kinds;
    for (const auto &p : presets) {
        EXPECT_TRUE(ids.insert(p.id).second) << "duplicate id " << p.id;
        kinds.insert(p.kind);
        EXPECT_FALSE(p.colors.empty()) << p.id;
        for (const auto &c : p.colors) {
            EXPECT_EQ(c.size(), 7u) << p.id;
            EXPECT_EQ(c[0], '#') << p.id;
        }
        EXPECT_EQ(p.pictureName.has_value(), p.kind == 3) << p.id;
    }
    EXPECT_EQ(kinds, (std::set<int>{0, 1, 2, 3}));
    EXPECT_EQ(Edits::defaults().scene.wallpaperId, presets.front().id);
}

// The defaults, with every look-changing option switched off.
Edits neutral() {
    Edits e = Edits::defaults();
    e.scene.paddingPercent = 0;
    e.scene.frameRadius = 0;
    e.scene.webcamPosition = Edits::WebcamPosition::hidden;
    e.scene.clickEffect = Edits::ClickEffect::none;
    e.scene.cursorSize = 0;
    e.scene.showKeystrokes = false;
    return e;
}

TEST(Passthrough, DefaultDocumentIsNotEligible) {
    EXPECT_FALSE(Edits::defaults().isPassthroughEligible(10000));
}

TEST(Passthrough, NeutralDocumentIsEligible) {
    EXPECT_TRUE(neutral().isPassthroughEligible(10000));
    Edits unchangedTrim = neutral();
    unchangedTrim.trimEndMs = 10000;
    unchangedTrim.speeds = {{0, 5000, 1}};
    unchangedTrim.scene.backgroundKind = Edits::BackgroundKind::solid; // hidden behind the frame
    EXPECT_TRUE(unchangedTrim.isPassthroughEligible(10000));
}

struct SingleChange {
    const char *name;
    void (*apply)(Edits &);
};

class PassthroughBrokenBy : public ::testing::TestWithParam<SingleChange> {};

TEST_P(PassthroughBrokenBy, OneChange) {
    Edits e = neutral();
    GetParam().apply(e);
    EXPECT_FALSE(e.isPassthroughEligible(10000));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PassthroughBrokenBy,
    ::testing::Values(
        SingleChange{"TrimStart", [](Edits &e) { e.trimStartMs = 1; }},
        SingleChange{"TrimEnd", [](Edits &e) { e.trimEndMs = 9999; }},
        SingleChange{"Cut",
                     [](Edits &e) {
                         e.cuts = {{100, 200}};
                     }},
        SingleChange{"Speed",
                     [](Edits &e) {
                         e.speeds = {{0, 100, 2}};
                     }},
        SingleChange{"Zoom", [](Edits &e) { e.zooms = {Edits::Zoom{}}; }},
        SingleChange{"Mask", [](Edits &e) { e.masks = {Edits::Mask{}}; }},
        SingleChange{"Caption", [](Edits &e) { e.captions = {Edits::Caption{}}; }},
        SingleChange{"CameraBlock", [](Edits &e) { e.cameraBlocks = {Edits::CameraBlock{}}; }},
        SingleChange{"CropX", [](Edits &e) { e.scene.crop.x = 0.1; }},
        SingleChange{"CropHeight", [](Edits &e) { e.scene.crop.height = 0.9; }},
        SingleChange{"Padding", [](Edits &e) { e.scene.paddingPercent = 0.5; }},
        SingleChange{"PaddingNaN", [](Edits &e) { e.scene.paddingPercent = std::nan(""); }},
        SingleChange{"FrameRadius", [](Edits &e) { e.scene.frameRadius = 1; }},
        SingleChange{"Chrome", [](Edits &e) { e.scene.chromeStyle = Edits::ChromeStyle::minimal; }},
        SingleChange{"Border", [](Edits &e) { e.scene.showBorder = true; }},
        SingleChange{"Webcam",
                     [](Edits &e) { e.scene.webcamPosition = Edits::WebcamPosition::full; }},
        SingleChange{"ClickEffect",
                     [](Edits &e) { e.scene.clickEffect = Edits::ClickEffect::ring; }},
        SingleChange{"Cursor", [](Edits &e) { e.scene.cursorSize = 1; }},
        SingleChange{"Keystrokes", [](Edits &e) { e.scene.showKeystrokes = true; }}),
    [](const ::testing::TestParamInfo<SingleChange> &info) {
        return std::string(info.param.name);
    });

} // namespace
} // namespace qv
