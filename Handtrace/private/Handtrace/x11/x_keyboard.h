// X11 keys in the chord vocabulary.
//
// Key codes: an X key code is the kernel's evdev code plus 8, the physical key whatever the
// layout, so a fixed table maps it to the ANSI key position that KeyChords names (X 39, evdev
// KEY_S, is ANSI 1, "S"). Modifiers: raw XInput2 events carry no modifier state, and reading it
// when an event is handled is racy, so ModifierTracker follows the presses and releases of the
// modifier keys themselves. Which keys those are comes from the keyboard mapping (Control_L/R
// → Control, Alt_L/R and Meta_L/R → Option, Shift_L/R → Shift, Super_L/R → Command), so that a
// key remapped to Control counts as Control.
//
// Thread safety: ansiKeyCode and modifierFlagForKeysym are pure; a ModifierTracker belongs to
// one thread.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

namespace qv::x11 {

// The ANSI key position of an X key code; nothing for keys that have none.
std::optional<std::uint16_t> ansiKeyCode(std::uint8_t xKeyCode) noexcept;

// KeyChords' modifier bit for a keysym, 0 for keysyms that are no modifier we show.
std::uint64_t modifierFlagForKeysym(std::uint32_t keysym) noexcept;

class ModifierTracker {
public:
    // Until a mapping is set, the modifier keys are the standard evdev ones.
    ModifierTracker();

    // From GetKeyboardMapping: `keysymsPerKeyCode` keysyms for each key code from `firstKeyCode`
    // on. A key counts as the first modifier found among its keysyms.
    void setKeyboardMapping(std::uint8_t firstKeyCode, std::uint8_t keysymsPerKeyCode,
                            std::span<const std::uint32_t> keysyms);
    // From QueryKeymap: the keys held now, one bit per key code.
    void setPressedKeys(std::span<const std::uint8_t, 32> keymap);

    // Releases may come twice or out of order (synthetic input does both); each only clears.
    void press(std::uint8_t xKeyCode) noexcept { down_.set(xKeyCode); }
    void release(std::uint8_t xKeyCode) noexcept { down_.reset(xKeyCode); }

    // The modifier bits of the keys held now.
    std::uint64_t flags() const noexcept;

private:
    std::array<std::uint64_t, 256> flagOf_{};
    std::bitset<256> down_;
};

} // namespace qv::x11
