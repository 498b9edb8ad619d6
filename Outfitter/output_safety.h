// Checks made before an export touches anything: the movie's path must name a regular file or
// nothing, and neither the movie nor its side files may land on each other or on a file of the
// recording. Internal to the export library.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv::ExportOutput {

// The side files an export may write beside `movie`: the captions, and the report on request.
std::vector<std::filesystem::path> sideFiles(const std::filesystem::path &movie,
                                             bool includeMarkdown);

// Why the export must not write to `movie`, in words for the user; nullopt when it may.
std::optional<std::string> problem(const std::filesystem::path &recordingDirectory,
                                   const std::filesystem::path &movie, bool includeMarkdown);

} // namespace qv::ExportOutput
