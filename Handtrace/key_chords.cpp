#include "Handtrace/key_chords.h"

#include <algorithm>
#include <array>

namespace qv::KeyChords {

namespace {

constexpr std::array<KeyName, 74> keyNames{{
    // Letters
    {0, "A"},
    {1, "S"},
    {2, "D"},
    {3, "F"},
    {4, "H"},
    {5, "G"},
    {6, "Z"},
    {7, "X"},
    {8, "C"},
    {9, "V"},
    {11, "B"},
    {12, "Q"},
    {13, "W"},
    {14, "E"},
    {15, "R"},
    {16, "Y"},
    {17, "T"},
    {31, "O"},
    {32, "U"},
    {34, "I"},
    {35, "P"},
    {37, "L"},
    {38, "J"},
    {40, "K"},
    {45, "N"},
    {46, "M"},
    // Digits
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {23, "5"},
    {22, "6"},
    {26, "7"},
    {28, "8"},
    {25, "9"},
    {29, "0"},
    // Punctuation, by its unshifted character
    {24, "="},
    {27, "-"},
    {30, "]"},
    {33, "["},
    {39, "'"},
    {41, ";"},
    {42, "\\"},
    {43, ","},
    {44, "/"},
    {47, "."},
    {50, "`"},
    // Named keys
    {49, "Space"},
    {48, "⇥"},
    {36, "↩"},
    {76, "↩"},
    {51, "⌫"},
    {117, "⌦"},
    {53, "⎋"},
    {123, "←"},
    {124, "→"},
    {125, "↓"},
    {126, "↑"},
    {115, "Home"},
    {119, "End"},
    {116, "PgUp"},
    {121, "PgDn"},
    {122, "F1"},
    {120, "F2"},
    {99, "F3"},
    {118, "F4"},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {100, "F8"},
    {101, "F9"},
    {109, "F10"},
    {103, "F11"},
    {111, "F12"},
}};

constexpr std::array<std::uint16_t, 22> bareKeyCodes{
    53,                                                       // Escape
    123, 124, 125, 126,                                       // arrows
    115, 119, 116, 121,                                       // Home, End, Page up, Page down
    117,                                                      // Forward delete
    122, 120, 99,  118, 96, 97, 98, 100, 101, 109, 103, 111}; // F1 to F12

} // namespace

std::span<const KeyName> keyNameTable() noexcept {
    return keyNames;
}

std::span<const std::uint16_t> bareKeys() noexcept {
    return bareKeyCodes;
}

std::optional<std::string_view> keyName(std::uint16_t keyCode) noexcept {
    for (const KeyName &k : keyNames)
        if (k.keyCode == keyCode) return k.name;
    return std::nullopt;
}

bool isBareKey(std::uint16_t keyCode) noexcept {
    return std::find(bareKeyCodes.begin(), bareKeyCodes.end(), keyCode) != bareKeyCodes.end();
}

std::optional<std::string> chord(std::uint64_t flags, std::uint16_t keyCode) {
    if ((flags & commandTypeMask) == 0 && !isBareKey(keyCode)) return std::nullopt;
    const auto name = keyName(keyCode);
    if (!name) return std::nullopt;
    std::string text;
    if (flags & controlFlag) text += "⌃";
    if (flags & optionFlag) text += "⌥";
    if (flags & shiftFlag) text += "⇧";
    if (flags & commandFlag) text += "⌘";
    text += *name;
    return text;
}

} // namespace qv::KeyChords
