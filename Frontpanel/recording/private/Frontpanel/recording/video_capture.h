// One live video stream (the screen or a camera) encoded while it is captured into an H.264
// MPEG-4 file at a constant frame rate on the session's clock.
//
// Two threads: one reads and stamps packets, one decodes, converts and encodes them, with a
// short queue between them; a packet that finds the queue full is dropped and counted, so a
// slow encoder never delays the stamping of what is captured.
// Thread safety: start(), finish() and abandon() from one thread; figures() from any thread.
// Lifetime: destroying a capture that was not finished abandons its file.
#pragma once

#include "Frontpanel/recording/live_input.h"
#include "Frontpanel/recording/session_clock.h"
#include "platform/core/result.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace qv::frontpanel {

struct VideoCaptureSettings {
    std::string label; // "screen", "webcam"
    CaptureInput input;
    std::filesystem::path destination;
    int framesPerSecond = 30;
    // The screen: its first frame sets the session's origin.
    bool setsOrigin = false;
    // Called on the encoding thread for each frame written, with its frame number.
    std::function<void(std::int64_t frameNumber, std::int64_t recordingNs)> onFrame;
};

class VideoCapture {
public:
    struct Figures {
        std::int64_t frames = 0;  // frames written
        std::int64_t dropped = 0; // frame times that got no picture
        std::int64_t lastFrame = -1;
    };

    static Result<std::unique_ptr<VideoCapture>> open(VideoCaptureSettings settings,
                                                      SessionClock &clock);
    ~VideoCapture();
    VideoCapture(const VideoCapture &) = delete;
    VideoCapture &operator=(const VideoCapture &) = delete;

    int width() const noexcept;
    int height() const noexcept;

    // Starts the threads. `onFailure` runs once, on a capture thread, when reading or encoding
    // fails (the capture then stops by itself and its file is abandoned), or when the input
    // ends by itself (what was captured is kept).
    void start(std::function<void(const Error &)> onFailure);
    // Stops reading, encodes what is queued and completes the file. Fails with the error that
    // stopped the capture, or when no frame was captured.
    Status finish();
    void abandon() noexcept;
    Figures figures() const noexcept;
    // The first packet's latency and the clock its stamps were read on.
    StampClock stampClock() const noexcept;
    std::int64_t firstLatencyNs() const noexcept;

    struct State;

private:
    explicit VideoCapture(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

// H.264 settings of the recorder's movies (see docs/recording.md).
struct RecordingEncoder {
    static constexpr const char *codec = "libx264";
    static constexpr const char *preset = "superfast";
    static constexpr const char *crf = "18";
    // A keyframe every second: the preview and the frame command seek into these movies, and a
    // seek decodes from the keyframe before the frame it wants.
    static constexpr int keyframeSeconds = 1;
};

} // namespace qv::frontpanel
