#include "platform/core/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

namespace {

std::string errnoText(int code) {
    return std::strerror(code);
}

// A hidden name beside the target, unique to this process and call.
std::filesystem::path temporarySibling(const std::filesystem::path &file, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    return folder / ("." + file.filename().string() + "." + std::to_string(::getpid()) + "." +
                     std::to_string(counter.fetch_add(1)) + "-" + std::to_string(attempt) + ".tmp");
}

} // namespace

Status writeFileAtomically(const std::filesystem::path &file,
                           const std::function<std::optional<std::string>(std::FILE *)> &write) {
    if (file.filename().empty()) return Error{file.string() + ": not a file name"};
    std::filesystem::path temp;
    int fd = -1;
    // O_EXCL with a name of our own rather than mkstemp, so a new file gets the usual
    // permissions (0666 less the umask) instead of 0600.
    for (unsigned attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = temporarySibling(file, attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return Error{file.string() + ": cannot create a temporary file: " + errnoText(errno)};
    }
    if (fd < 0) return Error{file.string() + ": cannot create a temporary file"};
    // A replaced file keeps its permissions.
    struct stat existing {};
    if (::stat(file.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);

    std::FILE *f = ::fdopen(fd, "wb");
    if (!f) {
        const int code = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return Error{file.string() + ": cannot write: " + errnoText(code)};
    }
    std::optional<std::string> problem = write(f);
    if (!problem && (std::fflush(f) != 0 || ::fsync(::fileno(f)) != 0))
        problem = "cannot write: " + errnoText(errno);
    if (std::fclose(f) != 0 && !problem) problem = "cannot close: " + errnoText(errno);
    if (!problem && ::rename(temp.c_str(), file.c_str()) != 0)
        problem = "cannot replace: " + errnoText(errno);
    if (problem) {
        ::unlink(temp.c_str());
        return Error{file.string() + ": " + *problem};
    }
    // The rename itself should reach the disk too; the file is complete either way.
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return Ok{};
}

Status writeFileAtomically(const std::filesystem::path &file, std::string_view contents) {
    return writeFileAtomically(file, [&](std::FILE *f) -> std::optional<std::string> {
        if (std::fwrite(contents.data(), 1, contents.size(), f) != contents.size())
            return "cannot write: " + errnoText(errno);
        return std::nullopt;
    });
}

} // namespace qv::platform
