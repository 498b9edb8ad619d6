// Hands the desktop's cursor artwork to the compositor once at start-up: each system glyph the
// cursor renderer can ask for is looked up in the Xcursor theme (the first of a few alias names
// that the theme has) and registered under the glyph's name, hot spot as fractions of the image.
// Glyphs the theme lacks are left out, so the renderer draws its own vector glyph for them.
//
// Thread safety: call from one thread at a time (the application's start-up). The registry it
// fills may be read from any thread.
#pragma once

#include "Compositor/assets/system_cursor_bitmaps.h"

#include <map>
#include <string>
#include <vector>

namespace qv::SystemCursorBootstrap {

struct Options {
    // The theme to read; empty: $XCURSOR_THEME, else "default" (which names the desktop's
    // chosen theme), else "Adwaita".
    std::string theme;
    // The nominal size in pixels to load; the theme's nearest size is taken. Large enough that
    // the artwork stays sharp on a 2× canvas.
    int size = 48;
};

// Glyph name → the Xcursor names tried for it, in order.
const std::map<std::string, std::vector<std::string>, std::less<>> &cursorNames();

// Loads the table without registering it; glyphs the theme lacks are absent.
std::map<std::string, SystemCursorBitmaps::Entry, std::less<>> loadTable(const Options &options);

// Loads the table and registers it (replacing what was there). Returns how many glyphs were
// found; 0 means the theme had none and the vector glyphs are drawn.
int registerCursors(const Options &options = {});

} // namespace qv::SystemCursorBootstrap
