// A file being written in place of a destination: a hidden sibling named
// ".<name>.partial-<pid>-XXXXXX", locked (flock) for as long as its owner holds it, then renamed
// over the destination. A process that is killed leaves the file unlocked, so a later writer
// to the same folder can tell an abandoned partial file from one still being written and
// sweep it away.
//
// Thread safety: one thread at a time per object. Lifetime: destroying an uncommitted partial
// file removes it; the destination is never touched until commit().
#pragma once

#include "platform/core/result.h"

#include <filesystem>

namespace qv::platform {

class PartialFile {
public:
    static Result<PartialFile> create(const std::filesystem::path &destination);
    PartialFile(PartialFile &&other) noexcept;
    PartialFile &operator=(PartialFile &&other) noexcept;
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;
    ~PartialFile();

    // Empty once committed or discarded.
    const std::filesystem::path &path() const noexcept { return path_; }

    // Flushes the file to disk and renames it over the destination, keeping a replaced file's
    // permissions (a new file gets 0644).
    Status commit();
    // Removes the file; the destination stays as it was.
    void discard() noexcept;

private:
    PartialFile(std::filesystem::path path, std::filesystem::path destination, int lockFd)
        : path_(std::move(path)), destination_(std::move(destination)), lockFd_(lockFd) {}
    void release() noexcept;

    std::filesystem::path path_, destination_;
    int lockFd_ = -1;
};

// Removes the partial files in `folder` that no live process holds; returns how many.
int sweepAbandonedPartialFiles(const std::filesystem::path &folder) noexcept;

// Whether `name` is a partial file's name, and if so the owner's process id.
bool parsePartialFileName(const std::string &name, long &pid) noexcept;

} // namespace qv::platform
