// The current cursor on X11, from XFixes: its name (Xcursor and toolkits name the cursors they
// create) and its image. The kind table is built from the desktop's Xcursor theme: every size
// and animation frame of each kind's cursors, so that an unnamed cursor that shows a theme image
// is still recognised, whatever size the application loaded it at.
//
// Thread safety: a source belongs to the main executor; the kind table is built once per
// process under a lock and is immutable afterwards.
#pragma once

#include "Handtrace/input_platform.h"
#include "Handtrace/x11/x_connection.h"

#include <string>
#include <string_view>
#include <vector>

namespace qv::x11 {

class XCursorSource final : public CursorSource {
public:
    // Nothing when the display or XFixes 2 is missing.
    static std::unique_ptr<XCursorSource> open();

    std::optional<CursorKinds::CurrentCursor> current() override;
    const CursorKinds::KindTable &kindTable() override;

private:
    explicit XCursorSource(std::unique_ptr<Connection> c) : connection_(std::move(c)) {}
    std::unique_ptr<Connection> connection_;
};

// The desktop's cursor theme: XCURSOR_THEME, else the Xcursor.theme resource, else "default",
// as libXcursor chooses it.
std::string cursorThemeName(std::string_view resources);

// The value of `key` in a resource database text ("Xcursor.theme:\tAdwaita\n..."), if present.
std::optional<std::string> resourceValue(std::string_view resources, std::string_view key);

// The file of cursor `name` in `theme` or the themes it inherits from, along libXcursor's path.
std::optional<std::string> themeCursorFile(const std::string &theme, const std::string &name);

// Fingerprints of every image (every size, every animation frame) of the theme's cursor `name`;
// empty when the theme has no such cursor.
std::vector<CursorKinds::Fingerprint> themeImages(const std::string &theme, std::string_view name);

} // namespace qv::x11
