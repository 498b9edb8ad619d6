// The three input track files of a recording: "clicks.json", "cursor.json" and "keys.json".
//
// Each file is one compact UTF-8 JSON object with its members in the order declared below;
// `tMs` is an integer, the other numbers are doubles, `displayId` is a string of decimal digits.
// A missing file means an empty track. docs/handtrace.md describes the formats in full.
//
// Thread safety: the records are plain values; the functions hold no state.
#pragma once

#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Mouse-button presses, in recording order.
struct ClicksFile {
    static constexpr std::string_view fileName = "clicks.json";

    struct Click {
        std::int64_t tMs = 0;
        double x = 0, y = 0;
        double screenW = 0, screenH = 0;
        std::string displayId;
        std::string button; // "left", "right" or "other"
        friend bool operator==(const Click &, const Click &) = default;
    };

    std::vector<Click> clicks;

    // The compact JSON text; fails, naming the member, when a number is not finite or a text is
    // not UTF-8.
    Result<std::string> encode() const;
    // `source` names the file in error messages.
    static Result<ClicksFile> decode(std::string_view json, std::string_view source = fileName);
    // Reads the file from a recording folder; a missing file is an empty track.
    static Result<ClicksFile> load(const std::filesystem::path &directory);

    friend bool operator==(const ClicksFile &, const ClicksFile &) = default;
};

// Pointer positions and cursor-kind changes, each in recording order.
struct CursorFile {
    static constexpr std::string_view fileName = "cursor.json";

    struct Sample {
        std::int64_t tMs = 0;
        double x = 0, y = 0;
        double screenW = 0, screenH = 0;
        std::string displayId;
        friend bool operator==(const Sample &, const Sample &) = default;
    };

    struct KindSample {
        std::int64_t tMs = 0;
        std::string kind;
        friend bool operator==(const KindSample &, const KindSample &) = default;
    };

    std::vector<Sample> samples;
    std::vector<KindSample> kinds;

    Result<std::string> encode() const;
    static Result<CursorFile> decode(std::string_view json, std::string_view source = fileName);
    static Result<CursorFile> load(const std::filesystem::path &directory);

    friend bool operator==(const CursorFile &, const CursorFile &) = default;
};

// Key chords, in recording order.
struct KeysFile {
    static constexpr std::string_view fileName = "keys.json";

    struct Entry {
        std::int64_t tMs = 0;
        std::string chord;
        friend bool operator==(const Entry &, const Entry &) = default;
    };

    std::vector<Entry> keys;

    Result<std::string> encode() const;
    static Result<KeysFile> decode(std::string_view json, std::string_view source = fileName);
    static Result<KeysFile> load(const std::filesystem::path &directory);

    friend bool operator==(const KeysFile &, const KeysFile &) = default;
};

// Writes "clicks.json", "cursor.json" and "keys.json", in that order, into `directory`: each
// only when its track has records ("cursor.json" when it has pointer samples), each atomically.
// A file that cannot be encoded or written leaves nothing behind and does not stop the others.
// Returns the names of the files written, or an Error naming every file that failed and why.
Result<std::vector<std::string>> writeTrackFiles(const std::filesystem::path &directory,
                                                 const ClicksFile &clicks, const CursorFile &cursor,
                                                 const KeysFile &keys);

} // namespace qv
