// Runs one export through the export engine on a run loop, for `quillvane export` and
// `quillvane demo`: shows progress, turns Ctrl-C into a clean cancel, prints the outcome and
// returns the exit status (0 only for a finished export).
#pragma once

#include "Outfitter/export_engine.h"

#include <filesystem>
#include <optional>
#include <string>

namespace qv::cli {

// A recording named by its identifier in the library, or a folder taken as it is.
struct ExportTarget {
    std::string recordingId;
    std::optional<std::filesystem::path> directory;
    std::optional<RecordingMeta> meta;

    static ExportTarget folder(const std::filesystem::path &dir, const RecordingMeta &meta) {
        return {meta.id, dir, meta};
    }
};

// Exit status: 0 finished, 1 failed, 130 cancelled.
// With `ignoreEdits`, the default edit document is used whatever "edits.json" holds.
int runExport(const ExportTarget &target, ExportPreset preset, const std::filesystem::path &output,
              bool markdown, const char *program, bool ignoreEdits = false);

} // namespace qv::cli
