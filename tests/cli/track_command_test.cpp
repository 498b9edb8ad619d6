// `quillvane track` end to end on a private Xvfb: it records until Ctrl-C and writes the files,
// stops by itself with --seconds, refuses what it cannot do, and says why.
#include "handtrace/xvfb.h"

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
class TrackProcess {
public:
    explicit TrackProcess(const std::vector<std::string> &args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char *> argv{const_cast<char *>(QUILLVANE_BIN),
                                     const_cast<char *>("track")};
            for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(QUILLVANE_BIN, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~TrackProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }

    // Reads the error output until it holds `text`; false at its end or after a long guard.
    bool waitForError(const std::string &text) {
        while (errText_.find(text) == std::string::npos)
            if (!readSome(err_, errText_)) return false;
        return true;
    }
    bool waitForOutput(const std::string &text) {
        while (outText_.find(text) == std::string::npos)
            if (!readSome(out_, outText_)) return false;
        return true;
    }
    void signal(int sig) { ::kill(pid_, sig); }
    // Waits for the exit and collects the rest of the output.
    int finish() {
        while (readSome(out_, outText_)) {
        }
        while (readSome(err_, errText_)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string &out() const { return outText_; }
    const std::string &err() const { return errText_; }

private:
    static bool readSome(int fd, std::string &into) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        into.append(buffer, std::size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string outText_, errText_;
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
    // No input came, and cursor kinds alone write no file.
    EXPECT_NE(track.out().find("nothing recorded; no files written"), std::string::npos)
        << track.out();
    EXPECT_TRUE(fs::is_directory(dir_));
    EXPECT_TRUE(fs::is_empty(dir_));
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
