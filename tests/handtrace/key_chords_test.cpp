// Key chords: which presses are recorded, how they are spelled, and how X key codes and
// modifier keys reach that vocabulary.
#include "Handtrace/key_chords.h"
#include "Handtrace/x11/x_keyboard.h"

#include <gtest/gtest.h>

#include <set>

namespace qv {
namespace {

using namespace KeyChords;

constexpr std::uint64_t ctrl = controlFlag, opt = optionFlag, shift = shiftFlag, cmd = commandFlag;

struct ChordCase {
    std::uint64_t flags;
    std::uint16_t keyCode;
    std::optional<std::string> chord;
};

TEST(KeyChords, BuildsTheChordsOfTheVocabulary) {
    const ChordCase cases[] = {
        {cmd, 1, "⌘S"},
        {ctrl | opt | shift | cmd, 126, "⌃⌥⇧⌘↑"},
        {shift, 0, std::nullopt}, // Shift alone is typing
        {shift, 122, "⇧F1"},      // but Shift with a bare key is a chord
        {0, 53, "⎋"},
        {0, 49, std::nullopt}, // Space alone
        {cmd, 49, "⌘Space"},
        {cmd, 36, "⌘↩"},
        {cmd, 76, "⌘↩"}, // keypad Enter
        {0, 36, std::nullopt},
        {0, 76, std::nullopt},
        {cmd, 82, std::nullopt}, // keypad 0 has no name
        {0, 0, std::nullopt},    // plain letters are never recorded
        {ctrl, 0, "⌃A"},
        {opt, 44, "⌥/"},
        {cmd, 42, "⌘\\"},
        {0x10000 | 0x800000, 0, std::nullopt}, // Caps Lock and Fn are ignored
        {0x10000 | cmd, 0, "⌘A"},
        {0, 117, "⌦"},
        {0, 51, std::nullopt}, // Delete (backwards) alone
        {cmd, 51, "⌘⌫"},
        {ctrl, 48, "⌃⇥"},
    };
    for (const ChordCase &c : cases)
        EXPECT_EQ(chord(c.flags, c.keyCode), c.chord)
            << "flags 0x" << std::hex << c.flags << std::dec << ", key " << c.keyCode;
}

TEST(KeyChords, ModifierGlyphsComeInAFixedOrder) {
    const std::pair<std::uint64_t, const char *> glyphs[] = {
        {ctrl, "⌃"}, {opt, "⌥"}, {shift, "⇧"}, {cmd, "⌘"}};
    for (unsigned combo = 1; combo < 16; ++combo) {
        std::uint64_t flags = 0;
        std::string expected;
        for (unsigned i = 0; i < 4; ++i)
            if (combo & (1u << i)) {
                flags |= glyphs[i].first;
                expected += glyphs[i].second;
            }
        // F5 is bare, so even Shift alone gives a chord.
        EXPECT_EQ(chord(flags, 96), expected + "F5") << "combination " << combo;
    }
}

TEST(KeyChords, TheTableHasSeventyFourDistinctKeys) {
    EXPECT_EQ(keyNameTable().size(), 74u);
    std::set<std::uint16_t> codes;
    for (const KeyName &k : keyNameTable()) {
        EXPECT_TRUE(codes.insert(k.keyCode).second) << "key code " << k.keyCode << " twice";
        EXPECT_FALSE(k.name.empty());
        EXPECT_EQ(chord(cmd, k.keyCode), "⌘" + std::string(k.name));
    }
}

TEST(KeyChords, ExactlyTwentyTwoKeysAreRecordedBare) {
    EXPECT_EQ(bareKeys().size(), 22u);
    std::size_t bare = 0;
    for (const KeyName &k : keyNameTable()) {
        const bool recorded = chord(0, k.keyCode).has_value();
        EXPECT_EQ(recorded, isBareKey(k.keyCode)) << k.name;
        EXPECT_EQ(chord(shift, k.keyCode).has_value(), recorded) << "Shift+" << k.name;
        bare += recorded;
    }
    EXPECT_EQ(bare, 22u);
    for (std::uint16_t notBare : {49, 48, 36, 76, 51}) EXPECT_FALSE(isBareKey(notBare));
}

TEST(XKeyboard, EveryNamedKeyIsReachableFromAnXKeyCode) {
    std::set<std::uint16_t> reached;
    for (int x = 0; x < 256; ++x)
        if (auto ansi = x11::ansiKeyCode(static_cast<std::uint8_t>(x))) reached.insert(*ansi);
    for (const KeyName &k : keyNameTable())
        EXPECT_TRUE(reached.count(k.keyCode)) << k.name << " (" << k.keyCode << ") unreachable";
}

TEST(XKeyboard, MapsPhysicalKeysToTheirPositions) {
    // X key code = evdev code + 8.
    const std::pair<int, const char *> keys[] = {
        {38, "A"},     {39, "S"},  {52, "Z"},   {10, "1"},     {19, "0"},     {20, "-"},
        {21, "="},     {34, "["},  {35, "]"},   {47, ";"},     {48, "'"},     {49, "`"},
        {51, "\\"},    {59, ","},  {60, "."},   {61, "/"},     {65, "Space"}, {23, "⇥"},
        {36, "↩"},     {104, "↩"}, {22, "⌫"},   {119, "⌦"},    {9, "⎋"},      {111, "↑"},
        {116, "↓"},    {113, "←"}, {114, "→"},  {110, "Home"}, {115, "End"},  {112, "PgUp"},
        {117, "PgDn"}, {67, "F1"}, {76, "F10"}, {95, "F11"},   {96, "F12"},
    };
    for (auto [x, name] : keys) {
        auto ansi = x11::ansiKeyCode(static_cast<std::uint8_t>(x));
        ASSERT_TRUE(ansi) << "X key " << x;
        EXPECT_EQ(keyName(*ansi), name) << "X key " << x;
    }
    // Keypad digits and modifier keys have positions but no names.
    for (int x : {90, 87, 37, 50, 64, 133}) {
        auto ansi = x11::ansiKeyCode(static_cast<std::uint8_t>(x));
        ASSERT_TRUE(ansi) << "X key " << x;
        EXPECT_FALSE(keyName(*ansi)) << "X key " << x;
    }
    EXPECT_FALSE(x11::ansiKeyCode(0));
    EXPECT_FALSE(x11::ansiKeyCode(255));
}

TEST(XKeyboard, TracksModifiersThroughDuplicateAndOutOfOrderReleases) {
    x11::ModifierTracker m;
    EXPECT_EQ(m.flags(), 0u);
    m.press(37); // Control_L
    m.press(50); // Shift_L
    EXPECT_EQ(m.flags(), ctrl | shift);
    m.release(37);
    m.release(37); // synthetic input releases Control twice
    EXPECT_EQ(m.flags(), shift);
    m.press(105); // Control_R
    m.press(37);
    m.release(105);
    EXPECT_EQ(m.flags(), ctrl | shift);
    m.release(50);
    m.release(37);
    m.press(64);  // Alt_L
    m.press(133); // Super_L
    EXPECT_EQ(m.flags(), opt | cmd);
    m.press(39); // an ordinary key adds nothing
    EXPECT_EQ(m.flags(), opt | cmd);
}

TEST(XKeyboard, FollowsTheKeyboardMapping) {
    x11::ModifierTracker m;
    // Two keysyms per key from key code 64: Caps Lock remapped to Control, Alt_L as Meta,
    // key 66 Super_R.
    const std::uint32_t keysyms[] = {
        0xffe3, 0,      // 64: Control_L
        0x61,   0x41,   // 65: a A
        0xffe5, 0xffe7, // 66: Caps_Lock, then Meta_L
        0xffec, 0,      // 67: Super_R
    };
    m.setKeyboardMapping(64, 2, keysyms);
    m.press(64);
    EXPECT_EQ(m.flags(), ctrl);
    m.press(66);
    EXPECT_EQ(m.flags(), ctrl | opt);
    m.release(64);
    m.press(67);
    EXPECT_EQ(m.flags(), opt | cmd);
    m.release(66);
    m.release(67);
    m.press(37); // the standard Control_L is not one in this mapping
    EXPECT_EQ(m.flags(), 0u);

    std::array<std::uint8_t, 32> keymap{};
    keymap[64 / 8] |= 1u << (64 % 8);
    m.setPressedKeys(keymap);
    EXPECT_EQ(m.flags(), ctrl);
}

TEST(XKeyboard, ClassifiesModifierKeysyms) {
    EXPECT_EQ(x11::modifierFlagForKeysym(0xffe4), ctrl);  // Control_R
    EXPECT_EQ(x11::modifierFlagForKeysym(0xffea), opt);   // Alt_R
    EXPECT_EQ(x11::modifierFlagForKeysym(0xffe8), opt);   // Meta_R
    EXPECT_EQ(x11::modifierFlagForKeysym(0xffe2), shift); // Shift_R
    EXPECT_EQ(x11::modifierFlagForKeysym(0xffeb), cmd);   // Super_L
    EXPECT_EQ(x11::modifierFlagForKeysym(0xfe03), 0u);    // ISO_Level3_Shift (AltGr)
    EXPECT_EQ(x11::modifierFlagForKeysym(0xffe5), 0u);    // Caps_Lock
}

} // namespace
} // namespace qv
