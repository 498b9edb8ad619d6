// A private Xvfb server for tests, on a free display number, stopped with the object.
//
// It runs without the SECURITY extension (so cursor images stay readable after their creator
// exits) and without resets. ScopedEnvironment(displayVariables(server)) points this process and
// the tools it starts at the server.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv::testing {

inline bool commandExists(const std::string &name) {
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

class XvfbServer {
public:
    explicit XvfbServer(const std::string &screen = "1280x800x24") {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            error_ = "pipe failed";
            return;
        }
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // The server must not outlive a test process that dies.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(1);
            ::fcntl(fds[1], F_SETFD, 0); // the display number is written to this descriptor
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                     "-extension", "SECURITY", "-noreset", "-nolisten", "tcp", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            error_ = "fork failed";
            return;
        }
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        // Xvfb writes the number once it accepts connections; 20 s guards against a hang.
        while (::poll(&p, 1, 20000) > 0) {
            char c;
            if (::read(fds[0], &c, 1) != 1) break;
            if (c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) {
            error_ = "Xvfb did not start (is the xvfb package installed?)";
            stop();
            return;
        }
        display_ = ":" + number;
    }
    ~XvfbServer() { stop(); }
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    bool ok() const { return !display_.empty(); }
    const std::string &error() const { return error_; }
    const std::string &display() const { return display_; }

private:
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

// Sets environment variables for its lifetime and restores them afterwards.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(
        std::vector<std::pair<std::string, std::optional<std::string>>> values) {
        for (auto &[name, value] : values) {
            const char *old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (auto &[name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// For a ScopedEnvironment: $DISPLAY on the server, no Wayland session in sight, and the cursor
// theme from the desktop's own settings.
inline std::vector<std::pair<std::string, std::optional<std::string>>>
displayVariables(const XvfbServer &server) {
    return {{"DISPLAY", server.display()},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"XDG_SESSION_TYPE", std::nullopt},
            {"XCURSOR_THEME", std::nullopt},
            {"XCURSOR_SIZE", std::nullopt}};
}

} // namespace qv::testing
