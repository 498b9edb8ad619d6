// Cursor kinds: the eighteen names under which the recorder writes the system cursor that was
// showing ("arrow", "iBeam", "pointingHand", ...), and how a cursor is matched to one of them.
//
// An X cursor is matched by its name first (the Xcursor theme names and the CSS names that
// toolkits set, "xterm" or "text" for "iBeam"), and when it has no known name, by a fingerprint
// of its image against the images of the desktop's cursor theme. What matches nothing is an
// "arrow".
//
// Thread safety: the functions are pure; a KindTable is immutable once built.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv::CursorKinds {

inline constexpr std::string_view defaultKind = "arrow";

// The eighteen kind names, in table order (earlier kinds win shared images).
std::span<const std::string_view> kindNames() noexcept;

// The X cursor names of a kind, most common first; empty for an unknown kind.
std::span<const std::string_view> cursorNamesFor(std::string_view kind) noexcept;
// The kind an X cursor name stands for, if it is one of the known names.
std::optional<std::string_view> kindForCursorName(std::string_view cursorName) noexcept;

// A fingerprint of a cursor image: equal pixels give equal fingerprints.
using Fingerprint = std::uint64_t;
Fingerprint fingerprint(std::uint32_t width, std::uint32_t height,
                        std::span<const std::uint32_t> argb) noexcept;

// Image fingerprint -> kind name, built from the theme's images of each kind's cursors.
class KindTable {
public:
    // `imagesOf(cursorName)` gives the fingerprints of that cursor's theme images (every size
    // and animation frame); a cursor the theme lacks gives none. Kinds are visited in table
    // order and each kind's names in order; a fingerprint keeps the first kind that had it.
    static KindTable
    build(const std::function<std::vector<Fingerprint>(std::string_view)> &imagesOf);

    std::optional<std::string_view> lookup(Fingerprint print) const;
    std::size_t size() const noexcept { return kinds_.size(); }

private:
    std::unordered_map<Fingerprint, std::string_view> kinds_;
};

// What the display says about the cursor showing now.
struct CurrentCursor {
    std::string name;                 // empty when the cursor has none
    std::optional<Fingerprint> image; // absent when its image could not be had
};

// The kind of the cursor showing: by name, else by image, else "arrow". The table is asked for
// only when the image is needed, so that it is built on first need.
std::string_view classify(const std::optional<CurrentCursor> &cursor,
                          const std::function<const KindTable &()> &table);

} // namespace qv::CursorKinds
