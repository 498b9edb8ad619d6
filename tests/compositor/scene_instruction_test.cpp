// The scene instruction: what it tells the frame machinery, and that it keeps every argument.
#include "Compositor/engine/scene_instruction.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using platform::media::TrackID;
using testing::makeInstruction;

TEST(SceneInstruction, RequiredTracksListTheScreenThenTheWebcam) {
    struct Case {
        TrackID screen;
        std::optional<TrackID> webcam;
        std::vector<TrackID> required;
    } cases[] = {
        {7, std::nullopt, {7}}, {7, 9, {7, 9}},
        {7, 3, {7, 3}}, // screen first even when the webcam's ID is smaller
        {7, 0, {7, 0}}, // 0 is still a webcam track
        {0, std::nullopt, {0}},
    };
    for (const auto &c : cases) {
        const auto I = makeInstruction({.webcamTrackID = c.webcam, .screenTrackID = c.screen});
        ASSERT_TRUE(I->requiredSourceTrackIDs());
        EXPECT_EQ(*I->requiredSourceTrackIDs(), c.required)
            << "screen " << c.screen << ", webcam " << c.webcam.value_or(-1);
        EXPECT_EQ(I->screenTrackID(), c.screen);
        EXPECT_EQ(I->webcamTrackID(), c.webcam);
        // Every frame differs and none is passed through.
        EXPECT_EQ(I->passthroughTrackID(), 0);
        EXPECT_TRUE(I->containsTweening());
        EXPECT_FALSE(I->enablePostProcessing());
    }
}

TEST(SceneInstruction, KeepsEveryArgument) {
    const platform::media::TimeRange range{{1500, 1000}, {4200, 600}};
    Edits edits = testing::flatEdits("#abcdef");
    edits.zooms = {Edits::Zoom{100, 2000, 1.5, 1, 0.25, 0.75}};
    edits.masks = {Edits::Mask{"secret", 10, 20, Edits::MaskStyle::blur, {{10, 0, 0, 0.5, 0.5}}}};
    const SegmentMap segments({{5000, 9000, 2.0, 0}});
    const ZoomPath zoom(edits.zooms, {640, 360});
    const std::vector<CursorSample> cursor{{0, 0.1, 0.2}, {16, 0.3, 0.4}};
    const std::vector<CursorKindSample> kinds{{0, "arrow"}, {40, "iBeam"}};
    const std::vector<CursorSample> clicks{{33, 0.5, 0.6}};
    const std::vector<KeyChord> chords{{70, "⌘C"}};
    const auto background = platform::Image::solid(4, 4, 1, 0, 0);
    const WindowCrop crop{1280, 720, "maxObserved", {{0, 10, 20, 300, 200}}};

    const SceneInstruction I(range, 11, 12, edits, {1280, 720}, {640, 360}, segments, zoom, cursor,
                             kinds, clicks, chords, false, background, crop);
    EXPECT_EQ(I.timeRange(), range);
    EXPECT_EQ(I.screenTrackID(), 11);
    EXPECT_EQ(I.webcamTrackID(), 12);
    EXPECT_EQ(I.edits(), edits);
    EXPECT_EQ(I.renderSize(), (Size{1280, 720}));
    EXPECT_EQ(I.screenSize(), (Size{640, 360}));
    EXPECT_EQ(I.segmentMap(), segments);
    EXPECT_EQ(I.zoomPath(), zoom);
    EXPECT_EQ(I.cursorPath(), cursor);
    EXPECT_EQ(I.cursorKinds(), kinds);
    EXPECT_EQ(I.clicks(), clicks);
    EXPECT_EQ(I.keyChords(), chords);
    EXPECT_FALSE(I.cursorSynthetic());
    EXPECT_EQ(I.backgroundImage(), background); // the same image object
    ASSERT_NE(I.windowCrop(), nullptr);
    EXPECT_EQ(*I.windowCrop(), crop);

    const SceneInstruction bare(range, 1, std::nullopt, edits, {64, 48}, {64, 48}, SegmentMap{},
                                ZoomPath{}, {}, {}, {}, {}, true, nullptr, std::nullopt);
    EXPECT_TRUE(bare.cursorSynthetic());
    EXPECT_EQ(bare.backgroundImage(), nullptr);
    EXPECT_FALSE(bare.windowCrop());
    EXPECT_FALSE(bare.webcamTrackID());
    EXPECT_TRUE(bare.segmentMap().isIdentity());
}

} // namespace
} // namespace qv
