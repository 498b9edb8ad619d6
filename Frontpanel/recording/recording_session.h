// RecordingSession: one recording in progress. It captures the screen (or a region, or the area
// of one window, which it follows), optionally a microphone and a webcam, each on threads of its
// own, and the user's input through the input recorder, all stamped on one clock whose zero is
// the screen's first frame (Frontpanel/recording/session_clock.h). It writes the recording's
// folder in the library, <library>/recordings/<id>/: screen.mp4, mic.m4a, webcam.mp4, the track
// files, the window-crop file and meta.json (docs/formats.md, docs/recording.md).
//
// Use: start() → pause()/resume() → finish() (or release to discard).
// Thread safety: start, pause, resume and finish from one thread (the owner's); progress() from
// any thread. The failure handler runs on a capture thread.
// Lifetime: `mainExecutor` (the input recorder's timers run there) must outlive the session.
// Releasing an unfinished session stops every capture and leaves none of its media behind.
#pragma once

#include "interfaces/persistence/recording.h"
#include "platform/core/executor.h"
#include "platform/core/geometry.h"
#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv::frontpanel {

class RecordingSession {
public:
    struct Options {
        std::string id;                      // the recording's folder name in the library
        int framesPerSecond = 30;            // 30 or 60
        std::optional<Rect> region;          // root-window pixels; absent: the whole screen
        std::optional<std::uint32_t> window; // X window to follow (captures the whole screen)
        // Sound server source name ("" for the default); absent: no microphone.
        std::optional<std::string> microphone;
        // A V4L2 device ("/dev/video0"), "FORMAT:INPUT" for any FFmpeg input format
        // ("lavfi:testsrc=size=320x240:rate=30") or a media file; absent: no webcam.
        std::optional<std::string> webcam;
        bool recordInput = true;
    };

    struct Progress {
        std::int64_t elapsedMs = 0; // recording time, pauses left out
        std::int64_t frames = 0;
        std::int64_t droppedFrames = 0;
        std::optional<double> microphoneDb; // peak level of the latest sound
        bool paused = false;
        bool started = false; // the first frame has arrived
    };

    struct Outcome {
        std::filesystem::path folder;
        RecordingMeta meta;
        std::int64_t frames = 0;
        std::int64_t droppedFrames = 0;
        std::vector<std::string> files; // written, in the folder
        // Optional streams that failed and were left out, and other things the user should know.
        std::vector<std::string> warnings;
    };

    // Called once when an optional stream (or the screen) fails during the recording; the
    // owner should then finish() the session, which writes what still works.
    using FailureHandler = std::function<void(const std::string &message)>;

    // Why the screen cannot be captured here (no X display, a Wayland desktop without X11), or
    // nothing when it can.
    static std::optional<std::string> captureUnavailableReason();

    // Opens every stream and starts capturing. Fails, leaving nothing behind, when the folder
    // already holds a recording or any requested stream cannot be opened.
    static Result<std::unique_ptr<RecordingSession>>
    start(const Options &options, platform::Executor &mainExecutor, FailureHandler onFailure);
    ~RecordingSession();
    RecordingSession(const RecordingSession &) = delete;
    RecordingSession &operator=(const RecordingSession &) = delete;

    void pause();
    void resume();
    bool isPaused() const;
    Progress progress() const;
    // What the user should know from the start (input capture unavailable ...); finish()
    // repeats these in its outcome.
    const std::vector<std::string> &startWarnings() const;
    // Notes on what was opened (first-sample latencies, clocks, the input capture) for the log.
    std::vector<std::string> describeStreams() const;

    // Stops every capture and completes the folder: media finalised, track files, window crop,
    // then meta.json last. A failed optional stream is left out with a warning; a failure of
    // the screen fails the whole recording.
    Result<Outcome> finish();

    struct State;

private:
    explicit RecordingSession(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

} // namespace qv::frontpanel
