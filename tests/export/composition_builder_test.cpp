// The composition builder: render size, automatic zoom centres, the composed asset and its
// instructions from a recording folder, and its failures.
#include "Cutbench/composition_builder.h"

#include "Compositor/engine/scene_instruction.h"
#include "export_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

namespace media = platform::media;
using testing::spit;

TEST(RenderSize, KeepsTheSourceFitsInto4KAndRoundsToEvenPixels) {
    using CompositionBuilder::renderSize;
    EXPECT_EQ(renderSize({1920, 1080}), (Size{1920, 1080}));
    EXPECT_EQ(renderSize({2880, 1800}), (Size{2880, 1800}));
    EXPECT_EQ(renderSize({5120, 2880}), (Size{3840, 2160}));
    EXPECT_EQ(renderSize({4000, 3000}), (Size{2880, 2160}));
    EXPECT_EQ(renderSize({1080, 1920}), (Size{1080, 1920}));
    EXPECT_EQ(renderSize({2160, 7680}), (Size{1080, 3840}));
    EXPECT_EQ(renderSize({1001, 601}), (Size{1000, 600}));
    EXPECT_EQ(renderSize({1, 1}), (Size{2, 2}));
    EXPECT_EQ(renderSize({0, 100}), (Size{2, 2}));
    EXPECT_EQ(renderSize({std::nan(""), 100}), (Size{2, 2}));
}

TEST(CentredZooms, AutomaticZoomsFollowThePointerAndManualOnesStay) {
    const std::vector<CursorSample> path = {{0, 0.1, 0.2}, {2000, 0.5, 0.6}, {5000, 0.9, 0.9}};
    std::vector<Edits::Zoom> zooms = {
        {1000, 2000, 2, 0, 0.5, 0.5}, // [1000, 3000): half at (0.1, 0.2), half at (0.5, 0.6)
        {1000, 2000, 2, 1, 0.7, 0.7}, // by hand
        {6000, 1000, 2, 0, 0.5, 0.5}, // after the last sample: it stays where it was
        {100, 0, 2, 0, 0.5, 0.5},     // no duration: the position at its start
    };
    const auto out = CompositionBuilder::centredZooms(zooms, path);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_NEAR(out[0].centerX, 0.3, 1e-12);
    EXPECT_NEAR(out[0].centerY, 0.4, 1e-12);
    EXPECT_EQ(out[1], zooms[1]);
    EXPECT_DOUBLE_EQ(out[2].centerX, 0.9);
    EXPECT_DOUBLE_EQ(out[3].centerX, 0.1);
    // Before any sample: unchanged.
    const auto early =
        CompositionBuilder::centredZooms({{0, 500, 2, 0, 0.4, 0.4}}, {{1000, 0.9, 0.9}});
    EXPECT_DOUBLE_EQ(early[0].centerX, 0.4);
    EXPECT_TRUE(CompositionBuilder::centredZooms(zooms, {}) == zooms);
}

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        plan_.fps = 25;
        plan_.seconds = 2;
        testing::makeRecording(dir_.path(), plan_);
        meta_ = RecordingMeta::read(dir_.path()).value();
    }
    testing::TempDir dir_;
    testing::RecordingPlan plan_;
    RecordingMeta meta_;
};

TEST_F(BuilderTest, BuildsTheAssetTheInstructionsAndTheTracks) {
    // The pointer was recorded at twice the pixel size (a scaled display); clicks without a
    // recorded size take the metadata's.
    spit(dir_.path() / "cursor.json",
         R"({"samples":[{"tMs":1200,"x":160,"y":96,"screenW":320,"screenH":192,"displayId":"1"},)"
         R"({"tMs":100,"x":0,"y":0,"screenW":320,"screenH":192,"displayId":"1"}],)"
         R"("kinds":[{"tMs":0,"kind":"arrow"},{"tMs":1600,"kind":"iBeam"}]})");
    spit(dir_.path() / "clicks.json",
         R"({"clicks":[{"tMs":1300,"x":40,"y":24,"screenW":0,"screenH":0,"displayId":"1",)"
         R"("button":"left"}]})");
    spit(dir_.path() / "keys.json", R"({"keys":[{"tMs":1700,"chord":"⌘S"}]})");
    Edits edits;
    edits.cuts.push_back({500, 1000});
    edits.speeds.push_back({1500, 2000, 2});
    edits.zooms.push_back({1100, 600, 2, 0, 0.1, 0.1});
    const auto outcome = CompositionBuilder::buildNow(dir_.path(), meta_, edits);
    ASSERT_TRUE(std::holds_alternative<EditorComposition>(outcome))
        << std::get<media::MediaError>(outcome).localizedDescription;
    const EditorComposition &c = std::get<EditorComposition>(outcome);

    // [0, 500) at 1, [1000, 1500) at 1, [1500, 2000) at 2: 500 + 500 + 250 ms.
    EXPECT_EQ(c.sourceDurationMs, 2000);
    EXPECT_EQ(c.asset->durationMs, 1250);
    ASSERT_EQ(c.asset->tracks.size(), 1u);
    const media::CompositionTrack &screen = c.asset->tracks[0];
    EXPECT_EQ(screen.trackID, CompositionTrackID::screen);
    EXPECT_EQ(screen.file, dir_.path() / "screen.mp4");
    ASSERT_EQ(screen.segments.size(), 3u); // [1000, 1500) and [1500, 2000) differ in rate
    EXPECT_EQ(screen.sourceTimeMs(499), 499);
    EXPECT_EQ(screen.sourceTimeMs(500), 1000);
    EXPECT_EQ(screen.sourceTimeMs(1100), 1700);
    EXPECT_TRUE(c.audioMix->inputParameters.empty());

    const auto &v = *c.videoComposition;
    EXPECT_EQ(v.renderSize, (Size{160, 96}));
    EXPECT_EQ(v.frameDuration, (media::Time{1, 25}));
    ASSERT_TRUE(v.customVideoCompositor);
    EXPECT_TRUE(v.customVideoCompositor());
    // One instruction per segment, back to back over the whole timeline.
    std::int64_t next = 0;
    for (const auto &i : v.instructions) {
        const auto range = i->timeRange();
        EXPECT_EQ(range.start, (media::Time{next, 1000}));
        next += range.duration.value;
    }
    EXPECT_EQ(v.instructions.size(), 3u);
    EXPECT_EQ(next, 1250);
    EXPECT_EQ(v.instruction({1249, 1000}), v.instructions.back());
    EXPECT_FALSE(v.instruction({1250, 1000}));

    auto scene = std::dynamic_pointer_cast<const SceneInstruction>(v.instructions.back());
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->screenTrackID(), CompositionTrackID::screen);
    EXPECT_FALSE(scene->webcamTrackID());
    EXPECT_EQ(scene->screenSize(), (Size{160, 96}));
    EXPECT_EQ(scene->renderSize(), (Size{160, 96}));
    EXPECT_EQ(scene->segmentMap().timelineDurationMs(), 1250);
    // Sorted by time and normalised by the size recorded with each sample.
    ASSERT_EQ(scene->cursorPath().size(), 2u);
    EXPECT_EQ(scene->cursorPath()[0], (CursorSample{100, 0, 0}));
    EXPECT_EQ(scene->cursorPath()[1], (CursorSample{1200, 0.5, 0.5}));
    ASSERT_EQ(scene->clicks().size(), 1u);
    EXPECT_EQ(scene->clicks()[0], (CursorSample{1300, 0.25, 0.25}));
    ASSERT_EQ(scene->cursorKinds().size(), 2u);
    EXPECT_EQ(scene->cursorKinds()[1].kind, "iBeam");
    ASSERT_EQ(scene->keyChords().size(), 1u);
    EXPECT_EQ(scene->keyChords()[0].text, "⌘S");
    EXPECT_TRUE(scene->cursorSynthetic());
    // The automatic zoom is centred on the pointer ((0, 0) until 1200, then the centre).
    ASSERT_TRUE(c.zoomPath.hasZoom());
    const auto t = c.zoomPath.transform(1400);
    ASSERT_TRUE(t);
    EXPECT_NEAR(t->cx, (100.0 / 600 * 0 + 500.0 / 600 * 0.5) * 160, 1e-9);
    EXPECT_EQ(scene->zoomPath(), c.zoomPath);
}

// A window recording's screen is the window: the canvas and the screen take its canonical size,
// and track positions move into the window as it lay at their time.
TEST_F(BuilderTest, AWindowRecordingsScreenIsTheWindow) {
    // The capture is 160 × 96; the window is 40 × 30 at (20, 10), then 80 × 48 at (60, 40).
    for (const char *mode : {"initial", "maxObserved"}) {
        SCOPED_TRACE(mode);
        spit(dir_.path() / "crop.json",
             std::string(R"({"captureWidth":160,"captureHeight":96,"canvasMode":")") + mode +
                 R"(","samples":[{"tMs":0,"x":20,"y":10,"width":40,"height":30},)"
                 R"({"tMs":1000,"x":60,"y":40,"width":80,"height":48}]})");
        spit(
            dir_.path() / "cursor.json",
            R"({"samples":[{"tMs":500,"x":30,"y":25,"screenW":160,"screenH":96,"displayId":"1"},)"
            R"({"tMs":1500,"x":100,"y":64,"screenW":160,"screenH":96,"displayId":"1"}],"kinds":[]})");
        meta_.windowCropFile = "crop.json";
        const auto outcome = CompositionBuilder::buildNow(dir_.path(), meta_, Edits::defaults());
        ASSERT_TRUE(std::holds_alternative<EditorComposition>(outcome))
            << std::get<media::MediaError>(outcome).localizedDescription;
        const auto &v = *std::get<EditorComposition>(outcome).videoComposition;
        auto scene = std::dynamic_pointer_cast<const SceneInstruction>(v.instructions.front());
        ASSERT_TRUE(scene);
        const bool largest = std::string(mode) == "maxObserved";
        const Size window = largest ? Size{80, 48} : Size{40, 30};
        EXPECT_EQ(scene->screenSize(), window);
        EXPECT_EQ(v.renderSize, window);
        ASSERT_EQ(scene->cursorPath().size(), 2u);
        // (30, 25) is (10, 15) inside the first window; (100, 64) is (40, 24) inside the second.
        const CursorSample first = scene->cursorPath()[0], second = scene->cursorPath()[1];
        if (largest) {
            EXPECT_DOUBLE_EQ(first.x, 10.0 / 80);
            EXPECT_DOUBLE_EQ(first.y, 15.0 / 48);
        } else {
            EXPECT_DOUBLE_EQ(first.x, 10.0 / 40);
            EXPECT_DOUBLE_EQ(first.y, 15.0 / 30);
        }
        EXPECT_DOUBLE_EQ(second.x, 40.0 / 80);
        EXPECT_DOUBLE_EQ(second.y, 24.0 / 48);
    }
}

TEST_F(BuilderTest, ATrackFileOrCropThatCannotBeReadFailsTheBuildNamingIt) {
    spit(dir_.path() / "clicks.json", "{broken");
    auto outcome = CompositionBuilder::buildNow(dir_.path(), meta_, Edits::defaults());
    const auto *error = std::get_if<media::MediaError>(&outcome);
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedDescription.find("clicks.json"), std::string::npos)
        << error->localizedDescription;
    std::filesystem::remove(dir_.path() / "clicks.json");

    meta_.windowCropFile = "crop.json";
    outcome = CompositionBuilder::buildNow(dir_.path(), meta_, Edits::defaults());
    error = std::get_if<media::MediaError>(&outcome);
    ASSERT_TRUE(error) << "a crop file the metadata names must be there";
    EXPECT_NE(error->localizedDescription.find("crop.json"), std::string::npos)
        << error->localizedDescription;
}

TEST_F(BuilderTest, ALengthBeyondTheVideoIsTheVideosLength) {
    meta_.durationMs = 60000;
    const auto outcome = CompositionBuilder::buildNow(dir_.path(), meta_, Edits::defaults());
    ASSERT_TRUE(std::holds_alternative<EditorComposition>(outcome));
    const auto &c = std::get<EditorComposition>(outcome);
    EXPECT_NEAR(double(c.sourceDurationMs), plan_.seconds * 1000, 50);
}

TEST_F(BuilderTest, MicrophoneTrackAndAudioMix) {
    plan_.microphone = true;
    testing::writeMicrophone(dir_.path() / "mic.m4a", plan_);
    meta_.hasMicrophone = true;
    const auto outcome = CompositionBuilder::buildNow(dir_.path(), meta_, Edits::defaults());
    ASSERT_TRUE(std::holds_alternative<EditorComposition>(outcome));
    const auto &c = std::get<EditorComposition>(outcome);
    const auto audio = c.asset->tracksWithMediaType(media::MediaType::audio);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0]->file, dir_.path() / "mic.m4a");
    EXPECT_EQ(audio[0]->segments, c.asset->tracks[0].segments);
    ASSERT_EQ(c.audioMix->inputParameters.size(), 1u);
    EXPECT_EQ(c.audioMix->inputParameters[0].trackID, CompositionTrackID::microphone);
}

TEST_F(BuilderTest, FailuresNameTheFileAndCancellationSaysSo) {
    auto message = [](const CompositionBuilder::Outcome &o) {
        const auto *e = std::get_if<media::MediaError>(&o);
        return e ? e->localizedDescription : std::string("(no error)");
    };
    // The metadata promises sound that is not there.
    RecordingMeta withMic = meta_;
    withMic.hasMicrophone = true;
    EXPECT_NE(message(CompositionBuilder::buildNow(dir_.path(), withMic, {})).find("mic.m4a"),
              std::string::npos);
    RecordingMeta withCam = meta_;
    withCam.hasWebcam = true;
    EXPECT_NE(message(CompositionBuilder::buildNow(dir_.path(), withCam, {})).find("webcam.mp4"),
              std::string::npos);
    // Everything cut away.
    Edits empty;
    empty.trimStartMs = 5000;
    EXPECT_NE(message(CompositionBuilder::buildNow(dir_.path(), meta_, empty)).find("Nothing"),
              std::string::npos);
    // Cancelled before it starts.
    media::CancellationFlag cancelled;
    cancelled.cancel();
    const auto c = CompositionBuilder::buildNow(dir_.path(), meta_, {}, cancelled);
    ASSERT_TRUE(std::holds_alternative<media::MediaError>(c));
    EXPECT_TRUE(std::get<media::MediaError>(c).isCancellation());
    // No screen video.
    std::filesystem::remove(dir_.path() / "screen.mp4");
    const auto missing = CompositionBuilder::buildNow(dir_.path(), meta_, {});
    EXPECT_NE(message(missing).find("screen.mp4"), std::string::npos) << message(missing);
    EXPECT_FALSE(std::get<media::MediaError>(missing).isCancellation());
}

TEST_F(BuilderTest, TheAsynchronousBuildDeliversOnTheExecutorAndCanBeCancelled) {
    platform::RunLoop loop;
    std::optional<CompositionBuilder::Outcome> got;
    auto task =
        CompositionBuilder::build(dir_.path(), meta_, {}, loop, [&](CompositionBuilder::Outcome o) {
            got = std::move(o);
            loop.stop();
        });
    loop.runFor(std::chrono::seconds(30));
    ASSERT_TRUE(got);
    EXPECT_TRUE(std::holds_alternative<EditorComposition>(*got));

    got.reset();
    task =
        CompositionBuilder::build(dir_.path(), meta_, {}, loop, [&](CompositionBuilder::Outcome o) {
            got = std::move(o);
            loop.stop();
        });
    task->cancel();
    loop.runFor(std::chrono::seconds(30));
    ASSERT_TRUE(got);
    ASSERT_TRUE(std::holds_alternative<media::MediaError>(*got));
    EXPECT_TRUE(std::get<media::MediaError>(*got).isCancellation());
}

} // namespace
} // namespace qv
