// `quillvane export` and `quillvane demo` end to end, as a user runs them.
#include "export_fixtures.h"

#include <gtest/gtest.h>

namespace qv::testing {
namespace {

TEST_F(ExportCommand, ExportsAFolderWithPlainProgressLines) {
    RecordingPlan plan;
    plan.seconds = 1;
    plan.edits = framedEdits;
    makeRecording(dir_.path() / "rec", plan);
    const fs::path movie = dir_.path() / "out.mp4";
    std::string out;
    ASSERT_EQ(run("export " + quoted(dir_.path() / "rec") + " --preset compact --markdown -o " +
                      quoted(movie),
                  &out),
              0)
        << out;
    EXPECT_NE(out.find("exporting 0%"), std::string::npos) << out;
    EXPECT_NE(out.find("wrote " + movie.string()), std::string::npos) << out;
    EXPECT_NE(out.find("wrote " + (dir_.path() / "out.md").string()), std::string::npos) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos) << "no progress bar without a terminal";
    EXPECT_EQ(probeValue(movie, "-select_streams v:0", "stream=codec_name"), "h264");
}

TEST_F(ExportCommand, ARecordingOfTheLibraryByIdAndTheDefaultFileName) {
    RecordingPlan plan;
    plan.id = "take-1";
    plan.seconds = 1;
    makeRecording(dir_.path() / "lib" / "recordings" / "take-1", plan);
    const fs::path home = dir_.path() / "home";
    fs::create_directories(home);
    const std::string env = "QUILLVANE_LIBRARY=" + quoted(dir_.path() / "lib") +
                            " HOME=" + quoted(home) + " XDG_CONFIG_HOME=";
    std::string out;
    ASSERT_EQ(run("export take-1 --preset hevc", &out, env), 0) << out;
    // The source name "Test Screen", in the videos folder, which is made when missing.
    const fs::path movie = home / "Videos" / "test-screen.mp4";
    EXPECT_TRUE(fs::exists(movie)) << out;
    ASSERT_EQ(run("export take-1 --preset hevc", &out, env), 0) << out;
    EXPECT_TRUE(fs::exists(home / "Videos" / "test-screen (2).mp4")) << out;

    EXPECT_EQ(run("export nobody -o x.mp4", &out, env), 1);
    EXPECT_NE(out.find("Recording not found"), std::string::npos) << out;
}

TEST_F(ExportCommand, BadArgumentsAreUsageErrors) {
    std::string out;
    EXPECT_EQ(run("export", &out), 2);
    EXPECT_NE(out.find("usage"), std::string::npos) << out;
    EXPECT_EQ(run("export rec --preset ProRes", &out), 2);
    EXPECT_NE(out.find("unknown preset"), std::string::npos) << out;
    EXPECT_EQ(run("export rec --frobnicate", &out), 2);
    EXPECT_EQ(run("export rec -o", &out), 2);
    EXPECT_EQ(run("demo --size 100x", &out), 2);
    EXPECT_EQ(run("demo --seconds 1", &out), 2);
}

TEST_F(ExportCommand, CtrlCCancelsCleanly) {
    RecordingPlan plan = slowToEncode();
    plan.edits = framedEdits;
    makeRecording(dir_.path() / "rec", plan);
    const fs::path movie = dir_.path() / "out.mp4";
    const Interrupted run = interruptExport(dir_.path() / "rec", movie, SIGINT);
    EXPECT_TRUE(run.started) << run.log;
    ASSERT_TRUE(WIFEXITED(run.status)) << "killed instead of cancelling";
    EXPECT_EQ(WEXITSTATUS(run.status), 130) << run.log;
    EXPECT_NE(run.log.find("cancelled"), std::string::npos) << run.log;
    EXPECT_FALSE(fs::exists(movie));
    expectNoPartialFiles(dir_.path());
}

TEST_F(ExportCommand, TheDemoWritesARecordingAndExportsIt) {
    const fs::path out = dir_.path() / "demo";
    std::string log;
    ASSERT_EQ(run("demo -o " + quoted(out) + " --size 320x180 --seconds 4", &log), 0) << log;
    for (const char *name : {"meta.json", "screen.mp4", "mic.m4a", "edits.json", "clicks.json",
                             "cursor.json", "keys.json"})
        EXPECT_TRUE(fs::exists(out / "recording" / name)) << name;
    const fs::path movie = out / "demo.mp4";
    ASSERT_TRUE(fs::exists(movie)) << log;
    // The trim takes 300 ms off each end.
    EXPECT_NEAR(std::stod(probeValue(movie, "", "format=duration")), 3.4, 0.05);
    EXPECT_EQ(probeValue(movie, "-select_streams a:0", "stream=codec_name"), "aac");
    const std::string srt = slurp(out / "demo.srt");
    EXPECT_EQ(srt.rfind("1\n", 0), 0u) << srt;
    EXPECT_NE(srt.find("\n2\n"), std::string::npos) << srt;
    const std::string md = slurp(out / "demo.md");
    EXPECT_NE(md.find("- **Source**: Demo Desktop (320×180)"), std::string::npos) << md;
    EXPECT_NE(md.find("- **Tracks**: Screen, Mic"), std::string::npos) << md;
    EXPECT_NE(md.find("| smart |"), std::string::npos) << md;
}

} // namespace
} // namespace qv::testing
