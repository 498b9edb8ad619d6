#include "Handtrace/x11/x_cursor_source.h"

#include <X11/Xcursor/Xcursor.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace qv::x11 {

namespace {

namespace fs = std::filesystem;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string rootResources(Connection &connection) {
    xcb_connection_t *c = connection.get();
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, connection.root(), XCB_ATOM_RESOURCE_MANAGER,
                                                XCB_ATOM_STRING, 0, 1 << 20),
                               nullptr));
    if (!reply || reply->format != 8) return {};
    return std::string(static_cast<const char *>(xcb_get_property_value(reply.get())),
                       std::size_t(xcb_get_property_value_length(reply.get())));
}

} // namespace

std::optional<std::string> resourceValue(std::string_view resources, std::string_view key) {
    while (!resources.empty()) {
        const std::size_t end = resources.find('\n');
        std::string_view line = resources.substr(0, end);
        resources = end == std::string_view::npos ? std::string_view() : resources.substr(end + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (trim(line.substr(0, colon)) == key) return std::string(trim(line.substr(colon + 1)));
    }
    return std::nullopt;
}

std::string cursorThemeName(std::string_view resources) {
    if (const char *env = std::getenv("XCURSOR_THEME"); env && *env) return env;
    if (auto value = resourceValue(resources, "Xcursor.theme"); value && !value->empty())
        return *value;
    return "default";
}

std::optional<std::string> themeCursorFile(const std::string &theme, const std::string &name) {
    std::vector<std::string> folders;
    const char *searchPath = XcursorLibraryPath();
    const std::string_view path = searchPath ? searchPath : "";
    const char *home = std::getenv("HOME");
    for (std::size_t begin = 0; begin <= path.size();) {
        std::size_t end = path.find(':', begin);
        if (end == std::string_view::npos) end = path.size();
        std::string folder(path.substr(begin, end - begin));
        if (folder.starts_with("~"))
            folder = (home ? std::string(home) : std::string()) + folder.substr(1);
        if (!folder.empty()) folders.push_back(std::move(folder));
        begin = end + 1;
    }

    // Breadth-first through the inheritance, each theme once; Xcursor falls back the same way.
    std::vector<std::string> themes{theme};
    for (std::size_t t = 0; t < themes.size() && t < 32; ++t) {
        std::error_code ec;
        for (const std::string &folder : folders) {
            const fs::path file = fs::path(folder) / themes[t] / "cursors" / name;
            if (fs::is_regular_file(file, ec)) return file.string();
        }
        for (const std::string &folder : folders) {
            std::ifstream index(fs::path(folder) / themes[t] / "index.theme");
            if (!index) continue;
            std::string line;
            while (std::getline(index, line)) {
                std::string_view l = trim(line);
                if (!l.starts_with("Inherits")) continue;
                const std::size_t eq = l.find('=');
                if (eq == std::string_view::npos) continue;
                std::string_view list = l.substr(eq + 1);
                while (!list.empty()) {
                    const std::size_t sep = list.find_first_of(",;");
                    const std::string_view parent = trim(list.substr(0, sep));
                    if (!parent.empty() &&
                        std::find(themes.begin(), themes.end(), parent) == themes.end())
                        themes.emplace_back(parent);
                    if (sep == std::string_view::npos) break;
                    list.remove_prefix(sep + 1);
                }
            }
            break; // the first index.theme of a theme is the one that counts
        }
    }
    return std::nullopt;
}

std::vector<CursorKinds::Fingerprint> themeImages(const std::string &theme, std::string_view name) {
    std::vector<CursorKinds::Fingerprint> prints;
    const auto file = themeCursorFile(theme, std::string(name));
    if (!file) return prints;
    XcursorImages *images = XcursorFilenameLoadAllImages(file->c_str());
    if (!images) return prints;
    for (int i = 0; i < images->nimage; ++i) {
        const XcursorImage *image = images->images[i];
        const std::size_t n = std::size_t(image->width) * image->height;
        static_assert(sizeof(XcursorPixel) == sizeof(std::uint32_t));
        const CursorKinds::Fingerprint print = CursorKinds::fingerprint(
            image->width, image->height,
            std::span<const std::uint32_t>(reinterpret_cast<const std::uint32_t *>(image->pixels),
                                           n));
        if (std::find(prints.begin(), prints.end(), print) == prints.end()) prints.push_back(print);
    }
    XcursorImagesDestroy(images);
    return prints;
}

std::unique_ptr<XCursorSource> XCursorSource::open() {
    std::string why;
    auto connection = Connection::open(why);
    if (!connection) return nullptr;
    xcb_connection_t *c = connection->get();
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present) return nullptr;
    // XFixes wants its version asked before any other request; names came with version 2.
    Reply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 2, 0), nullptr));
    if (!version || version->major_version < 2) return nullptr;
    return std::unique_ptr<XCursorSource>(new XCursorSource(std::move(connection)));
}

std::optional<CursorKinds::CurrentCursor> XCursorSource::current() {
    xcb_connection_t *c = connection_->get();
    // Null when the server withholds the image (a SECURITY extension that no longer trusts the
    // cursor's creator) or the connection is gone: no cursor to be had, which reads as "arrow".
    Reply<xcb_xfixes_get_cursor_image_and_name_reply_t> reply(
        xcb_xfixes_get_cursor_image_and_name_reply(c, xcb_xfixes_get_cursor_image_and_name(c),
                                                   nullptr));
    if (!reply) return std::nullopt;
    CursorKinds::CurrentCursor cursor;
    cursor.name.assign(xcb_xfixes_get_cursor_image_and_name_name(reply.get()),
                       std::size_t(xcb_xfixes_get_cursor_image_and_name_name_length(reply.get())));
    const int length = xcb_xfixes_get_cursor_image_and_name_cursor_image_length(reply.get());
    const std::size_t expected = std::size_t(reply->width) * reply->height;
    if (length > 0 && std::size_t(length) == expected)
        cursor.image = CursorKinds::fingerprint(
            reply->width, reply->height,
            std::span<const std::uint32_t>(
                xcb_xfixes_get_cursor_image_and_name_cursor_image(reply.get()), expected));
    return cursor;
}

const CursorKinds::KindTable &XCursorSource::kindTable() {
    // One table per process, from the theme of the first display that needs it.
    static std::once_flag once;
    static CursorKinds::KindTable table;
    std::call_once(once, [this] {
        const std::string theme = cursorThemeName(rootResources(*connection_));
        table = CursorKinds::KindTable::build(
            [&theme](std::string_view name) { return themeImages(theme, name); });
    });
    return table;
}

} // namespace qv::x11
