#include "Handtrace/x11/x_keyboard.h"

#include "Handtrace/key_chords.h"

namespace qv::x11 {

namespace {

struct KeyPosition {
    std::uint8_t xKeyCode;
    std::uint16_t ansi;
};

// X key code (evdev + 8) → ANSI key position. Keys that an ANSI keyboard lacks, or that no
// chord names, may still appear so that the mapping is complete where it is known.
constexpr KeyPosition keyPositions[] = {
    {9, 53},                                                             // Escape
    {10, 18},   {11, 19},   {12, 20},   {13, 21},   {14, 23},  {15, 22}, // 1 to 6
    {16, 26},   {17, 28},   {18, 25},   {19, 29},                        // 7, 8, 9, 0
    {20, 27},   {21, 24},   {22, 51},   {23, 48},                        // - = BackSpace Tab
    {24, 12},   {25, 13},   {26, 14},   {27, 15},   {28, 17},  {29, 16}, // Q W E R T Y
    {30, 32},   {31, 34},   {32, 31},   {33, 35},   {34, 33},  {35, 30}, // U I O P [ ]
    {36, 36},   {37, 59},                                                // Return, Control_L
    {38, 0},    {39, 1},    {40, 2},    {41, 3},    {42, 5},   {43, 4},  // A S D F G H
    {44, 38},   {45, 40},   {46, 37},   {47, 41},   {48, 39},  {49, 50}, // J K L ; ' `
    {50, 56},   {51, 42},                                                // Shift_L, backslash
    {52, 6},    {53, 7},    {54, 8},    {55, 9},    {56, 11},  {57, 45}, // Z X C V B N
    {58, 46},   {59, 43},   {60, 47},   {61, 44},                        // M , . /
    {62, 60},   {63, 67},   {64, 58},   {65, 49},   {66, 57},  // Shift_R KP* Alt_L space Caps
    {67, 122},  {68, 120},  {69, 99},   {70, 118},  {71, 96},  // F1 to F5
    {72, 97},   {73, 98},   {74, 100},  {75, 101},  {76, 109}, // F6 to F10
    {77, 71},                                                  // Num_Lock: keypad Clear
    {79, 89},   {80, 91},   {81, 92},   {82, 78},              // KP 7 8 9 -
    {83, 86},   {84, 87},   {85, 88},   {86, 69},              // KP 4 5 6 +
    {87, 83},   {88, 84},   {89, 85},   {90, 82},   {91, 65},  // KP 1 2 3 0 .
    {94, 10},                                                  // ISO key beside Shift_L
    {95, 103},  {96, 111},                                     // F11, F12
    {104, 76},  {105, 62},  {106, 75},  {108, 61},             // KP Enter, Control_R, KP /, Alt_R
    {110, 115}, {111, 126}, {112, 116}, {113, 123},            // Home Up Prior Left
    {114, 124}, {115, 119}, {116, 125}, {117, 121},            // Right End Down Next
    {118, 114}, {119, 117},                                    // Insert (Help), Delete
    {121, 74},  {122, 73},  {123, 72},  {125, 81},             // Mute Vol- Vol+ KP=
    {133, 55},  {134, 54},                                     // Super_L, Super_R
    {191, 105}, {192, 107}, {193, 113}, {194, 106},            // F13 to F16
    {195, 64},  {196, 79},  {197, 80},  {198, 90},             // F17 to F20
};

constexpr std::array<std::int32_t, 256> ansiTable = [] {
    std::array<std::int32_t, 256> table{};
    for (auto &entry : table) entry = -1;
    for (const KeyPosition &k : keyPositions) table[k.xKeyCode] = k.ansi;
    return table;
}();

// Keysyms of the modifier keys (X11/keysymdef.h).
constexpr std::uint32_t XK_Shift_L = 0xffe1, XK_Shift_R = 0xffe2, XK_Control_L = 0xffe3,
                        XK_Control_R = 0xffe4, XK_Meta_L = 0xffe7, XK_Meta_R = 0xffe8,
                        XK_Alt_L = 0xffe9, XK_Alt_R = 0xffea, XK_Super_L = 0xffeb,
                        XK_Super_R = 0xffec;

} // namespace

std::optional<std::uint16_t> ansiKeyCode(std::uint8_t xKeyCode) noexcept {
    const std::int32_t ansi = ansiTable[xKeyCode];
    if (ansi < 0) return std::nullopt;
    return static_cast<std::uint16_t>(ansi);
}

std::uint64_t modifierFlagForKeysym(std::uint32_t keysym) noexcept {
    switch (keysym) {
    case XK_Control_L:
    case XK_Control_R:
        return KeyChords::controlFlag;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
        return KeyChords::optionFlag;
    case XK_Shift_L:
    case XK_Shift_R:
        return KeyChords::shiftFlag;
    case XK_Super_L:
    case XK_Super_R:
        return KeyChords::commandFlag;
    default:
        return 0;
    }
}

ModifierTracker::ModifierTracker() {
    flagOf_[37] = flagOf_[105] = KeyChords::controlFlag;
    flagOf_[64] = flagOf_[108] = KeyChords::optionFlag;
    flagOf_[50] = flagOf_[62] = KeyChords::shiftFlag;
    flagOf_[133] = flagOf_[134] = KeyChords::commandFlag;
}

void ModifierTracker::setKeyboardMapping(std::uint8_t firstKeyCode, std::uint8_t keysymsPerKeyCode,
                                         std::span<const std::uint32_t> keysyms) {
    if (keysymsPerKeyCode == 0) return;
    flagOf_.fill(0);
    const std::size_t keys = keysyms.size() / keysymsPerKeyCode;
    for (std::size_t k = 0; k < keys && firstKeyCode + k < flagOf_.size(); ++k) {
        for (std::size_t s = 0; s < keysymsPerKeyCode; ++s) {
            const std::uint64_t flag = modifierFlagForKeysym(keysyms[k * keysymsPerKeyCode + s]);
            if (flag != 0) {
                flagOf_[firstKeyCode + k] = flag;
                break;
            }
        }
    }
}

void ModifierTracker::setPressedKeys(std::span<const std::uint8_t, 32> keymap) {
    down_.reset();
    for (std::size_t byte = 0; byte < keymap.size(); ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if (keymap[byte] & (1u << bit)) down_.set(byte * 8 + bit);
}

std::uint64_t ModifierTracker::flags() const noexcept {
    std::uint64_t flags = 0;
    for (std::size_t k = 0; k < flagOf_.size(); ++k)
        if (flagOf_[k] != 0 && down_.test(k)) flags |= flagOf_[k];
    return flags;
}

} // namespace qv::x11
