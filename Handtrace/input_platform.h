// What the recorder needs from the windowing system, as one seam: the host clock, an event tap
// that delivers input events on the tap thread, the queries the event handler makes there
// (pointer location, displays, the window list), and the current cursor for the main-thread
// poll. InputPlatform::x11() is the real one; tests supply their own.
//
// Event types and their numbers are those of the recorder's event mask: left mouse down (1),
// right mouse down (3), mouse moved (5), left and right mouse dragged (6, 7), key down (10),
// other mouse down (25) and other mouse dragged (27).
#pragma once

#include "Handtrace/cursor_kinds.h"
#include "Handtrace/tap_run_loop.h"
#include "platform/core/geometry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace qv {

enum class InputEventType : int {
    leftMouseDown = 1,
    rightMouseDown = 3,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    keyDown = 10,
    otherMouseDown = 25,
    otherMouseDragged = 27,
};

bool isPointerMotion(InputEventType type) noexcept;

struct InputEvent {
    InputEventType type = InputEventType::mouseMoved;
    std::uint64_t flags = 0;   // modifier bits of KeyChords (key-down only)
    std::uint16_t keyCode = 0; // ANSI key position (key-down only)
};

// One window of the on-screen list, as far as its values could be read.
struct WindowInfo {
    bool onScreen = true;
    std::optional<double> alpha;              // opacity in [0, 1]
    std::optional<Rect> bounds;               // global display space, top-left origin
    std::optional<std::int64_t> ownerPid;     // owning process
    std::optional<std::int64_t> sharingState; // 0: excluded from screen capture
};

// The on-screen windows, front to back, read lazily so that a walk that stops early does not
// pay for the windows behind.
class WindowList {
public:
    virtual ~WindowList();
    virtual std::size_t count() const = 0;
    virtual WindowInfo at(std::size_t index) = 0;
};

// The hidden-window test: whether `point` lies over a window of process `pid` that is excluded
// from screen capture. The first on-screen window from the front that is not nearly transparent
// (alpha > 0.01) and contains the point decides; no list, or no such window, answers no.
bool isOverHiddenWindow(WindowList *windows, Point point, std::int64_t pid);

// The queries of the event handler. Valid on the tap thread while a handler call runs.
class EventTapContext {
public:
    virtual ~EventTapContext();
    // The pointer's position now, global display points; nothing when it cannot be had.
    virtual std::optional<Point> pointerLocation() = 0;
    virtual std::uint32_t mainDisplay() = 0;
    virtual std::optional<std::uint32_t> displayContaining(Point point) = 0;
    // Nothing when the window list cannot be had.
    virtual std::unique_ptr<WindowList> onScreenWindows() = 0;
    // Pointer motion before `until` (host seconds) would be dropped by the throttle: the tap may
    // leave it undelivered, which spares the tap thread a flood of events it would only discard.
    virtual void skipMotionUntil(double until);
};

// A listen-only event tap. It is created (and may be refused) on the caller's thread; then it
// is attached to the tap thread's run loop, and from there it hands each input event to its
// handler until disabled or until the loop stops.
//
// Thread safety: setEnabled() from any thread; attach() and the handler on the tap thread.
class EventTap {
public:
    using Handler = std::function<void(const InputEvent &, EventTapContext &)>;

    virtual ~EventTap();
    virtual void attach(TapRunLoop &loop) = 0;
    virtual void setEnabled(bool enabled) = 0;
};

// Reads the current cursor for the kind poll. Main thread only.
class CursorSource {
public:
    virtual ~CursorSource();
    // Nothing when there is no current cursor to be had.
    virtual std::optional<CursorKinds::CurrentCursor> current() = 0;
    // The table of the desktop's cursor theme, built on first call.
    virtual const CursorKinds::KindTable &kindTable() = 0;
};

class InputPlatform {
public:
    virtual ~InputPlatform();
    // Host monotonic clock, seconds.
    virtual double now() = 0;
    // Nothing when capture is refused.
    virtual std::shared_ptr<EventTap> createTap(EventTap::Handler handler) = 0;
    // Nothing when the cursor cannot be read at all.
    virtual std::unique_ptr<CursorSource> openCursorSource() = 0;
    virtual std::int64_t processId();
    // The whole global display space (the X root window); nothing without a display.
    virtual std::optional<Rect> desktopBounds();

    // X11: XInput2 raw events, XRandR, EWMH window properties and XFixes on $DISPLAY.
    static std::shared_ptr<InputPlatform> x11();
};

// Seconds on the host's monotonic clock.
double hostSeconds() noexcept;

} // namespace qv
