// SIGINT, SIGTERM, SIGHUP and SIGPIPE for the command line: a closed terminal or a reader of our
// output that went away cancels the work like Ctrl-C, so that nothing half-written is left. The
// first three are blocked in the calling thread (and so in every thread started after it) and
// read from a signalfd by a thread of its own; SIGPIPE, which goes to the writing thread, has a
// handler that only wakes that thread. No work happens in a signal handler. Construct it before
// any other thread exists.
#pragma once

#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace qv::cli {

class SignalWatch {
public:
    // `onSignal` runs on the watcher thread, once per signal received. `others` are further
    // signals (SIGUSR1 ...) watched the same way, each with its own action.
    explicit SignalWatch(std::function<void()> onSignal,
                         std::vector<std::pair<int, std::function<void()>>> others = {});
    ~SignalWatch();
    SignalWatch(const SignalWatch &) = delete;
    SignalWatch &operator=(const SignalWatch &) = delete;

    // False when the signals could not be watched (they are then still blocked).
    bool ok() const { return watcher_.joinable(); }

private:
    int signalFd_ = -1;
    int wakeFd_ = -1;
    int pipeFd_ = -1;
    std::thread watcher_;
};

} // namespace qv::cli
