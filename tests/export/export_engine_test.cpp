// The export engine's own rules: its texts, phases, cancel and reset, and the default file name.
#include "Outfitter/export_engine.h"

#include "export_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using Phase = ExportEngine::Phase;
namespace fs = std::filesystem;

TEST(ExportEngine, AnUnknownRecordingFailsWithoutASession) {
    testing::TempDir dir;
    testing::EngineHarness harness(dir.path());
    const Phase phase = harness.run("nobody", ExportPreset::web, dir.path() / "x.mp4");
    EXPECT_EQ(phase, Phase::failed("Recording not found"));
    EXPECT_FALSE(harness.engine->session());
    // A folder without readable metadata counts as missing too.
    fs::create_directories(dir.path() / "recordings" / "empty");
    EXPECT_EQ(harness.run("empty", ExportPreset::web, dir.path() / "x.mp4"),
              Phase::failed("Recording not found"));
    EXPECT_EQ(harness.run("../escape", ExportPreset::web, dir.path() / "x.mp4"),
              Phase::failed("Recording not found"));
    EXPECT_FALSE(fs::exists(dir.path() / "x.mp4"));
}

TEST(ExportEngine, CancelAndReset) {
    platform::RunLoop loop;
    ExportEngine engine(loop);
    std::vector<Phase> seen;
    const auto id = engine.observePhase([&](const Phase &p) { seen.push_back(p); });
    EXPECT_EQ(engine.phase(), Phase::idle());
    EXPECT_FALSE(engine.isExporting());
    engine.cancel();
    EXPECT_EQ(engine.phase(), Phase::cancelled());
    engine.reset();
    EXPECT_EQ(engine.phase(), Phase::idle());
    EXPECT_EQ(seen, (std::vector<Phase>{Phase::cancelled(), Phase::idle()}));
    engine.removePhaseObserver(id);
    engine.cancel();
    EXPECT_EQ(seen.size(), 2u);
}

TEST(ExportEngine, PhaseEqualityAndDescriptions) {
    EXPECT_EQ(Phase::exporting(0.5), Phase::exporting(0.5));
    EXPECT_NE(Phase::exporting(0.5), Phase::exporting(0.25));
    EXPECT_NE(Phase::failed("a"), Phase::failed("b"));
    EXPECT_NE(Phase::finished(std::nullopt), Phase::finished(fs::path("a.mp4")));
    EXPECT_NE(Phase::idle(), Phase::cancelled());
    EXPECT_EQ(Phase::exporting(0.42).description(), "exporting 42%");
    EXPECT_EQ(Phase::failed("Unsupported preset").description(), "failed: Unsupported preset");
    EXPECT_TRUE(Phase::exporting(0.9).is<Phase::Exporting>());
}

TEST(ExportEngine, ResetDuringAnExportChangesNothingAndAfterItGivesIdle) {
    testing::TempDir dir;
    testing::RecordingPlan plan;
    plan.seconds = 1;
    plan.edits = testing::framedEdits;
    testing::makeRecording(dir.path() / "recordings" / "rec", plan);
    testing::EngineHarness harness(dir.path());
    bool checked = false;
    harness.run("rec", ExportPreset::compact, dir.path() / "a.mp4", false, [&](ExportEngine &e) {
        e.reset();
        EXPECT_TRUE(e.isExporting());
        checked = true;
    });
    EXPECT_TRUE(checked);
    EXPECT_TRUE(harness.engine->phase().is<Phase::Finished>());
    harness.engine->reset();
    EXPECT_EQ(harness.engine->phase(), Phase::idle());
    EXPECT_FALSE(harness.engine->session());
}

RecordingMeta named(std::string source, std::string id = "rec-7") {
    RecordingMeta m;
    m.id = std::move(id);
    m.sourceName = std::move(source);
    return m;
}

TEST(DefaultOutputURL, NamesCountersAndExtensions) {
    testing::TempDir dir;
    const fs::path d = dir.path();
    const auto web = ExportPreset::web;
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("My Demo: Take 1"), web, d),
              d / "my-demo-take-1.mp4");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("My Demo: Take 1"), ExportPreset::proRes, d),
              d / "my-demo-take-1.mov");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("My Demo: Take 1"), ExportPreset::hevc, d),
              d / "my-demo-take-1.mp4");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("?!: ..."), web, d), d / "-.mp4");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("?!:..."), web, d), d / "rec-7.mp4");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named(""), web, d), d / "rec-7.mp4");
    testing::spit(d / "my-demo-take-1.mp4", "");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("My Demo: Take 1"), web, d),
              d / "my-demo-take-1 (2).mp4");
    testing::spit(d / "my-demo-take-1 (2).mp4", "");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("My Demo: Take 1"), web, d),
              d / "my-demo-take-1 (3).mp4");
    // The other extension does not count.
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("My Demo: Take 1"), ExportPreset::proRes, d),
              d / "my-demo-take-1.mov");
}

TEST(DefaultOutputURL, UnicodeLettersAndNumbersStay) {
    EXPECT_EQ(ExportEngine::baseName(named("Café Ölmühle 2")), "café-ölmühle-2");
    EXPECT_EQ(ExportEngine::baseName(named("Ωμέγα — 東京 ٣")), "ωμέγα--東京-٣");
    EXPECT_EQ(ExportEngine::baseName(named("Cafe\u0301")), "cafe\u0301");
    EXPECT_EQ(ExportEngine::baseName(named("a--b  c")), "a--b--c");
    EXPECT_EQ(ExportEngine::baseName(named("😀🎬")), "rec-7");
}

TEST(DefaultOutputURL, TheVideosFolderComesFromTheUserDirsFile) {
    testing::TempDir dir;
    const char *oldHome = std::getenv("HOME");
    const char *oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const std::string savedConfig = oldConfig ? oldConfig : "";
    ::setenv("HOME", dir.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ExportEngine::moviesDirectory(), dir.path() / "Videos");
    fs::create_directories(dir.path() / ".config");
    testing::spit(dir.path() / ".config" / "user-dirs.dirs",
                  "# comment\nXDG_VIDEOS_DIR=\"$HOME/Films\"\n");
    EXPECT_EQ(ExportEngine::moviesDirectory(), dir.path() / "Films");
    EXPECT_EQ(ExportEngine::defaultOutputURL(named("x"), ExportPreset::web),
              dir.path() / "Films" / "x.mp4");
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
    if (oldConfig) ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
}

} // namespace
} // namespace qv
