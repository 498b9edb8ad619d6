#include "Handtrace/x11/x_connection.h"

#include <cstdlib>
#include <cstring>

namespace qv::x11 {

std::unique_ptr<Connection> Connection::open(std::string &why) {
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display) {
        why = "no X display (DISPLAY is not set)";
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        why = std::string("cannot connect to X display ") + display;
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(c);
        why = std::string("X display ") + display + " has no such screen";
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(c, it.data));
}

Connection::~Connection() {
    xcb_disconnect(c_);
}

xcb_atom_t Connection::atom(std::string_view name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.data());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c_, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

bool isWaylandSession() {
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) return true;
    const char *type = std::getenv("XDG_SESSION_TYPE");
    return type && std::strcmp(type, "wayland") == 0;
}

std::optional<std::uint32_t> cardinalProperty(const xcb_get_property_reply_t *reply) {
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32) return std::nullopt;
    if (xcb_get_property_value_length(reply) < 4) return std::nullopt;
    std::uint32_t value;
    std::memcpy(&value, xcb_get_property_value(reply), sizeof value);
    return value;
}

} // namespace qv::x11
