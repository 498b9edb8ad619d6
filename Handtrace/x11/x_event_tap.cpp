#include "Handtrace/x11/x_event_tap.h"

#include <xcb/randr.h>
#include <xcb/xinput.h>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace qv::x11 {

namespace {

constexpr std::uint32_t buttonBit(std::uint32_t button) {
    return button < 32 ? 1u << button : 0;
}

// Buttons 4 to 7 are the scroll wheel's, and scrolling is not recorded.
constexpr bool isScrollButton(std::uint32_t button) {
    return button >= 4 && button <= 7;
}

} // namespace

// The EWMH stacking order read front to back, a batch of windows at a time: the walk of the
// hidden-window test usually stops at the first few, and each batch costs one round trip.
class XEventTap::Windows final : public WindowList {
public:
    Windows(xcb_connection_t *c, xcb_window_t root, const Atoms &atoms,
            std::vector<xcb_window_t> frontToBack)
        : c_(c), root_(root), atoms_(atoms), windows_(std::move(frontToBack)),
          infos_(windows_.size()) {}

    std::size_t count() const override { return windows_.size(); }

    WindowInfo at(std::size_t index) override {
        while (index >= fetched_) fetchFrom(fetched_);
        return infos_[index];
    }

private:
    static constexpr std::size_t batch = 8;

    struct Cookies {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_property_cookie_t opacity, pid, excluded;
    };

    xcb_get_property_cookie_t property(xcb_window_t w, xcb_atom_t atom) {
        return xcb_get_property(c_, 0, w, atom, XCB_ATOM_CARDINAL, 0, 1);
    }

    void fetchFrom(std::size_t first) {
        const std::size_t end = std::min(windows_.size(), first + batch);
        std::array<Cookies, batch> cookies;
        // All requests of the batch go out before the first reply is awaited.
        for (std::size_t i = first; i < end; ++i) {
            const xcb_window_t w = windows_[i];
            cookies[i - first] = {xcb_get_window_attributes(c_, w),
                                  xcb_get_geometry(c_, w),
                                  xcb_translate_coordinates(c_, w, root_, 0, 0),
                                  property(w, atoms_.windowOpacity),
                                  property(w, atoms_.windowPid),
                                  property(w, atoms_.excludeFromCapture)};
        }
        for (std::size_t i = first; i < end; ++i) {
            Cookies &k = cookies[i - first];
            WindowInfo &info = infos_[i];
            // A window that vanished since the list was read answers with errors, which are
            // freed here and leave its values absent.
            xcb_generic_error_t *error = nullptr;
            auto take = [&error](auto *reply) {
                std::free(error);
                error = nullptr;
                return Reply<std::remove_pointer_t<decltype(reply)>>(reply);
            };
            auto attributes = take(xcb_get_window_attributes_reply(c_, k.attributes, &error));
            auto geometry = take(xcb_get_geometry_reply(c_, k.geometry, &error));
            auto origin = take(xcb_translate_coordinates_reply(c_, k.origin, &error));
            auto opacity = take(xcb_get_property_reply(c_, k.opacity, &error));
            auto pid = take(xcb_get_property_reply(c_, k.pid, &error));
            auto excluded = take(xcb_get_property_reply(c_, k.excluded, &error));
            std::free(error);

            info.onScreen = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            if (geometry && origin)
                info.bounds = Rect{double(origin->dst_x), double(origin->dst_y),
                                   double(geometry->width), double(geometry->height)};
            if (auto v = cardinalProperty(opacity.get())) info.alpha = *v / 4294967295.0;
            if (auto v = cardinalProperty(pid.get())) info.ownerPid = *v;
            // Marked 1: excluded from capture, which is sharing state 0; marked 0: shared.
            if (auto v = cardinalProperty(excluded.get())) info.sharingState = *v == 1 ? 0 : 1;
        }
        fetched_ = end;
    }

    xcb_connection_t *c_;
    xcb_window_t root_;
    Atoms atoms_;
    std::vector<xcb_window_t> windows_;
    std::vector<WindowInfo> infos_;
    std::size_t fetched_ = 0;
};

std::shared_ptr<XEventTap> XEventTap::open(Handler handler, std::string &why) {
    if (isWaylandSession()) {
        why = "a Wayland session";
        return nullptr;
    }
    auto connection = Connection::open(why);
    if (!connection) return nullptr;
    std::shared_ptr<XEventTap> tap(new XEventTap(std::move(connection), std::move(handler)));
    if (!tap->selectInput(why)) return nullptr;
    tap->loadKeyboard();
    xcb_flush(tap->connection_->get());
    return tap;
}

bool XEventTap::selectInput(std::string &why) {
    xcb_connection_t *c = connection_->get();
    const xcb_query_extension_reply_t *xi = xcb_get_extension_data(c, &xcb_input_id);
    if (!xi || !xi->present) {
        why = "the X server has no XInput extension";
        return false;
    }
    inputOpcode_ = xi->major_opcode;
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2) {
        why = "the X server has no XInput 2";
        return false;
    }

    Reply<xcb_generic_error_t> error(xcb_request_check(c, selectRawEvents(true, true)));
    if (error) {
        why = "the X server refused XInput 2 raw events";
        return false;
    }

    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr && randr->present) {
        Reply<xcb_randr_query_version_reply_t> v(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        // Monitors came with RandR 1.5; without them every pointer is on display 0.
        haveMonitors_ = v && (v->major_version > 1 || v->minor_version >= 5);
        if (haveMonitors_) {
            randrEventBase_ = randr->first_event;
            xcb_randr_select_input(c, connection_->root(),
                                   XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                       XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                       XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
        }
    }

    atoms_.clientListStacking = connection_->atom("_NET_CLIENT_LIST_STACKING");
    atoms_.windowOpacity = connection_->atom("_NET_WM_WINDOW_OPACITY");
    atoms_.windowPid = connection_->atom("_NET_WM_PID");
    atoms_.excludeFromCapture = connection_->atom(excludeFromCaptureProperty);
    return true;
}

xcb_void_cookie_t XEventTap::selectRawEvents(bool motion, bool checked) {
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
               XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
               XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE};
    if (motion) mask.bits |= XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
    xcb_connection_t *c = connection_->get();
    return checked ? xcb_input_xi_select_events_checked(c, connection_->root(), 1, &mask.head)
                   : xcb_input_xi_select_events(c, connection_->root(), 1, &mask.head);
}

void XEventTap::skipMotionUntil(double until) {
    if (!loop_ || connectionLost_) return;
    if (motionSelected_) {
        selectRawEvents(false, false);
        xcb_flush(connection_->get());
        motionSelected_ = false;
    }
    loop_->runAt(until, [this] {
        selectRawEvents(true, false);
        xcb_flush(connection_->get());
        motionSelected_ = true;
    });
}

void XEventTap::loadKeyboard() {
    xcb_connection_t *c = connection_->get();
    const xcb_setup_t *setup = xcb_get_setup(c);
    const std::uint8_t first = setup->min_keycode;
    const std::uint8_t count = static_cast<std::uint8_t>(setup->max_keycode - first + 1);
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr));
    if (mapping) {
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        const int n = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
        modifiers_.setKeyboardMapping(first, mapping->keysyms_per_keycode,
                                      std::span<const std::uint32_t>(syms, std::size_t(n)));
    }
    Reply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    if (keymap) modifiers_.setPressedKeys(std::span<const std::uint8_t, 32>(keymap->keys, 32));
}

XEventTap::~XEventTap() {
    if (pollTimerFd_ >= 0) ::close(pollTimerFd_);
}

void XEventTap::attach(TapRunLoop &loop) {
    loop_ = &loop;
    pollTimerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (pollTimerFd_ >= 0) {
        const itimerspec every{{0, pointerPollNs}, {0, pointerPollNs}};
        ::timerfd_settime(pollTimerFd_, 0, &every, nullptr);
        loop.addSource(pollTimerFd_, [this] {
            std::uint64_t expirations = 0;
            [[maybe_unused]] ssize_t n = ::read(pollTimerFd_, &expirations, sizeof expirations);
            pollPointer();
        });
    }
    const int fd = xcb_get_file_descriptor(connection_->get());
    loop.addSource(fd, [this, &loop, fd] {
        drain();
        if (connection_->failed() && !connectionLost_) {
            // The server went away. Like a tap the system disabled, it is not revived.
            connectionLost_ = true;
            enabled_.store(false);
            loop.removeSource(fd);
        }
    });
}

void XEventTap::drain() {
    xcb_connection_t *c = connection_->get();
    // Queries made while handling an event may read further events into xcb's queue; the loop
    // takes them too, so none waits in the queue while poll() sleeps.
    while (xcb_generic_event_t *raw = xcb_poll_for_event(c)) {
        Reply<xcb_generic_event_t> event(raw);
        dispatch(*event);
    }
}

void XEventTap::dispatch(const xcb_generic_event_t &event) {
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == XCB_GE_GENERIC) {
        dispatchInput(reinterpret_cast<const xcb_ge_generic_event_t &>(event));
    } else if (type == XCB_MAPPING_NOTIFY) {
        const auto &m = reinterpret_cast<const xcb_mapping_notify_event_t &>(event);
        if (m.request == XCB_MAPPING_KEYBOARD || m.request == XCB_MAPPING_MODIFIER) loadKeyboard();
    } else if (haveMonitors_ && (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                 type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
        monitorsCurrent_ = false;
    }
    // Errors (type 0) of requests whose replies nobody waits for need no action.
}

void XEventTap::dispatchInput(const xcb_ge_generic_event_t &event) {
    if (event.extension != inputOpcode_) return;
    switch (event.event_type) {
    case XCB_INPUT_RAW_KEY_PRESS: {
        const auto &key = reinterpret_cast<const xcb_input_raw_key_press_event_t &>(event);
        const auto keyCode = static_cast<std::uint8_t>(key.detail);
        modifiers_.press(keyCode);
        if (const auto ansi = ansiKeyCode(keyCode))
            deliver({InputEventType::keyDown, modifiers_.flags(), *ansi});
        break;
    }
    case XCB_INPUT_RAW_KEY_RELEASE: {
        const auto &key = reinterpret_cast<const xcb_input_raw_key_release_event_t &>(event);
        modifiers_.release(static_cast<std::uint8_t>(key.detail));
        break;
    }
    case XCB_INPUT_RAW_BUTTON_PRESS: {
        const auto &b = reinterpret_cast<const xcb_input_raw_button_press_event_t &>(event);
        if (isScrollButton(b.detail)) break;
        buttonsDown_ |= buttonBit(b.detail);
        const InputEventType type = b.detail == 1   ? InputEventType::leftMouseDown
                                    : b.detail == 3 ? InputEventType::rightMouseDown
                                                    : InputEventType::otherMouseDown;
        deliver({type, 0, 0});
        break;
    }
    case XCB_INPUT_RAW_BUTTON_RELEASE: {
        const auto &b = reinterpret_cast<const xcb_input_raw_button_release_event_t &>(event);
        buttonsDown_ &= ~buttonBit(b.detail);
        break;
    }
    case XCB_INPUT_RAW_MOTION: {
        // Motion still in flight after it was deselected falls inside the throttle interval:
        // the handler would drop it, so it is dropped here without the handler's work.
        if (!motionSelected_) break;
        auto *m = reinterpret_cast<const xcb_input_raw_motion_event_t *>(&event);
        // Only motion along x or y (valuators 0 and 1) moves the pointer; smooth scrolling
        // arrives as raw motion on the scroll valuators.
        if (m->valuators_len == 0) break;
        if ((xcb_input_raw_button_press_valuator_mask(m)[0] & 0x3u) == 0) break;
        motionSinceTick_ = true;
        deliver({motionType(), 0, 0});
        lastMotionPointer_ = lastPointer_;
        break;
    }
    default:
        break;
    }
}

InputEventType XEventTap::motionType() const {
    if (buttonsDown_ & buttonBit(1)) return InputEventType::leftMouseDragged;
    if (buttonsDown_ & buttonBit(3)) return InputEventType::rightMouseDragged;
    if (buttonsDown_ != 0) return InputEventType::otherMouseDragged;
    return InputEventType::mouseMoved;
}

void XEventTap::pollPointer() {
    if (connectionLost_ || !enabled_.load(std::memory_order_relaxed)) return;
    // While motion is gated by the throttle the pointer is moving and sampled anyway; a warp in
    // that interval is seen by the first tick after motion is selected again.
    if (!motionSelected_) return;
    if (motionSinceTick_) {
        // The motion's handler read the position itself.
        motionSinceTick_ = false;
        return;
    }
    const std::optional<Point> before = lastMotionPointer_;
    const std::optional<Point> now = pointerLocation();
    // The first tick hands on where the pointer starts.
    if (!now || (before && now->x == before->x && now->y == before->y)) return;
    deliver({motionType(), 0, 0});
    lastMotionPointer_ = lastPointer_;
}

void XEventTap::deliver(const InputEvent &event) {
    if (!enabled_.load(std::memory_order_relaxed)) return;
    handler_(event, *this);
}

std::optional<Point> XEventTap::pointerLocation() {
    xcb_connection_t *c = connection_->get();
    Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_->root()), nullptr));
    if (!reply) return std::nullopt;
    lastPointer_ = Point{double(reply->root_x), double(reply->root_y)};
    return lastPointer_;
}

void XEventTap::refreshMonitors() {
    if (monitorsCurrent_ || !haveMonitors_) return;
    xcb_connection_t *c = connection_->get();
    Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
        c, xcb_randr_get_monitors(c, connection_->root(), 1), nullptr));
    if (!reply) return; // asked again next time
    monitors_.clear();
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t *m = it.data;
        // A monitor is known by its first output, which keeps its identifier while the server
        // runs; a monitor without outputs by its name atom.
        const int outputs = xcb_randr_monitor_info_outputs_length(m);
        const std::uint32_t id =
            outputs > 0 ? xcb_randr_monitor_info_outputs(m)[0] : std::uint32_t(m->name);
        monitors_.push_back({m->x, m->y, m->width, m->height, m->primary != 0, id});
    }
    monitorsCurrent_ = true;
}

std::uint32_t XEventTap::mainDisplay() {
    refreshMonitors();
    for (const Monitor &m : monitors_)
        if (m.primary) return m.id;
    return monitors_.empty() ? 0 : monitors_.front().id;
}

std::optional<std::uint32_t> XEventTap::displayContaining(Point p) {
    refreshMonitors();
    for (const Monitor &m : monitors_)
        if (p.x >= m.x && p.x < m.x + m.width && p.y >= m.y && p.y < m.y + m.height) return m.id;
    return std::nullopt;
}

std::unique_ptr<WindowList> XEventTap::onScreenWindows() {
    if (atoms_.clientListStacking == XCB_ATOM_NONE) return nullptr;
    xcb_connection_t *c = connection_->get();
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, connection_->root(), atoms_.clientListStacking, XCB_ATOM_WINDOW, 0,
                         1 << 16),
        nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32) return nullptr;
    const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    if (n <= 0) return nullptr;
    // The property lists windows bottom to top.
    std::vector<xcb_window_t> frontToBack(ids, ids + n);
    std::reverse(frontToBack.begin(), frontToBack.end());
    return std::make_unique<Windows>(c, connection_->root(), atoms_, std::move(frontToBack));
}

} // namespace qv::x11
