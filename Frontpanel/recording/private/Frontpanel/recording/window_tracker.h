// Follows one X11 window during a window recording: where it lies inside the captured area,
// sampled with each frame, kept as window-crop samples.
//
// Thread safety: sample() from one thread (the screen's encoding thread); crop() and name()
// from any thread. Lifetime: owns its own X connection.
#pragma once

#include "interfaces/persistence/window_crop.h"
#include "platform/core/geometry.h"
#include "platform/core/result.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qv::frontpanel {

class WindowTracker {
public:
    // Opens $DISPLAY and checks that the window exists. `captureArea` is the captured part of
    // the root window, root pixels.
    static Result<std::unique_ptr<WindowTracker>> open(std::uint32_t window, Rect captureArea);
    ~WindowTracker();
    WindowTracker(const WindowTracker &) = delete;
    WindowTracker &operator=(const WindowTracker &) = delete;

    // The window's title (_NET_WM_NAME, else WM_NAME), read when it was opened.
    const std::string &name() const noexcept { return name_; }
    // The window's rectangle in capture pixels now; nothing while it is unmapped or gone.
    std::optional<Rect> query();
    // Adds a sample at `tMs` when the rectangle differs from the last one. An unmapped or
    // vanished window adds nothing: the last place it was seen holds.
    void sample(std::int64_t tMs);
    // The samples so far, for the capture's size.
    WindowCrop crop() const;

    struct Connection;

private:
    WindowTracker() = default;
    std::unique_ptr<Connection> x_;
    std::uint32_t window_ = 0;
    Rect area_;
    std::string name_;
    mutable std::mutex lock_;
    WindowCrop crop_;
};

} // namespace qv::frontpanel
