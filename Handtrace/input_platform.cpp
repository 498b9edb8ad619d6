#include "Handtrace/input_platform.h"

#include "platform/core/clock.h"

#include <unistd.h>

namespace qv {

WindowList::~WindowList() = default;
EventTapContext::~EventTapContext() = default;

void EventTapContext::skipMotionUntil(double) {
}
EventTap::~EventTap() = default;
CursorSource::~CursorSource() = default;
InputPlatform::~InputPlatform() = default;

std::int64_t InputPlatform::processId() {
    return ::getpid();
}

std::optional<Rect> InputPlatform::desktopBounds() {
    return std::nullopt;
}

bool isPointerMotion(InputEventType type) noexcept {
    switch (type) {
    case InputEventType::mouseMoved:
    case InputEventType::leftMouseDragged:
    case InputEventType::rightMouseDragged:
    case InputEventType::otherMouseDragged:
        return true;
    default:
        return false;
    }
}

bool isOverHiddenWindow(WindowList *windows, Point point, std::int64_t pid) {
    if (!windows) return false;
    const std::size_t n = windows->count();
    for (std::size_t i = 0; i < n; ++i) {
        const WindowInfo w = windows->at(i);
        if (!w.onScreen) continue;
        if (w.alpha && *w.alpha <= 0.01) continue;
        if (!w.bounds) continue;
        const Rect &b = *w.bounds;
        const bool contains =
            point.x >= b.minX() && point.x < b.maxX() && point.y >= b.minY() && point.y < b.maxY();
        if (!contains) continue;
        return w.ownerPid && *w.ownerPid == pid && w.sharingState && *w.sharingState == 0;
    }
    return false;
}

double hostSeconds() noexcept {
    return static_cast<double>(platform::hostTimeNs()) / 1e9;
}

} // namespace qv
