// The webcam bubble in exported movies: where it sits, its shape, a layout change over a camera
// block, and a camera stream shorter than the screen's.
#include "export_fixtures.h"

#include <gtest/gtest.h>

namespace qv::testing {
namespace {

using Phase = ExportEngine::Phase;

class WebcamExport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveCommand("ffprobe") || !haveCommand("ffmpeg"))
            GTEST_SKIP() << "the ffprobe and ffmpeg commands are needed to inspect the movies";
    }

    // A 2 s green screen of 320 × 180 and a red camera of 64 × 48 that stops after one second.
    DecodedVideo exportWith(const std::string &edits) {
        const fs::path library = temp_.path() / "library", dir = library / "recordings" / "cam";
        RecordingPlan screen;
        screen.id = "cam";
        screen.width = 320;
        screen.height = 180;
        screen.edits = edits;
        makeRecording(dir, screen);
        RecordingPlan camera;
        camera.width = 64;
        camera.height = 48;
        camera.seconds = 1;
        camera.r = 230, camera.g = 20, camera.b = 20;
        writeScreen(dir / "webcam.mp4", camera);
        auto meta = RecordingMeta::read(dir);
        EXPECT_TRUE(meta);
        meta->hasWebcam = true;
        EXPECT_TRUE(meta->write(dir));
        EngineHarness harness(library);
        const fs::path movie = temp_.path() / "cam.mp4";
        const Phase phase = harness.run("cam", ExportPreset::compact, movie);
        EXPECT_TRUE(phase.is<Phase::Finished>()) << phase.description();
        return decodeVideo(movie);
    }

    static bool red(const DecodedVideo &v, std::size_t frame, int x, int y) {
        return near(v.pixel(frame, x, y), 230, 20, 20, 45);
    }

    TempDir temp_;
};

// No padding or decoration: the screen fills the canvas and only the bubble is not green.
constexpr const char *plainScene =
    R"("backgroundKind":"solid","backgroundColor":"#FFFFFF","paddingPercent":0,"frameRadius":0,)"
    R"("shadowStrength":0,"cursorSize":0,"clickEffect":"none","showKeystrokes":false)";

TEST_F(WebcamExport, ACornerCircleSitsAt24PixelsFromTheEdges) {
    // Corner bottom-right, size 0.25: d = 180 × 0.25 = 45 at (320 − 45 − 24, 24) y-up, that is
    // columns 251..296 and rows 111..156 from the top.
    const DecodedVideo v = exportWith(std::string(R"({"scene":{)") + plainScene +
                                      R"(,"webcamPosition":"corner-br","webcamShape":"circle",)"
                                      R"("webcamSize":0.25}})");
    ASSERT_EQ(v.width, 320);
    ASSERT_EQ(v.frames.size(), 60u);
    for (std::size_t frame : {std::size_t(0), std::size_t(45)}) { // the camera ended at 30
        SCOPED_TRACE("frame " + std::to_string(frame));
        EXPECT_TRUE(red(v, frame, 273, 133)); // the centre
        EXPECT_TRUE(red(v, frame, 254, 133)); // near the left edge, on the centre line
        // The circle leaves the square's corners to the screen.
        EXPECT_TRUE(near(v.pixel(frame, 253, 113), 20, 190, 40, 45));
        EXPECT_TRUE(near(v.pixel(frame, 240, 133), 20, 190, 40, 45)); // left of the bubble
        EXPECT_TRUE(near(v.pixel(frame, 273, 165), 20, 190, 40, 45)); // in the 24 px margin
    }
}

TEST_F(WebcamExport, ACameraBlockMovesTheBubbleWithATransition) {
    // From 1000 ms the block shows the camera "full" at size 0.2 (half the canvas, centred:
    // columns 80..240, rows 45..135), reached over 300 ms; before it, a corner square.
    const DecodedVideo v = exportWith(
        std::string(R"({"scene":{)") + plainScene +
        R"(,"webcamPosition":"corner-tl","webcamShape":"square","webcamSize":0.25,)"
        R"("webcamTransitionMs":300},"cameraBlocks":[{"id":"b","startMs":1000,"endMs":5000,)"
        R"("position":"full","shape":"square","size":0.2}]})");
    ASSERT_EQ(v.frames.size(), 60u);
    // Before: the corner square (columns 24..69, rows 24..69); the centre is screen.
    EXPECT_TRUE(red(v, 15, 46, 46));
    EXPECT_FALSE(red(v, 15, 160, 90));
    // Halfway (1150 ms, frame 34.5: frame 35 is 1166 ms, just past half): between the two.
    EXPECT_TRUE(red(v, 35, 60, 55));
    EXPECT_FALSE(red(v, 35, 230, 130));
    // From 1300 ms: the full rectangle, the corner free again.
    EXPECT_TRUE(red(v, 45, 160, 90));
    EXPECT_TRUE(red(v, 45, 85, 50));
    EXPECT_TRUE(red(v, 45, 235, 130));
    EXPECT_FALSE(red(v, 45, 30, 30));
}

// With the background removed, a camera that shows no person shows nothing: the green screen
// stays visible where the bubble would be, lightened only by the bubble's white halo.
TEST_F(WebcamExport, RemovingTheBackgroundOfAnEmptyRoomLeavesTheScreen) {
    const DecodedVideo v = exportWith(std::string(R"({"scene":{)") + plainScene +
                                      R"(,"webcamPosition":"corner-br","webcamShape":"circle",)"
                                      R"("webcamSize":0.25,"webcamRemoveBackground":true}})");
    ASSERT_EQ(v.frames.size(), 60u);
    for (std::size_t frame : {std::size_t(0), std::size_t(1), std::size_t(45)}) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        EXPECT_FALSE(red(v, frame, 273, 133));
        const std::uint8_t *p = v.pixel(frame, 273, 133);
        EXPECT_TRUE(p[1] > 180 && p[0] < 150 && p[2] < 150)
            << int(p[0]) << ", " << int(p[1]) << ", " << int(p[2]);
    }
}

} // namespace
} // namespace qv::testing
