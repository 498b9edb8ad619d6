#include "Handtrace/tap_run_loop.h"

#include "Handtrace/input_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qv {

TapRunLoop::TapRunLoop() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
}

TapRunLoop::~TapRunLoop() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TapRunLoop::addSource(int fd, std::function<void()> onReady) {
    sources_.push_back(Source{fd, std::move(onReady)});
}

void TapRunLoop::removeSource(int fd) {
    // Marked only: the loop may be walking the list when a callback removes its own source.
    for (Source &s : sources_)
        if (s.fd == fd) s.removed = true;
}

void TapRunLoop::runAt(double when, std::function<void()> task) {
    timedAt_ = when;
    timedTask_ = std::move(task);
}

void TapRunLoop::run() {
    if (!valid()) return;
    std::vector<pollfd> fds;
    for (;;) {
        if (timedTask_ && hostSeconds() >= timedAt_) {
            auto task = std::move(timedTask_);
            timedTask_ = nullptr;
            task(); // may set the next one
            continue;
        }
        std::erase_if(sources_, [](const Source &s) { return s.removed; });
        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        for (const Source &s : sources_) fds.push_back(pollfd{s.fd, POLLIN, 0});
        timespec timeout{};
        const timespec *wait = nullptr; // no timed task: wait for readiness only
        if (timedTask_) {
            const double left = std::max(0.0, timedAt_ - hostSeconds());
            timeout.tv_sec = static_cast<time_t>(left);
            timeout.tv_nsec = static_cast<long>((left - double(timeout.tv_sec)) * 1e9);
            wait = &timeout;
        }
        const int n = ::ppoll(fds.data(), fds.size(), wait, nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        // The wake-up stays readable once stopped, so every later run() returns at once too.
        if (fds[0].revents != 0) return;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            // Index i-1 still names the same source: removal only marks until the next pass.
            Source &s = sources_[i - 1];
            if (!s.removed) s.onReady();
        }
    }
}

void TapRunLoop::stop() noexcept {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still readable, which is all that is needed.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

} // namespace qv
