#include "Handtrace/cursor_kinds.h"

#include <array>

namespace qv::CursorKinds {

namespace {

using namespace std::string_view_literals;

struct Kind {
    std::string_view name;
    std::span<const std::string_view> cursorNames;
};

// Xcursor theme names, the CSS names that GTK and Qt set, and the hash names that older
// toolkits still use for the same shapes.
constexpr std::array arrowNames{"left_ptr"sv, "default"sv, "arrow"sv, "top_left_arrow"sv,
                                "left_arrow"sv};
constexpr std::array iBeamNames{"xterm"sv, "text"sv, "ibeam"sv};
constexpr std::array pointingHandNames{"hand2"sv,
                                       "pointer"sv,
                                       "hand"sv,
                                       "pointing_hand"sv,
                                       "e29285e634086352946a0e7090d73106"sv,
                                       "9d800788f1b08800ae810202380a0822"sv};
constexpr std::array openHandNames{"grab"sv, "openhand"sv, "hand1"sv};
constexpr std::array closedHandNames{"grabbing"sv, "closedhand"sv};
constexpr std::array crosshairNames{"crosshair"sv, "cross"sv, "tcross"sv, "cross_reverse"sv,
                                    "diamond_cross"sv};
constexpr std::array resizeLeftRightNames{"sb_h_double_arrow"sv,
                                          "ew-resize"sv,
                                          "col-resize"sv,
                                          "h_double_arrow"sv,
                                          "size_hor"sv,
                                          "split_h"sv,
                                          "028006030e0e7ebffc7f7070c0600140"sv,
                                          "14fef782d02440884392942c11205230"sv};
constexpr std::array resizeUpDownNames{"sb_v_double_arrow"sv,
                                       "ns-resize"sv,
                                       "row-resize"sv,
                                       "v_double_arrow"sv,
                                       "size_ver"sv,
                                       "double_arrow"sv,
                                       "split_v"sv,
                                       "00008160000006810000408080010102"sv,
                                       "2870a09082c103050810ffdffffe0204"sv};
constexpr std::array resizeLeftNames{"left_side"sv, "w-resize"sv};
constexpr std::array resizeRightNames{"right_side"sv, "e-resize"sv};
constexpr std::array resizeUpNames{"top_side"sv, "n-resize"sv};
constexpr std::array resizeDownNames{"bottom_side"sv, "s-resize"sv};
constexpr std::array notAllowedNames{"not-allowed"sv,
                                     "crossed_circle"sv,
                                     "no-drop"sv,
                                     "dnd-no-drop"sv,
                                     "forbidden"sv,
                                     "circle"sv,
                                     "03b6e0fcb3499374a867c041f52298f0"sv};
constexpr std::array contextualMenuNames{"context-menu"sv};
constexpr std::array disappearingItemNames{"pirate"sv};
constexpr std::array dragCopyNames{"copy"sv, "dnd-copy"sv, "1081e37283d90000800003c07f3ef6bf"sv,
                                   "6407b0e94181790501fd1e167b474872"sv};
constexpr std::array dragLinkNames{"alias"sv, "link"sv, "dnd-link"sv,
                                   "3085a0e285430894940527032f8b26df"sv,
                                   "640fb0e74195791501fd1ed57b41487f"sv};
constexpr std::array iBeamVerticalNames{"vertical-text"sv};

constexpr std::array<Kind, 18> kinds{{
    {"arrow", arrowNames},
    {"iBeam", iBeamNames},
    {"pointingHand", pointingHandNames},
    {"openHand", openHandNames},
    {"closedHand", closedHandNames},
    {"crosshair", crosshairNames},
    {"resizeLeftRight", resizeLeftRightNames},
    {"resizeUpDown", resizeUpDownNames},
    {"resizeLeft", resizeLeftNames},
    {"resizeRight", resizeRightNames},
    {"resizeUp", resizeUpNames},
    {"resizeDown", resizeDownNames},
    {"operationNotAllowed", notAllowedNames},
    {"contextualMenu", contextualMenuNames},
    {"disappearingItem", disappearingItemNames},
    {"dragCopy", dragCopyNames},
    {"dragLink", dragLinkNames},
    {"iBeamVertical", iBeamVerticalNames},
}};

constexpr std::array<std::string_view, 18> names = [] {
    std::array<std::string_view, 18> out{};
    for (std::size_t i = 0; i < kinds.size(); ++i) out[i] = kinds[i].name;
    return out;
}();

} // namespace

std::span<const std::string_view> kindNames() noexcept {
    return names;
}

std::span<const std::string_view> cursorNamesFor(std::string_view kind) noexcept {
    for (const Kind &k : kinds)
        if (k.name == kind) return k.cursorNames;
    return {};
}

std::optional<std::string_view> kindForCursorName(std::string_view cursorName) noexcept {
    for (const Kind &k : kinds)
        for (std::string_view n : k.cursorNames)
            if (n == cursorName) return k.name;
    return std::nullopt;
}

Fingerprint fingerprint(std::uint32_t width, std::uint32_t height,
                        std::span<const std::uint32_t> argb) noexcept {
    // FNV-1a over the size and the pixels; it needs to be stable only within one run.
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](std::uint32_t word) {
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (word >> shift) & 0xff;
            h *= 0x100000001b3ull;
        }
    };
    mix(width);
    mix(height);
    for (std::uint32_t p : argb) mix(p);
    return h;
}

KindTable
KindTable::build(const std::function<std::vector<Fingerprint>(std::string_view)> &imagesOf) {
    KindTable table;
    for (const Kind &k : kinds)
        for (std::string_view cursorName : k.cursorNames)
            for (Fingerprint print : imagesOf(cursorName)) table.kinds_.try_emplace(print, k.name);
    return table;
}

std::optional<std::string_view> KindTable::lookup(Fingerprint print) const {
    auto it = kinds_.find(print);
    if (it == kinds_.end()) return std::nullopt;
    return it->second;
}

std::string_view classify(const std::optional<CurrentCursor> &cursor,
                          const std::function<const KindTable &()> &table) {
    if (!cursor) return defaultKind;
    if (!cursor->name.empty())
        if (auto kind = kindForCursorName(cursor->name)) return *kind;
    // An unnamed cursor, or one with a name of its own: its image may still be a theme image.
    if (!cursor->image) return defaultKind;
    return table().lookup(*cursor->image).value_or(defaultKind);
}

} // namespace qv::CursorKinds
