#include "Outfitter/side_file.h"

#include "platform/core/atomic_file.h"

namespace qv::outfitter {

bool writeSideFile(const std::filesystem::path &file, std::string_view contents) noexcept {
    try {
        return platform::writeFileAtomically(file, contents).ok();
    } catch (...) {
        return false;
    }
}

std::filesystem::path sideFilePath(const std::filesystem::path &movie, std::string_view extension) {
    std::filesystem::path p = movie;
    p.replace_extension(std::string(extension));
    return p;
}

} // namespace qv::outfitter
