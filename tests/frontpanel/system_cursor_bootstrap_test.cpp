#include "Frontpanel/cursors/system_cursor_bootstrap.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace qv {
namespace {

// The glyph names the cursor renderer asks for.
const char *const kGlyphs[] = {"pointingHand", "iBeam",      "iBeamVertical",
                               "openHand",     "closedHand", "crosshair",
                               "resizeH",      "resizeV",    "notAllowed"};

bool themeInstalled() {
    return std::system("test -d /usr/share/icons/Adwaita/cursors") == 0;
}

// Fraction of the image's pixels that are not fully transparent.
double coverage(const platform::Image &image) {
    const platform::PixelBuffer &b = image.bitmap();
    int opaque = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            opaque +=
                b.baseAddress()[std::size_t(y) * b.bytesPerRow() + std::size_t(x) * 4 + 3] > 0;
    return double(opaque) / (double(b.width()) * b.height());
}

TEST(SystemCursorBootstrap, EveryGlyphHasCandidateNames) {
    for (const char *glyph : kGlyphs) {
        auto it = SystemCursorBootstrap::cursorNames().find(glyph);
        ASSERT_NE(it, SystemCursorBootstrap::cursorNames().end()) << glyph;
        EXPECT_FALSE(it->second.empty()) << glyph;
    }
    EXPECT_EQ(SystemCursorBootstrap::cursorNames().size(), std::size(kGlyphs));
}

TEST(SystemCursorBootstrap, LoadsEveryGlyphFromTheAdwaitaTheme) {
    if (!themeInstalled()) GTEST_SKIP() << "adwaita-icon-theme is not installed";
    auto table = SystemCursorBootstrap::loadTable({"Adwaita", 48});
    for (const char *glyph : kGlyphs) {
        auto it = table.find(glyph);
        ASSERT_NE(it, table.end()) << glyph;
        const auto &entry = it->second;
        ASSERT_TRUE(entry.image) << glyph;
        const Rect extent = entry.image->extent();
        EXPECT_GE(extent.width, 24) << glyph;
        EXPECT_GE(extent.height, 24) << glyph;
        EXPECT_GE(entry.hotspot.x, 0) << glyph;
        EXPECT_LE(entry.hotspot.x, 1) << glyph;
        EXPECT_GE(entry.hotspot.y, 0) << glyph;
        EXPECT_LE(entry.hotspot.y, 1) << glyph;
        const double c = coverage(*entry.image);
        EXPECT_GT(c, 0.01) << glyph;
        EXPECT_LT(c, 0.9) << glyph;
    }
    // Symmetric glyphs have their hot spot in the middle; the hand's is at its finger tip, in
    // the upper half.
    for (const char *centred : {"crosshair", "resizeH", "resizeV", "iBeam"}) {
        EXPECT_NEAR(table.at(centred).hotspot.x, 0.5, 0.15) << centred;
        EXPECT_NEAR(table.at(centred).hotspot.y, 0.5, 0.15) << centred;
    }
    EXPECT_LT(table.at("pointingHand").hotspot.y, 0.5);
}

TEST(SystemCursorBootstrap, ResizeGlyphsDifferInOrientation) {
    if (!themeInstalled()) GTEST_SKIP() << "adwaita-icon-theme is not installed";
    auto table = SystemCursorBootstrap::loadTable({"Adwaita", 48});
    // Width and height of the opaque pixels: the horizontal arrow is wider than tall.
    auto spread = [](const platform::Image &image) {
        const platform::PixelBuffer &b = image.bitmap();
        int x0 = b.width(), x1 = -1, y0 = b.height(), y1 = -1;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                if (b.baseAddress()[std::size_t(y) * b.bytesPerRow() + std::size_t(x) * 4 + 3] >
                    128) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                    y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
        return std::pair{x1 - x0, y1 - y0};
    };
    const auto h = spread(*table.at("resizeH").image);
    const auto v = spread(*table.at("resizeV").image);
    EXPECT_GT(h.first, h.second);
    EXPECT_GT(v.second, v.first);
}

TEST(SystemCursorBootstrap, RegisterFillsTheRegistry) {
    if (!themeInstalled()) GTEST_SKIP() << "adwaita-icon-theme is not installed";
    EXPECT_EQ(SystemCursorBootstrap::registerCursors({"Adwaita", 32}), int(std::size(kGlyphs)));
    for (const char *glyph : kGlyphs) EXPECT_TRUE(SystemCursorBitmaps::entry(glyph)) << glyph;
    EXPECT_FALSE(SystemCursorBitmaps::entry("ibeam"));
}

// Run only by the next test, in a process of its own: libXcursor reads its search path once per
// process.
TEST(SystemCursorBootstrapChild, DISABLED_EmptySearchPath) {
    SystemCursorBitmaps::registerTable({{"iBeam", {}}});
    EXPECT_EQ(SystemCursorBootstrap::registerCursors(), 0);
    for (const char *glyph : kGlyphs) EXPECT_FALSE(SystemCursorBitmaps::entry(glyph)) << glyph;
}

// With no theme anywhere, registration leaves the registry empty (replacing what was there), and
// every glyph is drawn by the renderer's own vector drawing.
TEST(SystemCursorBootstrap, NoThemeAnywhereRegistersAnEmptyTable) {
    const std::string command =
        "XCURSOR_PATH=/nonexistent-cursor-folder QUILLVANE_LOG=off /proc/" +
        std::to_string(::getpid()) +
        "/exe --gtest_also_run_disabled_tests "
        "--gtest_filter=SystemCursorBootstrapChild.DISABLED_EmptySearchPath > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

} // namespace
} // namespace qv
