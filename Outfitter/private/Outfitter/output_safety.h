// Checks made before an export touches anything: the movie's path must name a regular file or
// nothing, and neither the movie nor its side files may land on each other or on a file of the
// recording, and its extension may not name another container than the preset writes. Internal
// to the export library.
#pragma once

#include "Outfitter/export_preset.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv::ExportOutput {

// The side files an export may write beside `movie`: the captions, and the report on request.
std::vector<std::filesystem::path> sideFiles(const std::filesystem::path &movie,
                                             bool includeMarkdown);

// The extensions, lowercase and without the dot, of the container that `preset` writes; the
// first is the preset's own.
std::vector<std::string> acceptedExtensions(ExportPreset preset);

// Why the export must not write to `movie`, in words for the user; nullopt when it may. A name
// without an extension is taken as it is.
std::optional<std::string> problem(const std::filesystem::path &recordingDirectory,
                                   const std::filesystem::path &movie, ExportPreset preset,
                                   bool includeMarkdown);

} // namespace qv::ExportOutput
