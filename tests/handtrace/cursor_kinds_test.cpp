// Cursor kinds: the names, the name table, the image table and the classification order, plus
// the desktop theme lookup on X11.
#include "Handtrace/cursor_kinds.h"
#include "Handtrace/x11/x_cursor_source.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace qv {
namespace {

using namespace CursorKinds;

TEST(CursorKinds, EighteenNamesInTableOrder) {
    const std::vector<std::string_view> expected{
        "arrow",     "iBeam",           "pointingHand",        "openHand",       "closedHand",
        "crosshair", "resizeLeftRight", "resizeUpDown",        "resizeLeft",     "resizeRight",
        "resizeUp",  "resizeDown",      "operationNotAllowed", "contextualMenu", "disappearingItem",
        "dragCopy",  "dragLink",        "iBeamVertical"};
    const auto names = kindNames();
    EXPECT_EQ(std::vector<std::string_view>(names.begin(), names.end()), expected);
}

TEST(CursorKinds, EveryKindHasXNamesAndNoNameServesTwoKinds) {
    std::set<std::string_view> seen;
    for (std::string_view kind : kindNames()) {
        EXPECT_FALSE(cursorNamesFor(kind).empty()) << kind;
        for (std::string_view name : cursorNamesFor(kind)) {
            EXPECT_TRUE(seen.insert(name).second) << name << " listed twice";
            EXPECT_EQ(kindForCursorName(name), kind) << name;
        }
    }
    EXPECT_TRUE(cursorNamesFor("noSuchKind").empty());
}

TEST(CursorKinds, MapsStandardXcursorAndCssNames) {
    const std::pair<const char *, const char *> cases[] = {
        {"left_ptr", "arrow"},
        {"default", "arrow"},
        {"xterm", "iBeam"},
        {"text", "iBeam"},
        {"hand2", "pointingHand"},
        {"pointer", "pointingHand"},
        {"grab", "openHand"},
        {"grabbing", "closedHand"},
        {"crosshair", "crosshair"},
        {"sb_h_double_arrow", "resizeLeftRight"},
        {"col-resize", "resizeLeftRight"},
        {"ns-resize", "resizeUpDown"},
        {"w-resize", "resizeLeft"},
        {"right_side", "resizeRight"},
        {"n-resize", "resizeUp"},
        {"bottom_side", "resizeDown"},
        {"not-allowed", "operationNotAllowed"},
        {"context-menu", "contextualMenu"},
        {"pirate", "disappearingItem"},
        {"copy", "dragCopy"},
        {"alias", "dragLink"},
        {"vertical-text", "iBeamVertical"},
    };
    for (auto [name, kind] : cases) EXPECT_EQ(kindForCursorName(name), kind) << name;
    for (const char *unknown : {"watch", "", "Xterm", "nw-resize"})
        EXPECT_FALSE(kindForCursorName(unknown)) << unknown;
}

TEST(CursorKinds, FingerprintsDependOnSizeAndEveryPixel) {
    const std::vector<std::uint32_t> a{0xff000000, 0x00ffffff, 1, 2};
    std::vector<std::uint32_t> b = a;
    EXPECT_EQ(fingerprint(2, 2, a), fingerprint(2, 2, b));
    b[3] = 3;
    EXPECT_NE(fingerprint(2, 2, a), fingerprint(2, 2, b));
    EXPECT_NE(fingerprint(2, 2, a), fingerprint(4, 1, a));
}

TEST(CursorKinds, TheEarlierKindKeepsAnImageThatTwoKindsShare) {
    // "hand2" (pointingHand) and "grab" (openHand) share image 7; "xterm" has 5 and 6.
    const KindTable table = KindTable::build([](std::string_view name) {
        if (name == "xterm") return std::vector<Fingerprint>{5, 6};
        if (name == "hand2" || name == "grab") return std::vector<Fingerprint>{7};
        if (name == "grabbing") return std::vector<Fingerprint>{8};
        return std::vector<Fingerprint>{};
    });
    EXPECT_EQ(table.size(), 4u);
    EXPECT_EQ(table.lookup(5), "iBeam");
    EXPECT_EQ(table.lookup(6), "iBeam");
    EXPECT_EQ(table.lookup(7), "pointingHand");
    EXPECT_EQ(table.lookup(8), "closedHand");
    EXPECT_FALSE(table.lookup(9));
}

TEST(CursorKinds, ClassifiesByNameThenImageElseArrow) {
    const KindTable table = KindTable::build([](std::string_view name) {
        return name == "crosshair" ? std::vector<Fingerprint>{11} : std::vector<Fingerprint>{};
    });
    int tableAsked = 0;
    auto tableFn = [&]() -> const KindTable & {
        ++tableAsked;
        return table;
    };
    auto cursor = [](std::string name, std::optional<Fingerprint> image) {
        return std::optional<CurrentCursor>(CurrentCursor{std::move(name), image});
    };

    // A known name decides, whatever the image, and the table is not needed.
    EXPECT_EQ(classify(cursor("xterm", 11), tableFn), "iBeam");
    EXPECT_EQ(tableAsked, 0);
    // Without a name, the image decides.
    EXPECT_EQ(classify(cursor("", 11), tableFn), "crosshair");
    // A name of its own: the image may still be a theme image.
    EXPECT_EQ(classify(cursor("my-app-cursor", 11), tableFn), "crosshair");
    // An image that matches nothing, no image, no cursor: "arrow".
    EXPECT_EQ(classify(cursor("", 12), tableFn), "arrow");
    EXPECT_EQ(classify(cursor("", std::nullopt), tableFn), "arrow");
    EXPECT_EQ(classify(std::nullopt, tableFn), "arrow");
    EXPECT_EQ(tableAsked, 3);
}

TEST(CursorTheme, ReadsResourcesAndEnvironmentInOrder) {
    const std::string resources = "Xft.dpi:\t144\n*background: grey\nXcursor.theme:  Adwaita \n";
    EXPECT_EQ(x11::resourceValue(resources, "Xcursor.theme"), "Adwaita");
    EXPECT_EQ(x11::resourceValue(resources, "Xft.dpi"), "144");
    EXPECT_FALSE(x11::resourceValue(resources, "Xcursor.size"));
    EXPECT_FALSE(x11::resourceValue("", "Xcursor.theme"));

    const char *old = std::getenv("XCURSOR_THEME");
    const std::string saved = old ? old : "";
    ::unsetenv("XCURSOR_THEME");
    EXPECT_EQ(x11::cursorThemeName(resources), "Adwaita");
    EXPECT_EQ(x11::cursorThemeName("Xft.dpi: 96\n"), "default");
    ::setenv("XCURSOR_THEME", "Other", 1);
    EXPECT_EQ(x11::cursorThemeName(resources), "Other");
    if (old)
        ::setenv("XCURSOR_THEME", saved.c_str(), 1);
    else
        ::unsetenv("XCURSOR_THEME");
}

TEST(CursorTheme, LoadsTheInstalledThemeImagesForEveryKind) {
    // The install script installs a cursor theme (adwaita-icon-theme); "default" inherits it.
    const auto file = x11::themeCursorFile("default", "xterm");
    ASSERT_TRUE(file) << "no cursor theme installed";
    EXPECT_NE(file->find("/Adwaita/cursors/xterm"), std::string::npos) << *file;
    EXPECT_FALSE(x11::themeCursorFile("default", "no-such-cursor-anywhere"));
    EXPECT_FALSE(x11::themeCursorFile("no-such-theme", "xterm"));

    const auto xterm = x11::themeImages("default", "xterm");
    // Every size of the file, each a different image.
    EXPECT_GE(xterm.size(), 3u);
    // "text" is a link to "xterm" in the theme: the same images.
    EXPECT_EQ(x11::themeImages("default", "text"), xterm);
    EXPECT_TRUE(x11::themeImages("default", "no-such-cursor-anywhere").empty());

    const KindTable table =
        KindTable::build([&](std::string_view name) { return x11::themeImages("default", name); });
    for (auto print : xterm) EXPECT_EQ(table.lookup(print), "iBeam");
    const auto hand = x11::themeImages("default", "hand2");
    ASSERT_FALSE(hand.empty());
    EXPECT_EQ(table.lookup(hand.front()), "pointingHand");
    // The theme has a cursor for most kinds; each of those is in the table under its kind.
    std::size_t kindsFound = 0;
    for (std::string_view kind : kindNames()) {
        for (std::string_view name : cursorNamesFor(kind)) {
            const auto prints = x11::themeImages("default", name);
            if (prints.empty()) continue;
            ++kindsFound;
            break;
        }
    }
    EXPECT_GE(kindsFound, 15u);
}

} // namespace
} // namespace qv
