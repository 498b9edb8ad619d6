#include "app/app_environment.h"

#include "Frontpanel/views/preview_audio.h"
#include "Frontpanel/views/preview_view.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::AppEnvironment;
using testing::waitFor;

std::string output(const std::string &command) {
    std::string text;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
        ::pclose(pipe);
    }
    return text;
}

// Run only by the test below, in a process of its own whose PULSE_SERVER names a sound server
// with a null sink: Qt's audio output connects to the server once per process.
TEST(PreviewSoundChild, DISABLED_PlaysThroughTheServer) {
    AppEnvironment::instance->writeSettings(true);
    const fs::path folder = AppEnvironment::instance->demoRecording("sound");
    ui::PreviewView preview;
    ASSERT_TRUE(preview.open(folder).ok());
    ASSERT_TRUE(waitFor([&] { return preview.shownFrame() == 0; }, 60000));
    ASSERT_TRUE(preview.audio()->hasTrack());
    preview.play();
    ASSERT_TRUE(preview.audio()->isPlaying());
    // Half a second of sound handed to the server within a second or so of playing.
    ASSERT_TRUE(waitFor([&] { return preview.audio()->samplesWritten() >= 24000; }, 5000));
    const std::string streams = output("pactl list short sink-inputs 2>&1");
    EXPECT_FALSE(streams.empty()) << streams;
    preview.pause();
    EXPECT_FALSE(preview.audio()->isPlaying());
    EXPECT_EQ(output("pactl list short sink-inputs 2>&1"), "");
}

TEST(PreviewSound, PlaysTheMicrophoneWhileThePreviewPlays) {
    if (!testing::commandExists("pulseaudio") || !testing::commandExists("pactl"))
        GTEST_SKIP() << "pulseaudio and pactl (pulseaudio, pulseaudio-utils) are not installed";
    const fs::path home = AppEnvironment::instance->root() / "pulse";
    fs::create_directories(home);
    const std::string socket = (home / "socket").string();
    const pid_t parent = ::getpid();
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        const std::string native =
            "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
        ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                 "--use-pid-file=no", "-L", "module-null-sink sink_name=preview", "-L",
                 native.c_str(), nullptr);
        ::_exit(127);
    }
    struct Stop {
        pid_t pid;
        ~Stop() {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    } stop{server};
    ASSERT_TRUE(waitFor([&] { return fs::exists(socket); }, 10000));

    const std::string command = "PULSE_SERVER=unix:" + socket + " /proc/" +
                                std::to_string(::getpid()) +
                                "/exe --gtest_also_run_disabled_tests "
                                "--gtest_filter=PreviewSoundChild.DISABLED_PlaysThroughTheServer";
    const std::string log = output(command + " 2>&1");
    EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
}

} // namespace
} // namespace qv
