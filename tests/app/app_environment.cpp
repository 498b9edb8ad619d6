#include "app/app_environment.h"

#include "platform/media/codec_log.h"

#include <QSystemTrayIcon>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace qv::testing {

namespace fs = std::filesystem;

AppEnvironment *AppEnvironment::instance = nullptr;

namespace {
int argc = 1;
char name[] = "app_tests";
char *argv[] = {name, nullptr};
} // namespace

void AppEnvironment::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "qv-app-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directories(recordingsFolder());
    fs::create_directories(dataHome());
    fs::create_directories(root_ / "runtime");
    fs::permissions(root_ / "runtime", fs::perms::owner_all);

    server_ = std::make_unique<XvfbServer>("1400x900x24");
    if (!server_->ok()) throw std::runtime_error(server_->error());
    ::setenv("DISPLAY", server_->display().c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    ::setenv("QUILLVANE_LIBRARY", libraryFolder().c_str(), 1);
    ::setenv("QUILLVANE_SETTINGS", settingsFile().c_str(), 1);
    ::setenv("HOME", root_.c_str(), 1);

    if (commandExists("trayer")) {
        const pid_t parent = ::getpid();
        trayer_ = ::fork();
        if (trayer_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(1);
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            ::execlp("trayer", "trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                     "request", nullptr);
            ::_exit(127);
        }
    }
    platform::media::quietCodecLogs();
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The tray host takes a moment to claim the tray selection.
    if (trayer_ > 0) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && !QSystemTrayIcon::isSystemTrayAvailable()) QTest::qWait(50);
    }
}

void AppEnvironment::TearDown() {
    app_.reset();
    if (trayer_ > 0) {
        ::kill(trayer_, SIGTERM);
        ::waitpid(trayer_, nullptr, 0);
    }
    server_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void AppEnvironment::writeSettings(bool onboardingComplete, bool showFrameRate) {
    std::ofstream(settingsFile()) << "{\"onboardingComplete\": "
                                  << (onboardingComplete ? "true" : "false")
                                  << ", \"showFrameRate\": " << (showFrameRate ? "true" : "false")
                                  << "}\n";
}

fs::path AppEnvironment::demoRecording(const std::string &id) {
    const fs::path source = root_ / "demo" / "recording";
    if (!demoWritten_) {
        const std::string command = std::string(QUILLVANE_BIN) + " demo -o " +
                                    (root_ / "demo").string() +
                                    " --recording-only --size 640x360 --seconds 4 --fps 30 > " +
                                    (root_ / "demo.log").string() + " 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("quillvane demo failed; see " + (root_ / "demo.log").string());
        demoWritten_ = true;
    }
    const fs::path target = recordingsFolder() / id;
    fs::remove_all(target);
    fs::copy(source, target, fs::copy_options::recursive);
    // The id is the folder's name.
    std::ifstream in(target / "meta.json");
    std::string meta((std::istreambuf_iterator<char>(in)), {});
    in.close();
    const std::string from = "\"id\": \"recording\"";
    meta.replace(meta.find(from), from.size(), "\"id\": \"" + id + "\"");
    std::ofstream(target / "meta.json") << meta;
    return target;
}

} // namespace qv::testing

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qv::testing::AppEnvironment::instance = new qv::testing::AppEnvironment;
    ::testing::AddGlobalTestEnvironment(qv::testing::AppEnvironment::instance);
    return RUN_ALL_TESTS();
}
