// The recording's one clock, and how a stream's samples are placed on it.
//
// Every stream and track of a recording is stamped against the host monotonic clock
// (CLOCK_MONOTONIC, nanoseconds). The session's origin is the instant of the screen's first frame;
// recording time is host time minus the origin minus every pause that ended before it. A sample
// taken inside a pause has no recording time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace qv::frontpanel {

// Thread safety: every member may be called from any thread. Lifetime: a plain object.
class SessionClock {
public:
    // Sets the origin once; later calls are ignored. Returns true when this call set it.
    bool setOrigin(std::int64_t hostNs);
    std::optional<std::int64_t> originNs() const;

    // Starts a pause at the host time; ignored while paused or before the origin.
    void pause(std::int64_t hostNs);
    // Ends the pause at the host time (not before its start); ignored while running.
    void resume(std::int64_t hostNs);
    bool isPaused() const;

    // Recording time of a host instant: nothing before the origin or inside a pause.
    std::optional<std::int64_t> recordingNs(std::int64_t hostNs) const;
    // Like recordingNs, but never empty once the origin is known: negative before the origin,
    // and inside a pause the pause's own start.
    std::optional<std::int64_t> continuousNs(std::int64_t hostNs) const;
    // The recording time that has passed by `nowNs`: 0 before the origin, frozen while paused.
    std::int64_t elapsedNs(std::int64_t nowNs) const;
    // Total paused time by `nowNs`.
    std::int64_t pausedNs(std::int64_t nowNs) const;

private:
    struct Pause {
        std::int64_t startNs;
        std::optional<std::int64_t> endNs; // absent while it lasts
    };
    std::optional<std::int64_t> continuousLocked(std::int64_t hostNs, bool *inPause) const;

    mutable std::mutex lock_;
    std::optional<std::int64_t> origin_;
    std::vector<Pause> pauses_;
};

// Frame numbers of a constant-rate movie for frames that arrive with recording times. The first
// frame placed is frame 0, whatever its time (a stream that starts late holds its first picture
// until then). Later frames take the frame number nearest their time; a frame whose number is
// already taken is skipped, and numbers jumped over count as dropped.
// Thread safety: one thread at a time. Lifetime: a plain value.
class FrameSlots {
public:
    explicit FrameSlots(int framesPerSecond) noexcept : fps_(framesPerSecond) {}

    std::optional<std::int64_t> place(std::int64_t recordingNs) noexcept;
    // The recording time of a frame number.
    std::int64_t timeNs(std::int64_t frameNumber) const noexcept;

    std::int64_t written() const noexcept { return written_; }
    std::int64_t dropped() const noexcept { return dropped_; }
    std::int64_t skipped() const noexcept { return skipped_; }
    std::int64_t last() const noexcept { return last_; }

private:
    int fps_;
    std::int64_t last_ = -1;
    std::int64_t written_ = 0, dropped_ = 0, skipped_ = 0;
};

// Which host clock a capture device stamped a packet with. Devices differ: the screen grabber
// stamps with the monotonic clock, the sound server's reader with the wall clock minus the
// source's latency, file and generated inputs with their own stream time from 0. The stamp is
// compared with both host clocks read when the packet arrived.
enum class StampClock { monotonic, wallClock, none };

struct StampMatch {
    StampClock clock = StampClock::none;
    std::int64_t hostNs = 0;    // the stamp on the monotonic clock (arrival when none matched)
    std::int64_t latencyNs = 0; // arrival minus the stamp
};

// `stampNs` is the packet's time in nanoseconds; `arrivalMonoNs` and `arrivalWallNs` the two
// clocks read as it arrived. A stamp matches a clock when it lies at most 2 s before the
// arrival and not more than a few milliseconds after it.
StampMatch matchStamp(std::int64_t stampNs, std::int64_t arrivalMonoNs,
                      std::int64_t arrivalWallNs) noexcept;

// The wall clock (CLOCK_REALTIME), nanoseconds since 1970.
std::int64_t wallTimeNs() noexcept;

} // namespace qv::frontpanel
