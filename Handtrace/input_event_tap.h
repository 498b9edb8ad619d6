// InputEventTap records, for one screen recording, where the pointer went, where mouse buttons
// went down, which key chords were pressed and which kind of cursor showed; at the end it
// writes them as "clicks.json", "cursor.json" and "keys.json" (Handtrace/track_files.h).
//
// Use: create() → start() → setPaused() as the recording pauses and resumes →
// finishWritingFiles() or cancel(). Releasing the recorder stops capture and writes nothing.
// Input is captured on the tap thread "com.quillvane.inputtap" (its own event loop on its own X
// connection); the cursor kind is polled every 40 ms on the main executor.
//
// Times: every record carries tMs, milliseconds since `originSeconds` on the host monotonic
// clock (hostSeconds()) with completed pauses cut out, truncated. Positions are global display
// points (the X root window's coordinates) minus the top-left corner of `basisRect`.
//
// Thread safety: the public operations may be called from any thread. `originSeconds` and
// `basisRect` are called on the tap thread and the main executor, so they must be safe from any
// thread and must not wait for the main executor.
// Lifetime: the main executor must outlive the recorder. The stop step (finishWritingFiles(),
// cancel() or release) waits for the tap thread to end; once the recorder is released, nothing of
// it runs any more on the tap thread or touches the main executor. The tap thread and the
// cursor-kind timer hold the recorder's state only weakly.
#pragma once

#include "Handtrace/input_platform.h"
#include "Handtrace/track_files.h"
#include "platform/core/executor.h"
#include "platform/core/geometry.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace qv {

class InputEventTap {
public:
    // The recording's origin on the host clock, seconds; nothing while none is known.
    using OriginSeconds = std::function<std::optional<double>()>;
    // The capture area in global display points, top-left origin, y down.
    using BasisRect = std::function<std::optional<Rect>()>;

    static std::unique_ptr<InputEventTap> create(std::filesystem::path outputDirectory,
                                                 OriginSeconds originSeconds, BasisRect basisRect,
                                                 platform::Executor &mainExecutor);
    // The same on another input platform (tests, other windowing systems).
    static std::unique_ptr<InputEventTap> create(std::filesystem::path outputDirectory,
                                                 OriginSeconds originSeconds, BasisRect basisRect,
                                                 platform::Executor &mainExecutor,
                                                 std::shared_ptr<InputPlatform> platform);
    ~InputEventTap();
    InputEventTap(const InputEventTap &) = delete;
    InputEventTap &operator=(const InputEventTap &) = delete;

    // Starts capture. False, with one log line and nothing started, when capture is refused
    // (no X display, no XInput2, a Wayland session) or the recorder was already stopped; true
    // without starting anything twice when it is already running.
    bool start();
    void setPaused(bool paused);
    // Stops capture and writes the track files; the records stay, so a second call writes the
    // same files again. Returns the names written, or an Error naming each file that failed
    // (the others are still written).
    Result<std::vector<std::string>> finishWritingFiles();
    // Stops capture and discards the records; writes nothing.
    void cancel();

    // Minimum spacing of pointer samples: at most 60 a second.
    static constexpr double cursorMinInterval = 1.0 / 60.0;
    // The cursor-kind poll period.
    static constexpr std::chrono::milliseconds kindPollInterval{40};
    static constexpr const char *threadLabel = "com.quillvane.inputtap";

    // The recorder's fields and rules (input_event_tap.cpp), shared with its thread and timer.
    class State;

private:
    explicit InputEventTap(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

} // namespace qv
