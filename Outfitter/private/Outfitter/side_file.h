// Writes a side file (report, captions) beside a movie: the whole text goes to a temporary file
// in the same folder, is flushed to disk and then renamed over the target, so a reader never
// sees half a file and a failed write leaves the old one in place. Internal to Outfitter.
#pragma once

#include "platform/core/result.h"

#include <filesystem>
#include <string_view>

namespace qv::outfitter {

// Fails, naming the file and the step, when any step failed; nothing is left behind then.
Status writeSideFile(const std::filesystem::path &file, std::string_view contents) noexcept;

// The movie's path with its extension replaced ("demo.mp4" -> "demo.md").
std::filesystem::path sideFilePath(const std::filesystem::path &movie, std::string_view extension);

} // namespace qv::outfitter
