// Key chords: the short texts ("⌘S", "⌃⌥⇧⌘↑", "⎋") that the keystroke badge shows, and the rule
// for which key presses are worth recording at all. Plain typing never is: only keys pressed
// with Control, Option or Command, and a handful of navigation and function keys.
//
// Key codes are ANSI key positions (the numbering of the key-name table below), independent of
// the keyboard layout; flags are a word with the modifier bits below. The X11 event tap converts
// its events to both (x11/x_keyboard.h).
//
// Thread safety: pure functions over constant tables.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qv::KeyChords {

// Modifier bits of the flag word; glyph order in a chord is control, option, shift, command.
inline constexpr std::uint64_t controlFlag = 0x40000;
inline constexpr std::uint64_t optionFlag = 0x80000;
inline constexpr std::uint64_t shiftFlag = 0x20000;
inline constexpr std::uint64_t commandFlag = 0x100000;
// Control, Option and Command: a key pressed with any of them is a shortcut. Shift is not.
inline constexpr std::uint64_t commandTypeMask = 0x1C0000;

struct KeyName {
    std::uint16_t keyCode;
    std::string_view name;
};

// The 74 named keys.
std::span<const KeyName> keyNameTable() noexcept;
// The 22 keys recorded even without a command-type modifier: Escape, arrows, Home, End,
// Page up/down, Forward delete, F1 to F12.
std::span<const std::uint16_t> bareKeys() noexcept;

std::optional<std::string_view> keyName(std::uint16_t keyCode) noexcept;
bool isBareKey(std::uint16_t keyCode) noexcept;

// The chord for a key-down, or nothing when the press is not to be recorded.
std::optional<std::string> chord(std::uint64_t flags, std::uint16_t keyCode);

} // namespace qv::KeyChords
