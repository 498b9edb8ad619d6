#include "Frontpanel/recording/window_tracker.h"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv::frontpanel {

struct WindowTracker::Connection {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    ~Connection() {
        if (c) xcb_disconnect(c);
    }
};

namespace {

std::string readText(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                     xcb_atom_t type) {
    auto cookie = xcb_get_property(c, 0, window, property, type, 0, 1024);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(c, cookie, nullptr);
    if (!reply) return {};
    std::string text(static_cast<const char *>(xcb_get_property_value(reply)),
                     std::size_t(xcb_get_property_value_length(reply)));
    std::free(reply);
    return text;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name) {
    auto cookie = xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    const xcb_atom_t a = reply->atom;
    std::free(reply);
    return a;
}

} // namespace

Result<std::unique_ptr<WindowTracker>> WindowTracker::open(std::uint32_t window, Rect captureArea) {
    std::unique_ptr<WindowTracker> t(new WindowTracker);
    t->x_ = std::make_unique<Connection>();
    int screen = 0;
    t->x_->c = xcb_connect(nullptr, &screen);
    if (!t->x_->c || xcb_connection_has_error(t->x_->c))
        return Error{"window recording: cannot open the X display"};
    const xcb_setup_t *setup = xcb_get_setup(t->x_->c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
    t->x_->root = it.data->root;
    t->window_ = window;
    t->area_ = captureArea;
    xcb_get_geometry_reply_t *geometry =
        xcb_get_geometry_reply(t->x_->c, xcb_get_geometry(t->x_->c, window), nullptr);
    if (!geometry) {
        char id[32];
        std::snprintf(id, sizeof id, "0x%x", window);
        return Error{std::string("window recording: there is no window ") + id};
    }
    std::free(geometry);
    xcb_connection_t *c = t->x_->c;
    t->name_ = readText(c, window, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"));
    if (t->name_.empty()) t->name_ = readText(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    t->crop_.captureWidth = int(captureArea.width);
    t->crop_.captureHeight = int(captureArea.height);
    t->crop_.canvasMode = "initial";
    return t;
}

WindowTracker::~WindowTracker() = default;

std::optional<Rect> WindowTracker::query() {
    xcb_connection_t *c = x_->c;
    const auto attributes = xcb_get_window_attributes(c, window_);
    const auto geometry = xcb_get_geometry(c, window_);
    const auto place = xcb_translate_coordinates(c, window_, x_->root, 0, 0);
    xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(c, attributes, nullptr);
    xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(c, geometry, nullptr);
    xcb_translate_coordinates_reply_t *p = xcb_translate_coordinates_reply(c, place, nullptr);
    std::optional<Rect> r;
    if (a && g && p && a->map_state == XCB_MAP_STATE_VIEWABLE)
        r = Rect{p->dst_x - area_.x, p->dst_y - area_.y, double(g->width), double(g->height)};
    std::free(a);
    std::free(g);
    std::free(p);
    return r;
}

void WindowTracker::sample(std::int64_t tMs) {
    const auto r = query();
    if (!r) return;
    std::lock_guard guard(lock_);
    if (!crop_.samples.empty()) {
        const WindowCrop::Sample &last = crop_.samples.back();
        if (last.x == r->x && last.y == r->y && last.width == r->width && last.height == r->height)
            return;
    }
    crop_.samples.push_back({tMs, r->x, r->y, r->width, r->height});
}

WindowCrop WindowTracker::crop() const {
    std::lock_guard guard(lock_);
    return crop_;
}

} // namespace qv::frontpanel
