// `quillvane track` end to end on a private Xvfb: it records until Ctrl-C and writes the files,
// stops by itself with --seconds, refuses what it cannot do, and says why.
#include "Handtrace/track_files.h"
#include "handtrace/xvfb.h"
#include "recording/child_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

using qv::testing::ScopedEnvironment;
using qv::testing::XvfbServer;

// A running `quillvane track`, its output read through pipes.
class TrackProcess : public qv::testing::ChildProcess {
public:
    explicit TrackProcess(const std::vector<std::string> &args) : ChildProcess(commandLine(args)) {}

private:
    static std::vector<std::string> commandLine(const std::vector<std::string> &args) {
        std::vector<std::string> argv{QUILLVANE_BIN, "track"};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
};

std::string slurp(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TrackCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qv-track-" + std::to_string(std::random_device{}()));
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(TrackCommand, RecordsUntilCtrlCAndWritesTheFiles) {
    ASSERT_TRUE(qv::testing::commandExists("xdotool")) << "xdotool is needed";
    XvfbServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    auto variables = qv::testing::displayVariables(server);
    variables.emplace_back("QUILLVANE_LOG", "debug"); // the recorder logs each chord it keeps
    ScopedEnvironment environment(variables);

    TrackProcess track({dir_.string()});
    // The prompt comes once capture is running.
    ASSERT_TRUE(track.waitForOutput("press Ctrl-C to stop")) << track.err();
    ASSERT_EQ(std::system("xdotool key ctrl+s"), 0);
    ASSERT_TRUE(track.waitForError("key chord ⌃S")) << track.err();
    track.signal(SIGINT);
    ASSERT_EQ(track.finish(), 0) << track.err();
    EXPECT_NE(track.out().find("wrote keys.json: 1 key chord\n"), std::string::npos) << track.out();
    const std::string keys = slurp(dir_ / "keys.json");
    EXPECT_NE(keys.find(R"("chord":"⌃S")"), std::string::npos) << keys;
}

TEST_F(TrackCommand, StopsByItselfAfterTheGivenTime) {
    XvfbServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ScopedEnvironment environment(qv::testing::displayVariables(server));
    TrackProcess track({dir_.string(), "--seconds", "0.3"});
    ASSERT_EQ(track.finish(), 0) << track.err();
    EXPECT_NE(track.out().find("for 0.3 s"), std::string::npos) << track.out();
    // No input came: only where the pointer rested is recorded, once.
    const auto cursor = qv::CursorFile::load(dir_);
    ASSERT_TRUE(cursor) << cursor.error().message;
    EXPECT_EQ(cursor->samples.size(), 1u) << track.out();
    EXPECT_FALSE(fs::exists(dir_ / "clicks.json"));
    EXPECT_FALSE(fs::exists(dir_ / "keys.json"));
}

TEST_F(TrackCommand, SaysWhyWhenCaptureIsUnavailable) {
    ScopedEnvironment environment({{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    TrackProcess track({dir_.string(), "--seconds", "1"});
    EXPECT_EQ(track.finish(), 1);
    EXPECT_NE(track.err().find("input capture unavailable"), std::string::npos) << track.err();
    EXPECT_FALSE(fs::exists(dir_)) << "nothing is created when nothing can be recorded";
}

TEST_F(TrackCommand, RefusesBadArgumentsAndAFolderWithTracks) {
    {
        TrackProcess track({});
        EXPECT_EQ(track.finish(), 2);
        EXPECT_NE(track.err().find("usage: quillvane track"), std::string::npos) << track.err();
    }
    for (const char *bad : {"0", "-1", "soon", "nan"}) {
        TrackProcess track({dir_.string(), "--seconds", bad});
        EXPECT_EQ(track.finish(), 2) << bad;
        EXPECT_NE(track.err().find("is not a positive number"), std::string::npos) << track.err();
    }
    fs::create_directories(dir_);
    std::ofstream(dir_ / "clicks.json") << "{\"clicks\":[]}";
    TrackProcess track({dir_.string(), "--seconds", "1"});
    EXPECT_EQ(track.finish(), 1);
    EXPECT_NE(track.err().find("already holds clicks.json"), std::string::npos) << track.err();
    EXPECT_EQ(slurp(dir_ / "clicks.json"), "{\"clicks\":[]}");
}

} // namespace
