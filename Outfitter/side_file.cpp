#include "Outfitter/side_file.h"

#include "platform/core/atomic_file.h"

#include <exception>
#include <new>

namespace qv::outfitter {

Status writeSideFile(const std::filesystem::path &file, std::string_view contents) noexcept {
    try {
        return platform::writeFileAtomically(file, contents);
    } catch (const std::bad_alloc &) {
        return Error{file.string() + ": not enough memory to write the file"};
    } catch (const std::exception &e) {
        return Error{file.string() + ": cannot write: " + e.what()};
    }
}

std::filesystem::path sideFilePath(const std::filesystem::path &movie, std::string_view extension) {
    std::filesystem::path p = movie;
    p.replace_extension(std::string(extension));
    return p;
}

} // namespace qv::outfitter
