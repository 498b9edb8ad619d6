// Whole exports through the engine, on small recordings the tests make themselves; the movies
// are inspected with the ffprobe and ffmpeg commands.
#include "export_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace qv::testing {
namespace {

using Phase = ExportEngine::Phase;

class ExportEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveCommand("ffprobe") || !haveCommand("ffmpeg"))
            GTEST_SKIP() << "the ffprobe and ffmpeg commands are needed to inspect the movies";
        library_ = temp_.path() / "library";
        out_ = temp_.path() / "out";
        fs::create_directories(out_);
    }

    fs::path recording(const RecordingPlan &plan) {
        const fs::path dir = library_ / "recordings" / plan.id;
        makeRecording(dir, plan);
        return dir;
    }

    // Files in the output folder other than the ones named.
    std::vector<std::string> strayFiles(std::initializer_list<std::string> expected) {
        std::vector<std::string> stray;
        for (const auto &entry : fs::directory_iterator(out_)) {
            const std::string name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end())
                stray.push_back(name);
        }
        return stray;
    }

    TempDir temp_;
    fs::path library_, out_;
};

struct PresetCase {
    ExportPreset preset;
    const char *codec;
    const char *tag;
    const char *brand; // the container's major brand
    const char *extension;
};

TEST_F(ExportEndToEnd, EveryPresetWritesTheExpectedMovie) {
    RecordingPlan plan;
    plan.seconds = 1;
    plan.microphone = true;
    plan.edits = framedEdits;
    recording(plan);
    EngineHarness harness(library_);
    const PresetCase cases[] = {
        {ExportPreset::web, "h264", "avc1", "isom", "mp4"},
        {ExportPreset::compact, "h264", "avc1", "isom", "mp4"},
        {ExportPreset::proRes, "prores", "apcn", "qt  ", "mov"},
        {ExportPreset::hevc, "hevc", "hvc1", "isom", "mp4"},
    };
    for (const PresetCase &c : cases) {
        SCOPED_TRACE(std::string(c.preset.rawValue()));
        const fs::path movie = out_ / (std::string("movie.") + c.extension);
        const Phase phase = harness.run("rec", c.preset, movie);
        ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
        EXPECT_EQ(phase.as<Phase::Finished>()->url, movie);
        EXPECT_EQ(probeValue(movie, "-select_streams v:0", "stream=codec_name"), c.codec);
        EXPECT_EQ(probeValue(movie, "-select_streams v:0", "stream=codec_tag_string"), c.tag);
        EXPECT_EQ(probeValue(movie, "", "format_tags=major_brand"), c.brand);
        EXPECT_EQ(probeValue(movie, "-count_frames -select_streams v:0", "stream=nb_read_frames"),
                  "30");
        EXPECT_NEAR(std::stod(probeValue(movie, "", "format=duration")), 1.0, 0.05);
        EXPECT_EQ(probeValue(movie, "-select_streams a:0", "stream=codec_name"),
                  c.preset == ExportPreset::proRes ? "pcm_s16le" : "aac");
        // 160 × 96 on a canvas of the same size: white margin, green screen inside.
        const DecodedVideo video = decodeVideo(movie);
        ASSERT_EQ(video.width, 160);
        ASSERT_EQ(video.height, 96);
        ASSERT_EQ(video.frames.size(), 30u);
        for (std::size_t f : {std::size_t(0), std::size_t(29)}) {
            EXPECT_TRUE(near(video.pixel(f, 2, 2), 255, 255, 255, 12)) << "frame " << f;
            EXPECT_TRUE(near(video.pixel(f, 80, 48), plan.r, plan.g, plan.b, 14)) << "frame " << f;
        }
    }
    EXPECT_EQ(strayFiles({"movie.mp4", "movie.mov"}), std::vector<std::string>{});
}

TEST_F(ExportEndToEnd, AnUnchangedRecordingIsCopiedPacketForPacket) {
    RecordingPlan plan;
    plan.microphone = true;
    plan.edits = untouchedEdits;
    const fs::path dir = recording(plan);
    EngineHarness harness(library_);
    const fs::path movie = out_ / "copy.mp4";
    const Phase phase = harness.run("rec", ExportPreset::web, movie);
    ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
    ASSERT_TRUE(harness.engine->session());
    EXPECT_EQ(harness.engine->session()->presetName(), "Passthrough");
    EXPECT_FALSE(harness.engine->session()->videoComposition());
    EXPECT_FALSE(harness.engine->session()->audioMix());
    // Same packets, same sizes, same order.
    const std::string entries = "packet=size,flags";
    EXPECT_EQ(probe(movie, "-select_streams v:0 -show_packets", entries),
              probe(dir / "screen.mp4", "-select_streams v:0 -show_packets", entries));
    EXPECT_EQ(probe(movie, "-select_streams a:0 -show_packets", entries),
              probe(dir / "mic.m4a", "-select_streams a:0 -show_packets", entries));

    // The same edit through another preset, or with a zoom, is composed.
    const Phase compact = harness.run("rec", ExportPreset::compact, out_ / "compact.mp4");
    ASSERT_TRUE(compact.is<Phase::Finished>()) << compact.description();
    EXPECT_EQ(harness.engine->session()->presetName(), "MediumQuality");
    EXPECT_TRUE(harness.engine->session()->videoComposition());
    std::string zoomed = untouchedEdits;
    zoomed.insert(zoomed.size() - 1, R"(,"zooms":[{"startMs":0,"durationMs":900,"scale":2}])");
    spit(dir / "edits.json", zoomed);
    const Phase withZoom = harness.run("rec", ExportPreset::web, out_ / "zoom.mp4");
    ASSERT_TRUE(withZoom.is<Phase::Finished>()) << withZoom.description();
    EXPECT_EQ(harness.engine->session()->presetName(), "HighestQuality");
    EXPECT_TRUE(harness.engine->session()->videoComposition());
}

// Onset of the first click: the first sample louder than a quarter of full scale.
std::optional<double> firstClick(const std::vector<float> &sound) {
    for (std::size_t i = 0; i < sound.size(); ++i)
        if (std::abs(sound[i]) > 0.25f) return double(i) / 48000;
    return std::nullopt;
}

std::optional<double> firstFlash(const DecodedVideo &v, double fps) {
    for (std::size_t f = 0; f < v.frames.size(); ++f)
        if (near(v.pixel(f, v.width / 2, v.height / 2), 255, 255, 255, 40)) return f / fps;
    return std::nullopt;
}

TEST_F(ExportEndToEnd, ACutKeepsSoundAndPictureTogether) {
    RecordingPlan plan;
    plan.seconds = 3;
    plan.microphone = true;
    plan.flashes = {2.5};
    std::string edits = framedEdits;
    edits.insert(edits.size() - 1, R"(,"cuts":[{"startMs":1000,"endMs":2000}])");
    plan.edits = edits;
    recording(plan);
    EngineHarness harness(library_);
    const fs::path movie = out_ / "cut.mp4";
    const Phase phase = harness.run("rec", ExportPreset::compact, movie);
    ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
    EXPECT_NEAR(std::stod(probeValue(movie, "", "format=duration")), 2.0, 0.05);
    const DecodedVideo video = decodeVideo(movie);
    EXPECT_EQ(video.frames.size(), 60u);
    const auto flash = firstFlash(video, 30);
    const auto click = firstClick(decodeAudio(movie));
    ASSERT_TRUE(flash);
    ASSERT_TRUE(click);
    // The flash was at 2.5 s of the source: 1.5 s once the second before it is cut.
    EXPECT_NEAR(*flash, 1.5, 1.0 / 30 + 1e-9);
    EXPECT_NEAR(*click, *flash, 1.0 / 30) << "flash at " << *flash << " s, click at " << *click;
}

TEST_F(ExportEndToEnd, CancellingInTheMiddleLeavesNoFile) {
    RecordingPlan plan = slowToEncode();
    plan.edits = framedEdits;
    recording(plan);
    EngineHarness harness(library_);
    const fs::path movie = out_ / "cancelled.mp4";
    bool cancelledWhileExporting = false;
    const auto id = harness.engine->observePhase([&](const Phase &p) {
        const auto *e = p.as<Phase::Exporting>();
        if (e && e->fraction > 0 && !cancelledWhileExporting) {
            cancelledWhileExporting = true;
            harness.engine->cancel();
        }
    });
    const Phase phase = harness.run("rec", ExportPreset::web, movie);
    harness.engine->removePhaseObserver(id);
    EXPECT_TRUE(cancelledWhileExporting);
    EXPECT_TRUE(phase.is<Phase::Cancelled>()) << phase.description();
    EXPECT_FALSE(fs::exists(movie));
    EXPECT_EQ(strayFiles({}), std::vector<std::string>{});
    // No progress after the cancel.
    const auto cancelledAt = std::find_if(harness.phases.begin(), harness.phases.end(),
                                          [](const Phase &p) { return p.is<Phase::Cancelled>(); });
    EXPECT_TRUE(std::none_of(cancelledAt, harness.phases.end(),
                             [](const Phase &p) { return p.is<Phase::Exporting>(); }));
}

TEST_F(ExportEndToEnd, ABrokenScreenVideoFailsReadablyAndLeavesNoFile) {
    RecordingPlan plan;
    plan.edits = framedEdits;
    const fs::path dir = recording(plan);
    const std::string good = slurp(dir / "screen.mp4");
    EngineHarness harness(library_);
    const fs::path movie = out_ / "movie.mp4";

    // Not a video at all.
    spit(dir / "screen.mp4", std::string(4000, 'x'));
    spit(movie, "an older movie");
    Phase phase = harness.run("rec", ExportPreset::web, movie);
    ASSERT_TRUE(phase.is<Phase::Failed>()) << phase.description();
    EXPECT_NE(phase.as<Phase::Failed>()->message.find("screen.mp4"), std::string::npos)
        << phase.description();
    EXPECT_EQ(slurp(movie), "an older movie"); // what was there before is kept

    // Cut off half way (its index is at the front, so it still opens).
    spit(dir / "screen.mp4", good.substr(0, good.size() / 2));
    spit(movie, "an older movie");
    phase = harness.run("rec", ExportPreset::web, movie);
    ASSERT_TRUE(phase.is<Phase::Failed>()) << phase.description();
    EXPECT_NE(phase.as<Phase::Failed>()->message.find("screen.mp4"), std::string::npos)
        << phase.description();
    EXPECT_EQ(slurp(movie), "an older movie"); // what was there before is kept
    EXPECT_EQ(strayFiles({"movie.mp4"}), std::vector<std::string>{});
}

TEST_F(ExportEndToEnd, TheRecordingsOwnFilesAreNeverTheOutput) {
    RecordingPlan plan;
    plan.seconds = 1;
    const fs::path dir = recording(plan);
    const std::string screen = slurp(dir / "screen.mp4");
    EngineHarness harness(library_);
    for (const fs::path &target :
         {dir / "screen.mp4", dir / "meta.json", dir / "." / "screen.mp4"}) {
        const Phase phase = harness.run("rec", ExportPreset::compact, target);
        ASSERT_TRUE(phase.is<Phase::Failed>()) << phase.description();
        EXPECT_NE(phase.as<Phase::Failed>()->message.find("a file of the recording"),
                  std::string::npos);
    }
    EXPECT_EQ(slurp(dir / "screen.mp4"), screen);
    EXPECT_TRUE(fs::exists(dir / "meta.json"));
}

TEST_F(ExportEndToEnd, AMissingEditDocumentMeansTheDefaultsABrokenOneFails) {
    RecordingPlan plan;
    plan.seconds = 1;
    const fs::path dir = recording(plan);
    EngineHarness harness(library_);
    const fs::path movie = out_ / "defaults.mp4";
    auto expectDefaultLook = [&] {
        // The default look frames the screen on a wallpaper: the corner is not the screen.
        const DecodedVideo video = decodeVideo(movie);
        ASSERT_EQ(video.frames.size(), 30u);
        EXPECT_FALSE(near(video.pixel(15, 1, 1), plan.r, plan.g, plan.b, 30));
        EXPECT_TRUE(near(video.pixel(15, 80, 48), plan.r, plan.g, plan.b, 14));
    };
    fs::remove(dir / "edits.json");
    Phase phase = harness.run("rec", ExportPreset::compact, movie);
    ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
    expectDefaultLook();

    for (const auto &[edits, member] :
         {std::pair{"{ not json", "not valid JSON"},
          std::pair{R"({"scene":{"paddingPercent":"wide"}})", "scene.paddingPercent"}}) {
        SCOPED_TRACE(edits);
        spit(dir / "edits.json", edits);
        fs::remove(movie);
        harness.engine->setIgnoreEdits(false);
        phase = harness.run("rec", ExportPreset::compact, movie);
        ASSERT_TRUE(phase.is<Phase::Failed>()) << phase.description();
        EXPECT_NE(phase.as<Phase::Failed>()->message.find("edits.json"), std::string::npos);
        EXPECT_NE(phase.as<Phase::Failed>()->message.find(member), std::string::npos);
        EXPECT_FALSE(fs::exists(movie));
        // Asked for, the defaults are used.
        harness.engine->setIgnoreEdits(true);
        phase = harness.run("rec", ExportPreset::compact, movie);
        ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
        expectDefaultLook();
    }
}

TEST_F(ExportEndToEnd, BlurMaskFramesAreDrawnAndExported) {
    RecordingPlan plan;
    plan.seconds = 1;
    std::string edits = framedEdits;
    edits.insert(edits.size() - 1, R"(,"masks":[{"startMs":0,"endMs":5000,"style":"blur",)"
                                   R"("keyframes":[{"tMs":0,"x":0.1,"y":0.1,"width":0.3,)"
                                   R"("height":0.3}]}])");
    plan.edits = edits;
    recording(plan);
    EngineHarness harness(library_);
    const fs::path movie = out_ / "blur.mp4";
    const Phase phase = harness.run("rec", ExportPreset::compact, movie);
    ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
    EXPECT_EQ(decodeVideo(movie).frames.size(), 30u);
}

TEST_F(ExportEndToEnd, SideFilesFollowOnlyASuccessfulExport) {
    RecordingPlan plan;
    plan.seconds = 1;
    std::string edits = framedEdits;
    edits.insert(edits.size() - 1,
                 R"(,"captions":[{"id":"a","startMs":100,"endMs":600,"text":" Hello \n"}])");
    plan.edits = edits;
    const fs::path dir = recording(plan);
    spit(dir / "clicks.json", R"({"clicks":[{"tMs":500,"x":10.5,"y":20,"screenW":160,)"
                              R"("screenH":96,"displayId":"1","button":"left"}]})");
    EngineHarness harness(library_);
    const fs::path movie = out_ / "talk.mp4";
    ASSERT_TRUE(harness.run("rec", ExportPreset::compact, movie, true).is<Phase::Finished>());
    EXPECT_EQ(slurp(out_ / "talk.srt"), "1\n00:00:00,100 --> 00:00:00,600\nHello\n\n");
    const std::string report = slurp(out_ / "talk.md");
    EXPECT_NE(report.find("| 00:00 | 10, 20 | left |\n"), std::string::npos) << report;

    // Without the report flag only the captions are written; a failed export writes neither.
    fs::remove(out_ / "talk.md");
    fs::remove(out_ / "talk.srt");
    ASSERT_TRUE(harness.run("rec", ExportPreset::compact, movie, false).is<Phase::Finished>());
    EXPECT_TRUE(fs::exists(out_ / "talk.srt"));
    EXPECT_FALSE(fs::exists(out_ / "talk.md"));
    fs::remove(out_ / "talk.srt");
    spit(dir / "screen.mp4", "broken");
    ASSERT_TRUE(harness.run("rec", ExportPreset::compact, movie, true).is<Phase::Failed>());
    EXPECT_FALSE(fs::exists(out_ / "talk.srt"));
    EXPECT_FALSE(fs::exists(out_ / "talk.md"));
}

TEST_F(ExportEndToEnd, CaptionCuesFollowTheEditedTimeline) {
    RecordingPlan plan;
    plan.seconds = 1;
    std::string edits = framedEdits;
    edits.insert(edits.size() - 1,
                 R"(,"trimStartMs":200,"captions":[{"id":"a","startMs":300,"endMs":600,)"
                 R"("text":"Late"},{"id":"b","startMs":0,"endMs":150,"text":"Trimmed"}])");
    plan.edits = edits;
    recording(plan);
    EngineHarness harness(library_);
    const fs::path movie = out_ / "trimmed.mp4";
    ASSERT_TRUE(harness.run("rec", ExportPreset::compact, movie, false).is<Phase::Finished>());
    EXPECT_EQ(slurp(out_ / "trimmed.srt"), "1\n00:00:00,100 --> 00:00:00,400\nLate\n\n");
}

} // namespace
} // namespace qv::testing
