#include "platform/core/document_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

namespace fs = std::filesystem;

namespace {

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// True when `inner` is `outer` itself or lies below it (both already canonical).
bool isWithin(const fs::path &inner, const fs::path &outer) {
    auto o = outer.begin(), i = inner.begin();
    for (; o != outer.end(); ++o, ++i)
        if (i == inner.end() || *i != *o) return false;
    return true;
}

// The file's real location, refused when a link leads out of the folder or nowhere.
Result<fs::path> resolveInside(const fs::path &directory, const fs::path &file) {
    std::error_code ec;
    const fs::path folder = fs::canonical(directory, ec);
    if (ec) return Error{directory.string() + ": cannot open the folder: " + ec.message()};
    const fs::path real = fs::canonical(file, ec);
    if (ec) return Error{file.string() + ": cannot open: " + ec.message()};
    if (!isWithin(real, folder))
        return Error{file.string() + ": links to " + real.string() +
                     ", outside the recording folder; copy the file into the folder instead"};
    return real;
}

std::string sizeText(std::uintmax_t bytes) {
    if (bytes % (std::uintmax_t(1) << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

bool isContainedFileName(std::string_view name) noexcept {
    if (name.empty() || name == "." || name == "..") return false;
    // No separators at all also rules out absolute paths and any ".." component.
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

Status checkRecordingFile(const fs::path &directory, const fs::path &file) {
    auto real = resolveInside(directory, file);
    if (!real) return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0)
        return Error{file.string() + ": cannot open: " + std::strerror(errno)};
    if (!S_ISREG(st.st_mode)) return Error{file.string() + ": not a regular file"};
    return Ok{};
}

Result<std::optional<std::string>>
readDocumentFile(const fs::path &directory, std::string_view name, std::uintmax_t maxBytes) {
    const fs::path file = directory / fs::path(name);
    if (!isContainedFileName(name))
        return Error{file.string() + ": \"" + std::string(name) + "\" is not a plain file name"};
    struct stat link {};
    if (::lstat(file.c_str(), &link) != 0) {
        if (errno == ENOENT) return std::optional<std::string>();
        return Error{file.string() + ": cannot open: " + std::strerror(errno)};
    }
    auto real = resolveInside(directory, file);
    if (!real) return real.error();

    Descriptor d;
    // Non-blocking, so that opening a FIFO returns at once; it is refused just below.
    d.fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (d.fd < 0) return Error{file.string() + ": cannot open: " + std::strerror(errno)};
    struct stat st {};
    if (::fstat(d.fd, &st) != 0)
        return Error{file.string() + ": cannot read: " + std::strerror(errno)};
    if (!S_ISREG(st.st_mode)) return Error{file.string() + ": not a regular file"};
    const std::string tooLarge =
        file.string() + ": larger than the " + sizeText(maxBytes) + " limit for this file";
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return Error{tooLarge};
    try {
        std::string text;
        text.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(d.fd, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Error{file.string() + ": cannot read: " + std::strerror(errno)};
            }
            if (n == 0) break;
            // The file may grow while it is read.
            if (text.size() + static_cast<std::size_t>(n) > maxBytes) return Error{tooLarge};
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return std::optional<std::string>(std::move(text));
    } catch (const std::bad_alloc &) {
        return Error{file.string() + ": not enough memory to read the file"};
    }
}

} // namespace qv::platform
