// What an export may never do: destroy a file that was there before it, write over its own
// movie or the recording with a side file, or quietly drop the user's edits.
#include "export_fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace qv::testing {
namespace {

class ExportSafety : public ExportCommand {
protected:
    fs::path recording(const std::optional<std::string> &edits = framedEdits) {
        RecordingPlan plan;
        plan.seconds = 1;
        plan.edits = edits;
        makeRecording(dir_.path() / "rec", plan);
        return dir_.path() / "rec";
    }
};

TEST_F(ExportSafety, AFailedExportKeepsTheFileThatWasThere) {
    struct Case {
        const char *name;
        std::function<void(const fs::path &rec)> breakIt;
    };
    const Case cases[] = {
        {"corrupt video", [](const fs::path &rec) { spit(rec / "screen.mp4", "not a movie"); }},
        {"nothing left to export",
         [](const fs::path &rec) { spit(rec / "edits.json", R"({"trimStartMs": 5000})"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path() / "rec");
        const fs::path rec = recording();
        c.breakIt(rec);
        const fs::path movie = dir_.path() / "earlier.mp4";
        spit(movie, "an earlier movie");
        std::string out;
        EXPECT_EQ(run("export " + quoted(rec) + " -o " + quoted(movie), &out), 1) << out;
        EXPECT_EQ(slurp(movie), "an earlier movie") << out;
        expectNoPartialFiles(dir_.path());
    }
}

TEST_F(ExportSafety, OnlyARegularFileOrNothingIsAnOutput) {
    const fs::path rec = recording();
    const fs::path folder = dir_.path() / "folder.mp4";
    fs::create_directories(folder);
    const fs::path fifo = dir_.path() / "fifo.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path &target : {folder, fifo}) {
        std::string out;
        EXPECT_EQ(run("export " + quoted(rec) + " -o " + quoted(target), &out), 1) << out;
        EXPECT_NE(out.find(target.string()), std::string::npos) << out;
    }
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_fifo(fifo));
    expectNoPartialFiles(dir_.path());
}

TEST_F(ExportSafety, SideFilesNeverReplaceTheMovieOrTheRecording) {
    const fs::path rec = recording();
    // A window-crop file that a caption file named after the movie would replace.
    spit(rec / "crop.srt", "kept");
    struct Case {
        std::string args;
        fs::path kept;
    };
    const Case cases[] = {
        {"-o " + quoted(dir_.path() / "movie.srt"), dir_.path() / "movie.srt"},
        {"--markdown -o " + quoted(dir_.path() / "movie.md"), dir_.path() / "movie.md"},
        {"-o " + quoted(rec / "crop.mp4"), rec / "crop.srt"},
        {"-o " + quoted(rec / "edits.json"), rec / "edits.json"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        const bool existed = fs::exists(c.kept);
        const std::string before = existed ? slurp(c.kept) : "";
        std::string out;
        EXPECT_EQ(run("export " + quoted(rec) + " " + c.args, &out), 1) << out;
        EXPECT_NE(out.find("would replace"), std::string::npos) << out;
        EXPECT_EQ(fs::exists(c.kept), existed);
        if (existed) {
            EXPECT_EQ(slurp(c.kept), before);
        }
    }
}

TEST_F(ExportSafety, AnEditDocumentThatCannotBeReadFailsTheExport) {
    const fs::path rec = recording(R"({"scene": {"chromeStyle": "Minimal"}})");
    const fs::path movie = dir_.path() / "out.mp4";
    std::string out;
    EXPECT_EQ(run("export " + quoted(rec) + " -o " + quoted(movie), &out), 1) << out;
    EXPECT_NE(out.find("edits.json: scene.chromeStyle"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(movie));
    // Asked for, the default look is used instead.
    ASSERT_EQ(run("export " + quoted(rec) + " --ignore-edits -o " + quoted(movie), &out), 0) << out;
    EXPECT_TRUE(fs::exists(movie));
    // The frame command refuses it too, and follows the same flag.
    const fs::path png = dir_.path() / "f.png";
    EXPECT_EQ(run("frame " + quoted(rec) + " --at 100 -o " + quoted(png), &out), 1) << out;
    EXPECT_EQ(run("frame " + quoted(rec) + " --at 100 --ignore-edits -o " + quoted(png), &out), 0)
        << out;
}

TEST_F(ExportSafety, AnUnreadableTrackOrWindowCropFailsTheExport) {
    for (const char *file : {"clicks.json", "cursor.json", "keys.json"}) {
        SCOPED_TRACE(file);
        fs::remove_all(dir_.path() / "rec");
        const fs::path rec = recording();
        spit(rec / file, R"({"clicks": [{"tMs": 1e400}]})");
        std::string out;
        EXPECT_EQ(run("export " + quoted(rec) + " -o " + quoted(dir_.path() / "o.mp4"), &out), 1)
            << out;
        EXPECT_NE(out.find(file), std::string::npos) << out;
    }
}

// A closed terminal, or a reader of the output that went away, cancels like Ctrl-C.
TEST_F(ExportSafety, HangUpAndBrokenPipeLeaveNothingBehind) {
    RecordingPlan plan = slowToEncode();
    plan.edits = framedEdits;
    makeRecording(dir_.path() / "rec", plan);
    const fs::path movie = dir_.path() / "out.mp4";
    spit(movie, "an earlier movie");

    const Interrupted run = interruptExport(dir_.path() / "rec", movie, SIGHUP);
    EXPECT_TRUE(run.started) << run.log;
    ASSERT_TRUE(WIFEXITED(run.status)) << "killed instead of cancelling";
    EXPECT_EQ(WEXITSTATUS(run.status), 130) << run.log;
    EXPECT_EQ(slurp(movie), "an earlier movie");
    expectNoPartialFiles(dir_.path());

    // Progress written into a pipe whose reader has gone.
    const std::string cmd = std::string(QUILLVANE_BIN) + " export " + quoted(dir_.path() / "rec") +
                            " -o " + quoted(movie) + " 2>&1 | head -c1 > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()) != -1, true);
    // The shell returns only once every command of the pipeline has ended.
    EXPECT_EQ(slurp(movie), "an earlier movie");
    expectNoPartialFiles(dir_.path());
}

// Memory that runs out, wherever it runs out (decoder, encoder, compositor, a thread that cannot
// start), ends the export with a message that says so, keeps the earlier file and leaves no
// partial file; never an abort.
TEST_F(ExportSafety, ExhaustedMemoryIsReportedAndLosesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than these limits allow";
#endif
    RecordingPlan plan;
    plan.width = 1920;
    plan.height = 1080;
    plan.seconds = 1;
    plan.edits = framedEdits;
    makeRecording(dir_.path() / "rec", plan);
    const fs::path movie = dir_.path() / "out.mp4";
    for (int megabytes : {350, 500, 700}) {
        SCOPED_TRACE(megabytes);
        spit(movie, "an earlier movie");
        const fs::path log = dir_.path() / "log.txt";
        const std::string cmd = "ulimit -v " + std::to_string(megabytes * 1024) + "; " +
                                QUILLVANE_BIN + " export " + quoted(dir_.path() / "rec") + " -o " +
                                quoted(movie) + " > " + quoted(log) + " 2>&1";
        const int status = std::system(("sh -c \"" + cmd + "\"").c_str());
        const std::string out = slurp(log);
        ASSERT_TRUE(WIFEXITED(status)) << out;
        EXPECT_EQ(WEXITSTATUS(status), 1) << out;
        EXPECT_NE(out.find("memory"), std::string::npos) << out;
        EXPECT_TRUE(slurp(movie) == "an earlier movie") << "the earlier movie was replaced";
        expectNoPartialFiles(dir_.path());
    }
}

} // namespace
} // namespace qv::testing
