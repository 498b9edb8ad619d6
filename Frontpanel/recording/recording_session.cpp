#include "Frontpanel/recording/recording_session.h"

#include "Frontpanel/recording/pointer_rests.h"

#include "Frontpanel/recording/audio_capture.h"
#include "Frontpanel/recording/session_clock.h"
#include "Frontpanel/recording/video_capture.h"
#include "Frontpanel/recording/window_tracker.h"
#include "Handtrace/input_event_tap.h"
#include "platform/core/atomic_file.h"
#include "platform/core/clock.h"

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>

namespace qv::frontpanel {

namespace fs = std::filesystem;

namespace {

constexpr const char *screenFile = "screen.mp4";
constexpr const char *micFile = "mic.m4a";
constexpr const char *webcamFile = "webcam.mp4";
constexpr const char *windowCropFile = "window.json";

std::string env(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

bool waylandSession() {
    return !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";
}

std::string rectText(const Rect &r) {
    return std::to_string(long(r.width)) + "x" + std::to_string(long(r.height)) + "+" +
           std::to_string(long(r.x)) + "+" + std::to_string(long(r.y));
}

// The whole root window of $DISPLAY.
Result<Rect> rootArea() {
    int screen = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screen);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return Error{"cannot open the X display " + env("DISPLAY")};
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
    const Rect r{0, 0, double(it.data->width_in_pixels), double(it.data->height_in_pixels)};
    xcb_disconnect(c);
    return r;
}

// The webcam argument as an FFmpeg input (see Options::webcam).
CaptureInput webcamInput(const std::string &argument) {
    registerCaptureDevices();
    if (argument.empty()) return {"v4l2", "/dev/video0", {}};
    if (argument.front() == '/') {
        if (argument.rfind("/dev/", 0) == 0) return {"v4l2", argument, {}};
        return {"", argument, {}};
    }
    const auto colon = argument.find(':');
    if (colon != std::string::npos && colon > 0) {
        const std::string format = argument.substr(0, colon);
        if (av_find_input_format(format.c_str())) return {format, argument.substr(colon + 1), {}};
    }
    return {"", argument, {}};
}

} // namespace

struct RecordingSession::State {
    Options options;
    fs::path folder;
    Rect area;
    std::string sourceName;
    std::int64_t createdAtMs = 0;
    SessionClock clock;
    std::unique_ptr<VideoCapture> screen, webcam;
    std::unique_ptr<AudioCapture> microphone;
    std::unique_ptr<WindowTracker> window;
    std::unique_ptr<InputEventTap> input;
    std::vector<std::string> warnings;
    FailureHandler onFailure;
    bool finished = false;

    // A session that never finished leaves no folder behind, unless something else is in it.
    ~State() {
        if (finished) return;
        abandonAll();
        std::error_code ec;
        if (!folder.empty()) fs::remove(folder, ec);
    }

    void abandonAll() noexcept {
        if (input) input->cancel();
        if (screen) screen->abandon();
        if (webcam) webcam->abandon();
        if (microphone) microphone->abandon();
    }
};

std::optional<std::string> RecordingSession::captureUnavailableReason() {
    if (waylandSession())
        return std::string(
            env("DISPLAY").empty()
                ? "this is a Wayland session without X11: recording needs an X11 session"
                : "this is a Wayland session: through its X11 server (Xwayland) only X11 "
                  "windows could be captured, and no input; recording needs an X11 session");
    if (env("DISPLAY").empty()) return std::string("no X display: DISPLAY is not set");
    if (auto root = rootArea(); !root) return root.error().message;
    return std::nullopt;
}

Result<std::unique_ptr<RecordingSession>> RecordingSession::start(const Options &options,
                                                                  platform::Executor &mainExecutor,
                                                                  FailureHandler onFailure) {
    if (auto reason = captureUnavailableReason()) return Error{*reason};
    if (options.framesPerSecond != 30 && options.framesPerSecond != 60)
        return Error{"the frame rate must be 30 or 60, not " +
                     std::to_string(options.framesPerSecond)};
    if (options.region && options.window)
        return Error{"record either a region or a window, not both"};
    auto s = std::make_unique<State>();
    s->options = options;
    s->onFailure = std::move(onFailure);

    auto root = rootArea();
    if (!root) return root.error();
    Rect area = *root;
    if (options.region) {
        const Rect &r = *options.region;
        if (!(r.width >= 2 && r.height >= 2 && r.x >= 0 && r.y >= 0 &&
              r.x + r.width <= root->width && r.y + r.height <= root->height))
            return Error{"the region " + rectText(r) + " does not lie inside the screen (" +
                         rectText(*root) + ")"};
        area = r;
    }
    // H.264 in 4:2:0 wants an even size.
    area.width = double(long(area.width) & ~1L);
    area.height = double(long(area.height) & ~1L);
    s->area = area;
    const std::string display = env("DISPLAY");
    s->sourceName = options.region ? display + " " + rectText(area) : display;

    if (options.window) {
        auto tracker = WindowTracker::open(*options.window, area);
        if (!tracker) return tracker.error();
        s->window = std::move(tracker).value();
        if (!s->window->query())
            return Error{"window recording: the window is not mapped (not on the screen)"};
        s->sourceName = s->window->name().empty() ? "window" : s->window->name();
    }

    auto folder = RecordingStore::recordingDirectory(options.id, true);
    if (!folder) return folder.error();
    s->folder = *folder;
    for (const char *name : {RecordingMeta::fileName, screenFile})
        if (fs::exists(s->folder / name))
            return Error{s->folder.string() + " already holds a recording (" + name +
                         "); choose another id"};

    VideoCaptureSettings screen;
    screen.label = "screen";
    screen.input = {
        "x11grab",
        display,
        {{"framerate", std::to_string(options.framesPerSecond)},
         {"video_size", std::to_string(long(area.width)) + "x" + std::to_string(long(area.height))},
         {"grab_x", std::to_string(long(area.x))},
         {"grab_y", std::to_string(long(area.y))},
         // The pointer is drawn later from the recorded positions.
         {"draw_mouse", "0"}}};
    screen.destination = s->folder / screenFile;
    screen.framesPerSecond = options.framesPerSecond;
    screen.setsOrigin = true;
    if (s->window) {
        WindowTracker *tracker = s->window.get();
        screen.onFrame = [tracker](std::int64_t, std::int64_t recordingNs) {
            tracker->sample(recordingNs / 1'000'000);
        };
    }
    auto screenCapture = VideoCapture::open(std::move(screen), s->clock);
    if (!screenCapture) return screenCapture.error();
    s->screen = std::move(screenCapture).value();

    if (options.microphone) {
        AudioCaptureSettings mic;
        mic.input = {"pulse",
                     options.microphone->empty() ? "default" : *options.microphone,
                     {{"sample_rate", "48000"},
                      {"channels", "1"},
                      // 20 ms packets: the sound's stamps are as fine as a packet.
                      {"fragment_size", "1920"}}};
        mic.destination = s->folder / micFile;
        auto capture = AudioCapture::open(std::move(mic), s->clock);
        if (!capture) return capture.error();
        s->microphone = std::move(capture).value();
    }
    if (options.webcam) {
        VideoCaptureSettings cam;
        cam.label = "webcam";
        cam.input = webcamInput(*options.webcam);
        cam.destination = s->folder / webcamFile;
        cam.framesPerSecond = options.framesPerSecond;
        auto capture = VideoCapture::open(std::move(cam), s->clock);
        if (!capture) return capture.error();
        s->webcam = std::move(capture).value();
    }

    State *state = s.get();
    if (options.recordInput) {
        SessionClock *clock = &s->clock;
        s->input = InputEventTap::create(
            s->folder,
            [clock]() -> std::optional<double> {
                const auto origin = clock->originNs();
                if (!origin) return std::nullopt;
                return double(*origin) / 1e9;
            },
            [area]() -> std::optional<Rect> { return area; }, mainExecutor);
        if (!s->input->start()) {
            s->input.reset();
            s->warnings.push_back("input capture unavailable: no pointer, clicks or keys were "
                                  "recorded");
        }
    }

    const auto failed = [state](const char *what) {
        return [state, what](const Error &e) {
            if (state->onFailure) state->onFailure(std::string(what) + ": " + e.message);
        };
    };
    s->createdAtMs = wallTimeNs() / 1'000'000;
    s->screen->start(failed("recording stopped"));
    if (s->microphone) s->microphone->start(failed("microphone failed"));
    if (s->webcam) s->webcam->start(failed("webcam failed"));
    return std::unique_ptr<RecordingSession>(new RecordingSession(std::move(s)));
}

RecordingSession::RecordingSession(std::unique_ptr<State> s) : s_(std::move(s)) {
}

RecordingSession::~RecordingSession() = default;

void RecordingSession::pause() {
    if (!s_->clock.originNs() || s_->clock.isPaused()) return;
    s_->clock.pause(platform::hostTimeNs());
    if (s_->input) s_->input->setPaused(true);
}

void RecordingSession::resume() {
    if (!s_->clock.isPaused()) return;
    s_->clock.resume(platform::hostTimeNs());
    if (s_->input) s_->input->setPaused(false);
}

bool RecordingSession::isPaused() const {
    return s_->clock.isPaused();
}

RecordingSession::Progress RecordingSession::progress() const {
    Progress p;
    p.started = s_->clock.originNs().has_value();
    p.elapsedMs = s_->clock.elapsedNs(platform::hostTimeNs()) / 1'000'000;
    const auto f = s_->screen->figures();
    p.frames = f.frames;
    p.droppedFrames = f.dropped;
    if (s_->microphone) p.microphoneDb = s_->microphone->levelDb();
    p.paused = s_->clock.isPaused();
    return p;
}

const std::vector<std::string> &RecordingSession::startWarnings() const {
    return s_->warnings;
}

std::vector<std::string> RecordingSession::describeStreams() const {
    const auto clockName = [](StampClock c) {
        switch (c) {
        case StampClock::monotonic:
            return "device stamps on the monotonic clock";
        case StampClock::wallClock:
            return "device stamps on the wall clock";
        case StampClock::none:
            break;
        }
        return "played out in real time";
    };
    const auto line = [&](const char *what, StampClock c, std::int64_t latencyNs) {
        char text[160];
        std::snprintf(text, sizeof text, "%s: %s, first sample %.1f ms before it arrived", what,
                      clockName(c), double(latencyNs) / 1e6);
        return std::string(text);
    };
    std::vector<std::string> lines;
    lines.push_back(line("screen", s_->screen->stampClock(), s_->screen->firstLatencyNs()));
    if (s_->microphone)
        lines.push_back(
            line("microphone", s_->microphone->stampClock(), s_->microphone->firstLatencyNs()));
    if (s_->webcam)
        lines.push_back(line("webcam", s_->webcam->stampClock(), s_->webcam->firstLatencyNs()));
    return lines;
}

Result<RecordingSession::Outcome> RecordingSession::finish() {
    State &s = *s_;
    if (s.finished) return Error{"the recording is already finished"};
    s.finished = true;
    const std::int64_t now = platform::hostTimeNs();
    // A recording stopped while paused ends where the pause began.
    const std::int64_t durationNs = s.clock.elapsedNs(now);
    Outcome out;
    out.folder = s.folder;
    out.warnings = s.warnings;

    const Status screen = s.screen->finish();
    if (!screen) {
        s.abandonAll();
        return screen.error();
    }
    out.files.push_back(screenFile);
    const auto figures = s.screen->figures();
    out.frames = figures.frames;
    out.droppedFrames = figures.dropped;

    RecordingMeta meta;
    meta.id = s.options.id;
    meta.createdAtMs = s.createdAtMs;
    meta.sourceName = s.sourceName;
    meta.width = s.screen->width();
    meta.height = s.screen->height();
    meta.cursorSynthetic = true;
    // The screen's last frame shows until the recording's end.
    const std::int64_t frameNs = 1'000'000'000 / s.options.framesPerSecond;
    meta.durationMs = std::max(durationNs, (figures.lastFrame + 1) * frameNs) / 1'000'000;

    if (s.webcam) {
        if (const Status st = s.webcam->finish(); st) {
            meta.hasWebcam = true;
            out.files.push_back(webcamFile);
        } else {
            out.warnings.push_back("webcam left out: " + st.error().message);
        }
    }
    if (s.microphone) {
        if (const Status st = s.microphone->finish(meta.durationMs * 1'000'000); st) {
            meta.hasMicrophone = true;
            out.files.push_back(micFile);
        } else {
            out.warnings.push_back("microphone left out: " + st.error().message);
        }
    }
    if (s.input) {
        const auto written = s.input->finishWritingFiles();
        if (written)
            out.files.insert(out.files.end(), written->begin(), written->end());
        else
            out.warnings.push_back("input tracks: " + written.error().message);
        if (const Status st = markPointerRests(s.folder); !st)
            out.warnings.push_back("pointer rests left unmarked: " + st.error().message);
    }
    if (s.window) {
        const WindowCrop crop = s.window->crop();
        if (crop.samples.empty()) {
            out.warnings.push_back("the window was never seen on the screen; recorded as a "
                                   "screen recording");
        } else if (const Status st =
                       platform::writeFileAtomically(s.folder / windowCropFile, crop.encode());
                   st) {
            meta.windowCropFile = windowCropFile;
            out.files.push_back(windowCropFile);
        } else {
            out.warnings.push_back("window crop left out: " + st.error().message);
        }
    }
    // Written last: a folder with meta.json is complete.
    if (const Status st = meta.write(s.folder); !st) return st.error();
    out.files.push_back(RecordingMeta::fileName);
    out.meta = meta;
    return out;
}

} // namespace qv::frontpanel
