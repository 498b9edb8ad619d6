#include "platform/core/partial_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qv::platform {

namespace fs = std::filesystem;

namespace {

constexpr const char *marker = ".partial-";

fs::path folderOf(const fs::path &file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

bool processAlive(long pid) {
    if (pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

bool parsePartialFileName(const std::string &name, long &pid) noexcept {
    // ".<name>.partial-<pid>-XXXXXX"
    if (name.size() < 2 || name[0] != '.') return false;
    const auto at = name.rfind(marker);
    if (at == std::string::npos || at < 2) return false;
    const char *digits = name.c_str() + at + std::strlen(marker);
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(digits, &end, 10);
    if (end == digits || *end != '-' || errno != 0 || value <= 0) return false;
    if (std::strlen(end + 1) != 6) return false;
    pid = value;
    return true;
}

Result<PartialFile> PartialFile::create(const fs::path &destination) {
    std::string pattern = (folderOf(destination) / ("." + destination.filename().string() + marker +
                                                    std::to_string(::getpid()) + "-XXXXXX"))
                              .string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return Error{destination.string() + ": cannot create the file: " + std::strerror(errno)};
    // Locked from the start: a sweep that finds it unlocked and its owner alive leaves it alone.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd);
        ::unlink(pattern.c_str());
        return Error{destination.string() + ": cannot lock the file: " + reason};
    }
    return PartialFile(fs::path(pattern), destination, fd);
}

PartialFile::PartialFile(PartialFile &&other) noexcept
    : path_(std::move(other.path_)), destination_(std::move(other.destination_)),
      lockFd_(other.lockFd_) {
    other.path_.clear();
    other.lockFd_ = -1;
}

PartialFile &PartialFile::operator=(PartialFile &&other) noexcept {
    if (this != &other) {
        discard();
        path_ = std::move(other.path_);
        destination_ = std::move(other.destination_);
        lockFd_ = other.lockFd_;
        other.path_.clear();
        other.lockFd_ = -1;
    }
    return *this;
}

PartialFile::~PartialFile() {
    discard();
}

void PartialFile::release() noexcept {
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    path_.clear();
}

void PartialFile::discard() noexcept {
    // Unlinked while still locked, so that no sweep can see it unlocked in between.
    if (!path_.empty()) ::unlink(path_.c_str());
    release();
}

Status PartialFile::commit() {
    if (path_.empty()) return Error{destination_.string() + ": nothing to commit"};
    // Whatever wrote the contents used descriptors of its own; flush the file through ours.
    if (::fsync(lockFd_) != 0)
        return Error{destination_.string() + ": cannot write the file: " + std::strerror(errno)};
    // mkstemp made it 0600; a movie is for sharing. (Reading the umask means setting it, which
    // would race with every other thread that creates a file.)
    struct stat existing {};
    const mode_t mode =
        ::stat(destination_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : mode_t(0644);
    ::fchmod(lockFd_, mode);
    if (::rename(path_.c_str(), destination_.c_str()) != 0)
        return Error{destination_.string() + ": cannot replace the file: " + std::strerror(errno)};
    if (const int dir = ::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    release();
    return Ok{};
}

int sweepAbandonedPartialFiles(const fs::path &folder) noexcept {
    int removed = 0;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        long pid = 0;
        const std::string name = it->path().filename().string();
        if (!parsePartialFileName(name, pid)) continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        // Its owner holds the lock while it writes; a live owner without the lock may be just
        // about to take it.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            !processAlive(pid) && ::unlink(it->path().c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

} // namespace qv::platform
