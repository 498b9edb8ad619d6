#include "Frontpanel/cursors/system_cursor_bootstrap.h"

#include "platform/core/log.h"
#include "platform/video/pixel_buffer.h"

#include <X11/Xcursor/Xcursor.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace qv::SystemCursorBootstrap {

namespace {

struct ImageDeleter {
    void operator()(XcursorImage *image) const { XcursorImageDestroy(image); }
};
using ImageHandle = std::unique_ptr<XcursorImage, ImageDeleter>;

ImageHandle loadFromThemes(const std::string &name, const std::vector<std::string> &themes,
                           int size) {
    for (const std::string &theme : themes)
        if (XcursorImage *image = XcursorLibraryLoadImage(name.c_str(), theme.c_str(), size))
            return ImageHandle(image);
    return nullptr;
}

std::optional<SystemCursorBitmaps::Entry> toEntry(const XcursorImage &image) {
    const int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    if (w < 1 || h < 1) return std::nullopt;
    auto bitmap = platform::PixelBuffer::create(w, h, platform::PixelFormat::bgra8);
    if (!bitmap) return std::nullopt;
    // Xcursor pixels are premultiplied 0xAARRGGBB words: B, G, R, A in memory on this
    // little-endian machine, the layout of our images.
    for (int y = 0; y < h; ++y)
        std::memcpy(bitmap->baseAddress() + std::size_t(y) * bitmap->bytesPerRow(),
                    image.pixels + std::size_t(y) * std::size_t(w), std::size_t(w) * 4);
    auto picture = platform::Image::make(std::move(bitmap));
    if (!picture) return std::nullopt;
    return SystemCursorBitmaps::Entry{std::move(picture),
                                      Point{double(image.xhot) / w, double(image.yhot) / h}};
}

} // namespace

const std::map<std::string, std::vector<std::string>, std::less<>> &cursorNames() {
    // CSS-style names first (freedesktop themes), then the X core cursor names older themes use.
    static const std::map<std::string, std::vector<std::string>, std::less<>> names{
        {"pointingHand", {"pointer", "hand2", "hand1"}},
        {"iBeam", {"text", "xterm", "ibeam"}},
        {"iBeamVertical", {"vertical-text"}},
        {"openHand", {"grab", "openhand", "fleur"}},
        {"closedHand", {"grabbing", "closedhand", "dnd-none"}},
        {"crosshair", {"crosshair", "cross", "tcross"}},
        {"resizeH", {"ew-resize", "col-resize", "sb_h_double_arrow", "h_double_arrow"}},
        {"resizeV", {"ns-resize", "row-resize", "sb_v_double_arrow", "v_double_arrow"}},
        {"notAllowed", {"not-allowed", "crossed_circle", "circle"}},
    };
    return names;
}

std::map<std::string, SystemCursorBitmaps::Entry, std::less<>> loadTable(const Options &options) {
    std::vector<std::string> themes;
    if (!options.theme.empty()) {
        themes.push_back(options.theme);
    } else {
        if (const char *env = std::getenv("XCURSOR_THEME"); env && *env) themes.emplace_back(env);
        themes.emplace_back("default");
        themes.emplace_back("Adwaita");
    }
    std::map<std::string, SystemCursorBitmaps::Entry, std::less<>> table;
    for (const auto &[glyph, candidates] : cursorNames()) {
        for (const std::string &name : candidates) {
            auto image = loadFromThemes(name, themes, options.size);
            if (!image) continue;
            if (auto entry = toEntry(*image)) {
                table.emplace(glyph, std::move(*entry));
                break;
            }
        }
    }
    return table;
}

int registerCursors(const Options &options) {
    auto table = loadTable(options);
    const int found = static_cast<int>(table.size());
    const platform::Logger log("com.quillvane", "cursors");
    if (found == 0)
        log.error("no cursor theme found (XCURSOR_THEME, default, Adwaita); system cursors are "
                  "drawn with the built-in glyphs");
    else if (found < static_cast<int>(cursorNames().size()))
        log.info("%d of %zu system cursors found in the cursor theme; the others are drawn with "
                 "the built-in glyphs",
                 found, cursorNames().size());
    SystemCursorBitmaps::registerTable(std::move(table));
    return found;
}

} // namespace qv::SystemCursorBootstrap
