// Plumbing shared by the X11 pieces: a connection to $DISPLAY, replies that free themselves,
// atoms, and the test for a session in which X capture would see only part of the input.
//
// XCB rather than Xlib: errors come back with the reply instead of through Xlib's process-wide
// error handler (whose default ends the process when a window vanishes between two queries),
// requests can be sent in batches, and a connection may be shared by threads.
//
// Thread safety: a Connection may be used from any thread; the helpers hold no state.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qv::x11 {

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

class Connection {
public:
    // Nothing when $DISPLAY cannot be reached; `why` then says so.
    static std::unique_ptr<Connection> open(std::string &why);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    xcb_connection_t *get() const noexcept { return c_; }
    xcb_window_t root() const noexcept { return screen_->root; }
    const xcb_screen_t &screen() const noexcept { return *screen_; }
    bool failed() const noexcept { return xcb_connection_has_error(c_) != 0; }

    xcb_atom_t atom(std::string_view name);

private:
    Connection(xcb_connection_t *c, const xcb_screen_t *screen) : c_(c), screen_(screen) {}
    xcb_connection_t *c_;
    const xcb_screen_t *screen_;
};

// A Wayland session: an X server there (Xwayland) sees only the input aimed at X clients, so
// capture through it would silently miss most of what the user does.
bool isWaylandSession();

// A CARDINAL property of 32-bit format, first value; nothing when absent or of another type.
std::optional<std::uint32_t> cardinalProperty(const xcb_get_property_reply_t *reply);

} // namespace qv::x11
