// The recorded input tracks, as the instruction carries them. Plain values.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// A pointer position (or a click) at a source millisecond; x and y are fractions of the
// captured source, from the left and from the top.
struct CursorSample {
    std::int64_t tMs = 0;
    double x = 0;
    double y = 0;
    friend bool operator==(const CursorSample &, const CursorSample &) = default;
};

// The system cursor kind in force from tMs on.
struct CursorKindSample {
    std::int64_t tMs = 0;
    std::string kind;
    friend bool operator==(const CursorKindSample &, const CursorKindSample &) = default;
};

// A keyboard shortcut as displayed.
struct KeyChord {
    std::int64_t tMs = 0;
    std::string text;
    friend bool operator==(const KeyChord &, const KeyChord &) = default;
};

} // namespace qv
