// A child process of a test, its standard output and error read through pipes and its standard
// input held open (closing it tells the test clients to end). Killed when the object goes.
// With `onTerminal`, standard input and error are a pseudo-terminal instead: type() writes keys
// to it and err() reads what the child draws there.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qv::testing {

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string> &argv, bool onTerminal = false) {
        int in[2], out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        if (onTerminal) {
            int terminal = -1;
            if (::openpty(&in[1], &terminal, nullptr, nullptr, nullptr) != 0) return;
            ::fcntl(in[1], F_SETFD, FD_CLOEXEC);
            ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
            in[0] = terminal;
            err[0] = ::dup(in[1]);
            err[1] = ::dup(terminal);
        } else if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (onTerminal) ::setsid();
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char *> args;
            for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_})
            if (fd >= 0) ::close(fd);
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Reads standard output until it holds `text`; false at its end or after 20 s of silence.
    bool waitForOutput(const std::string &text) {
        while (outText_.find(text) == std::string::npos)
            if (!readSome(out_, outText_)) return false;
        return true;
    }
    bool waitForError(const std::string &text) {
        while (errText_.find(text) == std::string::npos)
            if (!readSome(err_, errText_)) return false;
        return true;
    }
    void signal(int number) { ::kill(pid_, number); }
    void type(const std::string &keys) {
        [[maybe_unused]] ssize_t n = ::write(in_, keys.data(), keys.size());
    }
    // Waits for the exit and collects the rest of the output. The exit status, or 128 + signal.
    int finish() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
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
    int in_ = -1, out_ = -1, err_ = -1;
    std::string outText_, errText_;
};

} // namespace qv::testing
