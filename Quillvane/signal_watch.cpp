#include "signal_watch.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace qv::cli {

namespace {

// SIGPIPE is raised in the thread that wrote to the closed pipe, which a signalfd read on
// another thread never sees; its handler only wakes the watcher.
std::atomic<int> brokenPipeFd{-1};

void onBrokenPipe(int) {
    const int fd = brokenPipeFd.load();
    if (fd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

} // namespace

SignalWatch::SignalWatch(std::function<void()> onSignal,
                         std::vector<std::pair<int, std::function<void()>>> others) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    for (const auto &other : others) sigaddset(&set, other.first);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    pipeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ < 0 || wakeFd_ < 0 || pipeFd_ < 0) return;
    brokenPipeFd.store(pipeFd_);
    struct sigaction action {};
    action.sa_handler = onBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
    watcher_ = std::thread([this, onSignal = std::move(onSignal), others = std::move(others)] {
        for (;;) {
            pollfd fds[3] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {pipeFd_, POLLIN, 0}};
            if (::poll(fds, 3, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents & POLLIN) return;
            if (fds[0].revents & POLLIN) {
                signalfd_siginfo info{};
                [[maybe_unused]] ssize_t n = ::read(signalFd_, &info, sizeof info);
                bool handled = false;
                for (const auto &[number, action] : others)
                    if (int(info.ssi_signo) == number) {
                        action();
                        handled = true;
                    }
                if (!handled) onSignal();
            }
            if (fds[2].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] ssize_t n = ::read(pipeFd_, &count, sizeof count);
                onSignal();
            }
        }
    });
}

SignalWatch::~SignalWatch() {
    if (watcher_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        watcher_.join();
    }
    // A broken pipe from now on only fails the write, as with the signal ignored.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (brokenPipeFd.load() == pipeFd_) sigaction(SIGPIPE, &ignore, nullptr);
    brokenPipeFd.store(-1);
    if (pipeFd_ >= 0) ::close(pipeFd_);
    if (signalFd_ >= 0) ::close(signalFd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

} // namespace qv::cli
