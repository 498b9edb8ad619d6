// The X11 event tap: XInput2 raw events of all master devices, selected on the root window of
// a connection of its own, served by the tap thread's run loop.
//
// While the recorder's throttle would drop pointer motion anyway, raw motion is deselected and
// selected again when the interval ends: a pointer that floods the server with events then costs
// the tap thread about 60 wake-ups a second instead of one per event.
//
// Raw events carry neither the pointer position nor the modifier state. Modifiers are followed
// from the raw key presses and releases (x_keyboard.h); the position is asked for with one
// QueryPointer when the handler wants it, which the handler does only for events that passed
// its throttle. Displays come from RandR monitors, cached until RandR says they changed; the
// window list from the EWMH stacking order, read front to back in batches as far as needed.
//
// Thread safety: open() on any thread; after attach(), everything but setEnabled() belongs to
// the tap thread.
#pragma once

#include "Handtrace/input_platform.h"
#include "Handtrace/x11/x_connection.h"
#include "Handtrace/x11/x_keyboard.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace qv::x11 {

// The window property that marks a window as excluded from screen capture: CARDINAL, format
// 32, value 1. The application sets it on its own windows that must not appear in recordings.
inline constexpr std::string_view excludeFromCaptureProperty = "_QUILLVANE_EXCLUDE_FROM_CAPTURE";

class XEventTap final : public EventTap, private EventTapContext {
public:
    // Nothing, with the reason in `why`, when capture is refused.
    static std::shared_ptr<XEventTap> open(Handler handler, std::string &why);

    ~XEventTap() override;
    void attach(TapRunLoop &loop) override;

    // How often the pointer is asked for when no raw motion came: a warp (an absolute move by
    // an application or automation) produces no raw motion, only a changed position.
    static constexpr long pointerPollNs = 1'000'000'000 / 60;
    void setEnabled(bool enabled) override { enabled_.store(enabled); }

private:
    struct Monitor {
        std::int32_t x, y, width, height;
        bool primary;
        std::uint32_t id;
    };
    struct Atoms {
        xcb_atom_t clientListStacking = XCB_ATOM_NONE;
        xcb_atom_t windowOpacity = XCB_ATOM_NONE;
        xcb_atom_t windowPid = XCB_ATOM_NONE;
        xcb_atom_t excludeFromCapture = XCB_ATOM_NONE;
    };
    class Windows;

    XEventTap(std::unique_ptr<Connection> connection, Handler handler)
        : connection_(std::move(connection)), handler_(std::move(handler)) {}

    bool selectInput(std::string &why);
    // Sends the raw-event selection, with or without motion; no reply is awaited.
    xcb_void_cookie_t selectRawEvents(bool motion, bool checked);
    void loadKeyboard();
    void drain();
    void dispatch(const xcb_generic_event_t &event);
    void dispatchInput(const xcb_ge_generic_event_t &event);
    void deliver(const InputEvent &event);
    void refreshMonitors();
    // The pointer-poll tick: delivers a move when the pointer changed place without motion.
    void pollPointer();
    InputEventType motionType() const;

    // EventTapContext
    std::optional<Point> pointerLocation() override;
    std::uint32_t mainDisplay() override;
    std::optional<std::uint32_t> displayContaining(Point point) override;
    std::unique_ptr<WindowList> onScreenWindows() override;
    void skipMotionUntil(double until) override;

    std::unique_ptr<Connection> connection_;
    Handler handler_;
    std::atomic<bool> enabled_{false};
    std::uint8_t inputOpcode_ = 0;
    bool haveMonitors_ = false;
    std::uint8_t randrEventBase_ = 0;
    Atoms atoms_;
    ModifierTracker modifiers_;
    std::uint32_t buttonsDown_ = 0; // bit n: button n held
    std::vector<Monitor> monitors_;
    bool monitorsCurrent_ = false;
    bool connectionLost_ = false;
    TapRunLoop *loop_ = nullptr;
    bool motionSelected_ = true;
    int pollTimerFd_ = -1;
    bool motionSinceTick_ = false;     // raw motion delivered since the last poll
    std::optional<Point> lastPointer_; // the last position read, by any query
    // Where the pointer was when motion was last handed on: a click reads the position too, so
    // the last read alone would hide a warp that a click follows at once.
    std::optional<Point> lastMotionPointer_;
};

} // namespace qv::x11
