// Read-only resources (fonts, wallpapers, presets) found by relative path. Folders are searched
// in order: each folder listed in QUILLVANE_RESOURCES (colon-separated), then the build tree's
// share/quillvane, then the installed share/quillvane.
//
// Thread safety: safe from any thread; the environment is read on every call, so do not change
// it while other threads look up resources.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace qv::platform {

std::vector<std::filesystem::path> resourceDirectories();

// The first existing file or folder with this relative path; nullopt when there is none or the
// path is absolute or climbs out of the folder with "..".
std::optional<std::filesystem::path> findResource(std::string_view relativePath);

} // namespace qv::platform
