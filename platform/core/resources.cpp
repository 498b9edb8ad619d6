#include "platform/core/resources.h"

#include <cstdlib>
#include <string>
#include <system_error>

#ifndef QV_BUILD_SHARE_DIR
#error "QV_BUILD_SHARE_DIR must be defined by the build"
#endif
#ifndef QV_INSTALL_SHARE_DIR
#error "QV_INSTALL_SHARE_DIR must be defined by the build"
#endif

namespace qv::platform {

std::vector<std::filesystem::path> resourceDirectories() {
    std::vector<std::filesystem::path> folders;
    if (const char *env = std::getenv("QUILLVANE_RESOURCES")) {
        std::string_view list = env;
        while (!list.empty()) {
            const std::size_t colon = list.find(':');
            const std::string_view entry = list.substr(0, colon);
            if (!entry.empty()) folders.emplace_back(entry);
            if (colon == std::string_view::npos) break;
            list.remove_prefix(colon + 1);
        }
    }
    folders.emplace_back(QV_BUILD_SHARE_DIR);
    folders.emplace_back(QV_INSTALL_SHARE_DIR);
    return folders;
}

std::optional<std::filesystem::path> findResource(std::string_view relativePath) {
    const std::filesystem::path relative(relativePath);
    if (relative.empty() || relative.is_absolute()) return std::nullopt;
    for (const auto &part : relative) {
        if (part == "..") return std::nullopt;
    }
    for (const auto &folder : resourceDirectories()) {
        std::filesystem::path candidate = folder / relative;
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

} // namespace qv::platform
