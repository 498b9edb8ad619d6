// Replacing a file so that it is either the old one or the complete new one, never a partial
// file: the contents go to a hidden temporary file beside the target, are flushed to disk, and
// the temporary file is renamed over the target. On failure the temporary file is removed and
// the target is left as it was.
// Thread safety: concurrent writers use distinct temporary files; the last rename wins.
#pragma once

#include "platform/core/result.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qv::platform {

Status writeFileAtomically(const std::filesystem::path &file, std::string_view contents);

// For writers that stream into a FILE (image encoders). `write` returns nothing on success or
// the problem in words; errors name the file.
Status writeFileAtomically(const std::filesystem::path &file,
                           const std::function<std::optional<std::string>(std::FILE *)> &write);

} // namespace qv::platform
