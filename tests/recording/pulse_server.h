// A private sound server for tests: a PulseAudio daemon in a folder of its own with one null
// sink, "qvnull", whose monitor source "qvnull.monitor" hears whatever is played. Clients find it
// through PULSE_SERVER (environment()). Stopped with the object.
#pragma once

#include "recording/child_process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv::testing {

class PulseServer {
public:
    PulseServer() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("qv-pulse-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder_);
        const std::string dir = folder_.string();
        daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            "env", "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir, "PULSE_RUNTIME_PATH=" + dir,
            "PULSE_STATE_PATH=" + dir, "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
            "--disable-shm=true", "--use-pid-file=false", "--log-target=stderr", "-L",
            "module-null-sink sink_name=qvnull", "-L",
            "module-native-protocol-unix socket=" + dir + "/native auth-anonymous=1"});
        // Ready once a client gets an answer.
        for (int i = 0; i < 100 && !ok_; ++i) {
            ok_ = std::system(
                      ("PULSE_SERVER=" + server() + " pactl info > /dev/null 2>&1").c_str()) == 0;
            if (!ok_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~PulseServer() {
        daemon_.reset();
        std::filesystem::remove_all(folder_);
    }
    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;

    bool ok() const { return ok_; }
    // Waits (at most 10 s) until the null sink's monitor delivers sound in real time: the sink
    // renders its first blocks with a long latency until a stream asks for a short one.
    bool waitForSound() const {
        const std::string probe = "PULSE_SERVER=" + server() +
                                  " timeout 0.5 parec -d qvnull.monitor --format=s16le "
                                  "--rate=48000 --channels=1 --latency-msec=20 | wc -c";
        for (int i = 0; i < 20; ++i) {
            std::FILE *p = ::popen(probe.c_str(), "r");
            long bytes = 0;
            if (p) {
                if (std::fscanf(p, "%ld", &bytes) != 1) bytes = 0;
                ::pclose(p);
            }
            // 0.35 s of the half second.
            if (bytes >= 48000 * 2 * 35 / 100) return true;
        }
        return false;
    }
    std::string server() const { return "unix:" + (folder_ / "native").string(); }
    std::vector<std::pair<std::string, std::optional<std::string>>> environment() const {
        return {{"PULSE_SERVER", server()}};
    }

private:
    std::filesystem::path folder_;
    std::unique_ptr<ChildProcess> daemon_;
    bool ok_ = false;
};

} // namespace qv::testing
