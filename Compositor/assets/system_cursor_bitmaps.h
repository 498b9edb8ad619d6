// The process-wide registry of system cursor artwork, registered once by the application under
// glyph names ("pointingHand", "iBeam", "resizeH", ...) and read by the cursor renderer.
// Thread safety: one mutex guards the table; it is held only for the swap or a lookup.
// Lifetime: an entry handed out keeps its image alive after the table is replaced.
#pragma once

#include "platform/core/geometry.h"
#include "platform/image/image.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qv::SystemCursorBitmaps {

struct Entry {
    platform::ImageRef image;
    // The hot spot as fractions of the image's width and height from its top-left corner.
    Point hotspot;
};

// Makes `table` the registry's table, replacing the previous one as a whole. (`register` is a
// C++ keyword, hence the name.)
void registerTable(std::map<std::string, Entry, std::less<>> table);

// A copy of the entry registered under exactly this name (case-sensitive), or nothing.
std::optional<Entry> entry(std::string_view forGlyphName);

} // namespace qv::SystemCursorBitmaps
