// `quillvane export` and `quillvane demo` end to end, as a user runs them.
#include "export_fixtures.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace qv::testing {
namespace {

// The percentages of the "exporting N%" lines, in order.
std::vector<int> progressLines(const std::string &log) {
    std::vector<int> percents;
    std::istringstream lines(log);
    std::string line;
    int percent = 0;
    char rest = 0;
    while (std::getline(lines, line))
        if (std::sscanf(line.c_str(), "exporting %d%%%c", &percent, &rest) == 1)
            percents.push_back(percent);
    return percents;
}

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
    // Whole tenths, each once, rising from 0 % to 100 %.
    const std::vector<int> percents = progressLines(out);
    ASSERT_GE(percents.size(), 2u) << out;
    EXPECT_EQ(percents.front(), 0) << out;
    EXPECT_EQ(percents.back(), 100) << out;
    for (std::size_t i = 0; i < percents.size(); ++i) {
        EXPECT_EQ(percents[i] % 10, 0) << out;
        if (i > 0) {
            EXPECT_GT(percents[i], percents[i - 1]) << out;
        }
    }
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
    EXPECT_NE(out.find("Recording not found: \"nobody\" (looked in " +
                       (dir_.path() / "lib" / "recordings").string() + ")"),
              std::string::npos)
        << out;
}

TEST_F(ExportCommand, TheLibraryFlagNamesTheFolderToLookIn) {
    RecordingPlan plan;
    plan.id = "take-1";
    plan.seconds = 1;
    const fs::path other = dir_.path() / "other";
    makeRecording(other / "recordings" / "take-1", plan);
    // The variable points elsewhere; the flag wins.
    const std::string env = "QUILLVANE_LIBRARY=" + quoted(dir_.path() / "lib");
    const fs::path movie = dir_.path() / "out.mp4";
    std::string out;
    ASSERT_EQ(run("export take-1 --library " + quoted(other) + " -o " + quoted(movie), &out, env),
              0)
        << out;
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_EQ(run("export take-2 --library " + quoted(other) + " -o " + quoted(movie), &out, env),
              1);
    EXPECT_NE(out.find("Recording not found: \"take-2\" (looked in " +
                       (other / "recordings").string() + ")"),
              std::string::npos)
        << out;
    EXPECT_EQ(run("export take-1 --library", &out), 2);
}

TEST_F(ExportCommand, TheIdOfTheMetadataMustBeTheFolderName) {
    RecordingPlan plan;
    plan.id = "take-1";
    plan.seconds = 1;
    const fs::path library = dir_.path() / "lib";
    const fs::path folder = library / "recordings" / "take-2";
    makeRecording(folder, plan);
    const fs::path movie = dir_.path() / "out.mp4";
    const std::string expected = (folder / "meta.json").string() +
                                 ": id: \"take-1\" does not match the folder name \"take-2\"";
    for (const std::string &recording : {std::string("take-2"), quoted(folder)}) {
        SCOPED_TRACE(recording);
        std::string out;
        EXPECT_EQ(
            run("export " + recording + " --library " + quoted(library) + " -o " + quoted(movie),
                &out),
            1);
        EXPECT_NE(out.find(expected), std::string::npos) << out;
        EXPECT_FALSE(fs::exists(movie));
    }
}

TEST_F(ExportCommand, TheExtensionMustNameThePresetsContainer) {
    RecordingPlan plan;
    plan.seconds = 1;
    plan.edits = framedEdits;
    makeRecording(dir_.path() / "rec", plan);
    const std::string rec = quoted(dir_.path() / "rec");
    struct Refused {
        const char *name;
        const char *preset;
        const char *accepted;
    };
    for (const Refused &c :
         {Refused{"x.mov", "web", ".mp4 or .m4v"}, Refused{"x.MOV", "hevc", ".mp4 or .m4v"},
          Refused{"x.mp4", "proRes", ".mov or .qt"}, Refused{"x.mkv", "compact", ".mp4 or .m4v"}}) {
        SCOPED_TRACE(c.name);
        const fs::path movie = dir_.path() / c.name;
        spit(movie, "an earlier file");
        std::string out;
        EXPECT_EQ(run("export " + rec + " --preset " + c.preset + " -o " + quoted(movie), &out), 1);
        EXPECT_NE(out.find(movie.string() + ": the preset \"" + c.preset + "\" writes"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find(std::string("must end in ") + c.accepted), std::string::npos) << out;
        EXPECT_EQ(slurp(movie), "an earlier file");
        EXPECT_EQ(out.find("exporting"), std::string::npos) << "refused before any work";
        fs::remove(movie);
    }
    struct Accepted {
        const char *given;
        const char *preset;
        const char *written;
        const char *brand;
    };
    for (const Accepted &c : {Accepted{"a.M4V", "compact", "a.M4V", "isom"},
                              Accepted{"bare", "compact", "bare.mp4", "isom"},
                              Accepted{"bare", "proRes", "bare.mov", "qt  "}}) {
        SCOPED_TRACE(c.given);
        std::string out;
        ASSERT_EQ(
            run("export " + rec + " --preset " + c.preset + " -o " + quoted(dir_.path() / c.given),
                &out),
            0)
            << out;
        const fs::path movie = dir_.path() / c.written;
        EXPECT_NE(out.find("wrote " + movie.string()), std::string::npos) << out;
        EXPECT_EQ(probeValue(movie, "", "format_tags=major_brand"), c.brand);
        fs::remove(movie);
    }
}

TEST_F(ExportCommand, ATerminalGetsOneRedrawnProgressLine) {
    if (!haveCommand("script")) GTEST_SKIP() << "the script command gives the export a terminal";
    RecordingPlan plan;
    plan.seconds = 1;
    plan.edits = framedEdits;
    makeRecording(dir_.path() / "rec", plan);
    // `script` runs the export on a pseudo-terminal and copies what it shows.
    const fs::path log = dir_.path() / "terminal.txt";
    const std::string exportCommand = std::string(QUILLVANE_BIN) + " export " +
                                      (dir_.path() / "rec").string() + " -o " +
                                      (dir_.path() / "out.mp4").string();
    const int rc = std::system(("script -qec " + quoted(exportCommand) + " /dev/null > " +
                                quoted(log) + " 2>&1 < /dev/null")
                                   .c_str());
    const std::string out = slurp(log);
    ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << out;
    EXPECT_NE(out.find("\rExporting [------------------------------]   0%"), std::string::npos)
        << out;
    // The last drawing: a full bar, the rate over all 30 frames, nothing left.
    EXPECT_NE(out.find("\rExporting [##############################] 100%  "), std::string::npos)
        << out;
    EXPECT_NE(out.find(" fps  0:00 left"), std::string::npos) << out;
    EXPECT_EQ(out.find("exporting 0%"), std::string::npos) << "no plain lines on a terminal";
    EXPECT_NE(out.find("wrote " + (dir_.path() / "out.mp4").string()), std::string::npos) << out;
}

TEST_F(ExportCommand, HelpListsEveryCommandAndTheDefaults) {
    std::string out;
    ASSERT_EQ(run("--help", &out), 0);
    for (const char *text : {"frame <recording-folder> --at <ms>", "output\n        time",
                             "export <recording id or folder>", "the preset is web unless given",
                             "--library DIR", "demo [-o DIR]", "cursors -o <sheet.png>",
                             "wallpapers -o <sheet.png>", "track <folder> [--seconds N]"})
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    EXPECT_EQ(run("export --help", &out), 2);
    EXPECT_NE(out.find("web (the default)"), std::string::npos) << out;
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
    for (const char *name : {"meta.json", "screen.mp4", "webcam.mp4", "mic.m4a", "edits.json",
                             "clicks.json", "cursor.json", "keys.json"})
        EXPECT_TRUE(fs::exists(out / "recording" / name)) << name;
    // The camera runs as long as the screen.
    EXPECT_NEAR(std::stod(probeValue(out / "recording" / "webcam.mp4", "", "format=duration")), 4.0,
                0.05);
    // A keyframe every second, so that a seek into the recording decodes at most a second.
    for (const char *name : {"screen.mp4", "webcam.mp4"}) {
        const std::string keys = probeValue(
            out / "recording" / name, "-select_streams v:0 -skip_frame nokey", "frame=pts_time");
        std::vector<double> times;
        std::istringstream lines(keys);
        for (double t; lines >> t;) times.push_back(t);
        ASSERT_FALSE(times.empty()) << name;
        times.push_back(4.0); // the end
        for (std::size_t i = 1; i < times.size(); ++i)
            EXPECT_LE(times[i] - times[i - 1], 1.0 + 1e-3) << name << ": " << keys;
    }
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
    EXPECT_NE(md.find("- **Tracks**: Screen, Webcam, Mic"), std::string::npos) << md;
    EXPECT_NE(md.find("| smart |"), std::string::npos) << md;
}

} // namespace
} // namespace qv::testing
