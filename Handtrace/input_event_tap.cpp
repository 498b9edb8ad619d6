#include "Handtrace/input_event_tap.h"

#include "Handtrace/key_chords.h"
#include "platform/core/log.h"
#include "platform/core/serial_queue.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

namespace qv {

namespace {

// What the tap thread holds: the recorder weakly, the tap strongly until the thread ends.
struct ThreadArgument {
    std::weak_ptr<InputEventTap::State> recorder;
    std::shared_ptr<EventTap> tap;
};

bool isFiniteRect(const Rect &r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
           std::isfinite(r.height);
}

} // namespace

// The recorder's fields, in their order, and its rules. Owned by the InputEventTap handle; the
// tap thread and the cursor-kind timer hold it weakly and only for the length of one event or
// one poll. The handle's destructor runs the stop step, which waits for the tap thread, so the
// last reference to a State can only be dropped by the handle or by a poll on the main executor.
class InputEventTap::State : public std::enable_shared_from_this<State> {
public:
    State(std::filesystem::path outputDirectory_, OriginSeconds originSeconds_,
          BasisRect basisRect_, platform::Executor &mainExecutor_,
          std::shared_ptr<InputPlatform> platform_)
        : originSeconds(std::move(originSeconds_)), outputDirectory(std::move(outputDirectory_)),
          basisRect(std::move(basisRect_)), mainExecutor(mainExecutor_),
          inputPlatform(std::move(platform_)) {}

    bool start();
    void setPaused(bool paused);
    Result<std::vector<std::string>> finishWritingFiles();
    void cancel();
    void stopStep();

private:
    // The tap thread's stack; the handler's work is shallow.
    static constexpr std::size_t threadStackSize = 0x40000;

    void handleEvent(const InputEvent &event, EventTapContext &context);
    void createKindTimer();
    void pollCursorKind();
    // Recording time for `now`, or nothing while paused, before the origin or out of range.
    // Caller holds the lock.
    std::optional<std::int64_t> recordingMillisLocked(double now, double origin) const;
    static void *threadBody(void *argument);

    platform::Logger log{"com.quillvane", "InputEventTap"};
    const OriginSeconds originSeconds;
    const std::filesystem::path outputDirectory;
    const BasisRect basisRect;
    mutable std::mutex lock;
    std::vector<ClicksFile::Click> clicks;           // locked
    std::vector<CursorFile::Sample> cursor;          // locked
    std::vector<CursorFile::KindSample> cursorKinds; // locked
    std::vector<KeysFile::Entry> keys;               // locked
    std::optional<platform::TimerId> kindTimer;      // locked
    std::string lastKind;                            // main executor only
    bool paused = false;                             // locked
    double pausedAccum = 0;                          // locked
    std::optional<double> pausedSince;               // locked
    double lastCursorAt = 0;                         // locked
    double lastContentX = 0;                         // tap thread only
    double lastContentY = 0;                         // tap thread only
    std::shared_ptr<EventTap> tap;                   // locked
    std::optional<pthread_t> thread;                 // locked
    std::shared_ptr<TapRunLoop> threadRunLoop;       // locked
    bool stopped = false;                            // locked

    platform::Executor &mainExecutor;
    const std::shared_ptr<InputPlatform> inputPlatform;
    std::unique_ptr<CursorSource> cursorSource; // main executor only
    bool cursorSourceOpened = false;            // main executor only
};

std::unique_ptr<InputEventTap> InputEventTap::create(std::filesystem::path outputDirectory,
                                                     OriginSeconds originSeconds,
                                                     BasisRect basisRect,
                                                     platform::Executor &mainExecutor) {
    return create(std::move(outputDirectory), std::move(originSeconds), std::move(basisRect),
                  mainExecutor, InputPlatform::x11());
}

std::unique_ptr<InputEventTap> InputEventTap::create(std::filesystem::path outputDirectory,
                                                     OriginSeconds originSeconds,
                                                     BasisRect basisRect,
                                                     platform::Executor &mainExecutor,
                                                     std::shared_ptr<InputPlatform> platform) {
    return std::unique_ptr<InputEventTap>(new InputEventTap(
        std::make_shared<State>(std::move(outputDirectory), std::move(originSeconds),
                                std::move(basisRect), mainExecutor, std::move(platform))));
}

InputEventTap::~InputEventTap() {
    state_->stopStep();
}

bool InputEventTap::start() {
    return state_->start();
}

void InputEventTap::setPaused(bool paused) {
    state_->setPaused(paused);
}

Result<std::vector<std::string>> InputEventTap::finishWritingFiles() {
    return state_->finishWritingFiles();
}

void InputEventTap::cancel() {
    state_->cancel();
}

bool InputEventTap::State::start() {
    {
        std::lock_guard guard(lock);
        if (stopped) return false;
        if (tap) return true;
    }
    const std::weak_ptr<State> weak = weak_from_this();
    std::shared_ptr<EventTap> newTap =
        inputPlatform->createTap([weak](const InputEvent &event, EventTapContext &context) {
            if (auto self = weak.lock()) self->handleEvent(event, context);
        });
    if (!newTap) {
        log.notice("Input Monitoring unavailable — input capture off");
        return false;
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, threadStackSize);
    auto argument = std::make_unique<ThreadArgument>(ThreadArgument{weak, newTap});
    {
        std::unique_lock guard(lock);
        // Another start() or a stop step may have come first while the tap was being created.
        if (stopped || tap) {
            pthread_attr_destroy(&attributes);
            return !stopped;
        }
        pthread_t handle;
        const int rc = pthread_create(&handle, &attributes, &threadBody, argument.get());
        pthread_attr_destroy(&attributes);
        if (rc != 0) {
            guard.unlock();
            log.error("cannot start the input tap thread: %s", std::strerror(rc));
            log.notice("Input Monitoring unavailable — input capture off");
            return false;
        }
        argument.release(); // the thread owns it now
        tap = std::move(newTap);
        thread = handle;
    }
    mainExecutor.post([weak] {
        if (auto self = weak.lock()) self->createKindTimer();
    });
    return true;
}

void *InputEventTap::State::threadBody(void *raw) {
    const std::unique_ptr<ThreadArgument> argument(static_cast<ThreadArgument *>(raw));
    pthread_setname_np(pthread_self(),
                       platform::SerialQueue::threadNameForLabel(threadLabel).c_str());
    const auto runLoop = std::make_shared<TapRunLoop>();
    {
        const std::shared_ptr<State> self = argument->recorder.lock();
        if (!self) return nullptr;
        std::lock_guard guard(self->lock);
        if (self->stopped) return nullptr;
        self->threadRunLoop = runLoop;
        argument->tap->attach(*runLoop);
        argument->tap->setEnabled(true);
    }
    // The recorder is held only weakly from here on; releasing it stops this loop.
    runLoop->run();
    return nullptr;
}

void InputEventTap::State::createKindTimer() {
    const std::weak_ptr<State> weak = weak_from_this();
    const platform::TimerId id = mainExecutor.scheduleRepeating(kindPollInterval, [weak] {
        if (auto self = weak.lock()) self->pollCursorKind();
    });
    std::unique_lock guard(lock);
    if (stopped) {
        guard.unlock();
        mainExecutor.cancelTimer(id);
        return;
    }
    kindTimer = id;
}

std::optional<std::int64_t> InputEventTap::State::recordingMillisLocked(double now,
                                                                        double origin) const {
    if (paused) return std::nullopt;
    const double t = now - origin - pausedAccum;
    // Also refuses a time that is not a number, from an origin that is not one.
    if (!(t >= 0)) return std::nullopt;
    const double ms = t * 1000.0;
    if (!(ms < 9.2e18)) return std::nullopt; // beyond 64 bits: no sensible time
    return static_cast<std::int64_t>(ms);    // truncated towards zero
}

void InputEventTap::State::handleEvent(const InputEvent &event, EventTapContext &context) {
    const std::optional<double> origin = originSeconds();
    if (!origin) return;
    const double now = inputPlatform->now();
    std::int64_t tMs;
    {
        std::lock_guard guard(lock);
        const auto ms = recordingMillisLocked(now, *origin);
        if (!ms) return;
        tMs = *ms;
    }

    if (event.type == InputEventType::keyDown) {
        std::optional<std::string> chord = KeyChords::chord(event.flags, event.keyCode);
        if (!chord) return;
        log.debug("key chord %s at %lld ms", chord->c_str(), static_cast<long long>(tMs));
        std::lock_guard guard(lock);
        keys.push_back({tMs, std::move(*chord)});
        return;
    }

    // The capture area and the throttle come before the pointer and display queries, which
    // cost a round trip to the X server: an event that is dropped costs none. A capture area
    // that is not finite is treated as none, since one such record would make its whole file
    // unwritable.
    const std::optional<Rect> basis = basisRect();
    if (!basis || !(basis->width > 0) || !(basis->height > 0) || !isFiniteRect(*basis)) return;

    const bool motion = isPointerMotion(event.type);
    if (motion) {
        double reading;
        {
            std::lock_guard guard(lock);
            reading = inputPlatform->now();
            if (reading - lastCursorAt < cursorMinInterval) return;
            lastCursorAt = reading;
        }
        context.skipMotionUntil(reading + cursorMinInterval);
    }

    const std::optional<Point> location = context.pointerLocation();
    if (!location) return;
    std::uint32_t display = context.mainDisplay();
    if (const auto under = context.displayContaining(*location)) display = *under;
    std::string displayId = std::to_string(display);
    double x = location->x - basis->x;
    double y = location->y - basis->y;
    const bool hidden =
        isOverHiddenWindow(context.onScreenWindows().get(), *location, inputPlatform->processId());

    if (motion) {
        if (hidden) {
            x = lastContentX;
            y = lastContentY;
        } else {
            lastContentX = x;
            lastContentY = y;
        }
        std::lock_guard guard(lock);
        cursor.push_back({tMs, x, y, basis->width, basis->height, std::move(displayId)});
        return;
    }

    if (hidden) return;
    const char *button = event.type == InputEventType::leftMouseDown    ? "left"
                         : event.type == InputEventType::rightMouseDown ? "right"
                                                                        : "other";
    log.debug("%s click at %lld ms", button, static_cast<long long>(tMs));
    std::lock_guard guard(lock);
    clicks.push_back({tMs, x, y, basis->width, basis->height, std::move(displayId), button});
}

void InputEventTap::State::pollCursorKind() {
    const std::optional<double> origin = originSeconds();
    if (!origin) return;
    const double now = inputPlatform->now();
    std::int64_t tMs;
    {
        std::lock_guard guard(lock);
        if (stopped) return;
        const auto ms = recordingMillisLocked(now, *origin);
        if (!ms) return;
        tMs = *ms;
    }
    if (!cursorSourceOpened) {
        cursorSourceOpened = true;
        cursorSource = inputPlatform->openCursorSource();
    }
    const std::optional<CursorKinds::CurrentCursor> current =
        cursorSource ? cursorSource->current() : std::nullopt;
    const std::string_view kind = CursorKinds::classify(
        current, [this]() -> const CursorKinds::KindTable & { return cursorSource->kindTable(); });
    if (kind == lastKind) return;
    lastKind = kind;
    std::lock_guard guard(lock);
    cursorKinds.push_back({tMs, lastKind});
}

void InputEventTap::State::setPaused(bool p) {
    std::lock_guard guard(lock);
    if (p == paused) return;
    paused = p;
    const double reading = inputPlatform->now();
    if (p) {
        pausedSince = reading;
    } else if (pausedSince) {
        pausedAccum += reading - *pausedSince;
        pausedSince.reset();
    }
}

void InputEventTap::State::stopStep() {
    std::shared_ptr<EventTap> oldTap;
    std::shared_ptr<TapRunLoop> runLoop;
    std::optional<platform::TimerId> timer;
    std::optional<pthread_t> oldThread;
    {
        std::lock_guard guard(lock);
        if (stopped) return;
        stopped = true;
        oldTap = std::move(tap);
        runLoop = std::move(threadRunLoop);
        timer = kindTimer;
        oldThread = thread;
        tap.reset();
        threadRunLoop.reset();
        kindTimer.reset();
        thread.reset();
    }
    if (timer) mainExecutor.cancelTimer(*timer);
    if (oldTap) oldTap->setEnabled(false);
    if (runLoop) runLoop->stop();
    if (oldThread) {
        // Waiting for the thread makes the records final before they are written. On the tap
        // thread itself (the last reference dropped inside the event handler) it cannot wait
        // for itself; it ends on its own as soon as the handler returns.
        if (pthread_equal(*oldThread, pthread_self()))
            pthread_detach(*oldThread);
        else
            pthread_join(*oldThread, nullptr);
    }
}

Result<std::vector<std::string>> InputEventTap::State::finishWritingFiles() {
    stopStep();
    ClicksFile clicksFile;
    CursorFile cursorFile;
    KeysFile keysFile;
    {
        std::lock_guard guard(lock);
        clicksFile.clicks = clicks;
        cursorFile.samples = cursor;
        cursorFile.kinds = cursorKinds;
        keysFile.keys = keys;
    }
    return writeTrackFiles(outputDirectory, clicksFile, cursorFile, keysFile);
}

void InputEventTap::State::cancel() {
    stopStep();
    std::lock_guard guard(lock);
    clicks = {};
    cursor = {};
    cursorKinds = {};
    keys = {};
}

} // namespace qv
