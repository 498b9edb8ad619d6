#include "terminal_keys.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace qv::cli {

TerminalKeys::TerminalKeys(std::function<void(char)> onKey) {
    if (!::isatty(0) || ::tcgetattr(0, &saved_) != 0) return;
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) return;
    termios raw = saved_;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(0, TCSANOW, &raw) != 0) return;
    reader_ = std::thread([this, onKey = std::move(onKey)] {
        for (;;) {
            pollfd fds[2] = {{0, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents & POLLIN) return;
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                char c = 0;
                if (::read(0, &c, 1) != 1) return;
                onKey(c);
            }
        }
    });
}

TerminalKeys::~TerminalKeys() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        reader_.join();
        ::tcsetattr(0, TCSANOW, &saved_);
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

} // namespace qv::cli
