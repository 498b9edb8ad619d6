// A recording's metadata and where recordings live on disk.
#pragma once

#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

struct RecordingMeta {
    std::string id;
    std::int64_t createdAtMs = 0; // milliseconds since 1970
    std::int64_t durationMs = 0;
    std::string sourceName;
    int width = 0;
    int height = 0;
    bool hasWebcam = false;
    bool hasMicrophone = false;
    bool cursorSynthetic = true; // the pointer is not in the captured pixels
    std::optional<std::string> windowCropFile;

    static constexpr const char *fileName = "meta.json";
    static Result<RecordingMeta> decode(std::string_view json, const std::string &source);
    std::string encode() const;
    // Reads "meta.json" of the directory.
    static Result<RecordingMeta> read(const std::filesystem::path &directory);
    // Reads "meta.json" of a recording's folder and refuses an `id` other than the folder's
    // name: the identifier is how the library finds the folder.
    static Result<RecordingMeta> readFromRecording(const std::filesystem::path &directory);
    Status write(const std::filesystem::path &directory) const;

    friend bool operator==(const RecordingMeta &, const RecordingMeta &) = default;
};

namespace RecordingStore {
// The library folder: $QUILLVANE_LIBRARY, else $XDG_DATA_HOME/quillvane, else
// ~/.local/share/quillvane.
std::filesystem::path libraryDirectory();
// Overrides the library folder for this process (the command line's --library flag).
void setLibraryDirectory(std::optional<std::filesystem::path> directory);
// The folder holding the library's recordings, <library>/recordings.
std::filesystem::path recordingsDirectory();
// The identifier a recording kept in `directory` carries: the folder's own name ("rec" for
// "/a/rec", "/a/rec/" and "/a/rec/.").
std::string idForFolder(const std::filesystem::path &directory);
// The recording's folder, <library>/recordings/<id>. Fails for an identifier that is not a
// plain name, and, with create false, when the folder does not exist; that error names the
// folder looked in.
Result<std::filesystem::path> recordingDirectory(const std::string &forId, bool create);
} // namespace RecordingStore

} // namespace qv
