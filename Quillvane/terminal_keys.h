// Single key presses from the terminal, for commands that run until stopped: the terminal is
// put in non-canonical mode without echo for the object's lifetime and restored afterwards.
// Nothing happens when standard input is not a terminal.
#pragma once

#include <functional>
#include <thread>

#include <termios.h>

namespace qv::cli {

class TerminalKeys {
public:
    // `onKey` runs on a thread of the object's own, once per byte read.
    explicit TerminalKeys(std::function<void(char)> onKey);
    ~TerminalKeys();
    TerminalKeys(const TerminalKeys &) = delete;
    TerminalKeys &operator=(const TerminalKeys &) = delete;

    bool active() const { return reader_.joinable(); }

private:
    int wakeFd_ = -1;
    termios saved_{};
    std::thread reader_;
};

} // namespace qv::cli
