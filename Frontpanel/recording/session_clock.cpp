#include "Frontpanel/recording/session_clock.h"

#include <cmath>
#include <ctime>

namespace qv::frontpanel {

bool SessionClock::setOrigin(std::int64_t hostNs) {
    std::lock_guard guard(lock_);
    if (origin_) return false;
    origin_ = hostNs;
    return true;
}

std::optional<std::int64_t> SessionClock::originNs() const {
    std::lock_guard guard(lock_);
    return origin_;
}

void SessionClock::pause(std::int64_t hostNs) {
    std::lock_guard guard(lock_);
    if (!origin_ || (!pauses_.empty() && !pauses_.back().endNs)) return;
    // A pause never starts before the origin or inside an earlier one.
    std::int64_t start = std::max(hostNs, *origin_);
    if (!pauses_.empty()) start = std::max(start, *pauses_.back().endNs);
    pauses_.push_back({start, std::nullopt});
}

void SessionClock::resume(std::int64_t hostNs) {
    std::lock_guard guard(lock_);
    if (pauses_.empty() || pauses_.back().endNs) return;
    pauses_.back().endNs = std::max(hostNs, pauses_.back().startNs);
}

bool SessionClock::isPaused() const {
    std::lock_guard guard(lock_);
    return !pauses_.empty() && !pauses_.back().endNs;
}

std::optional<std::int64_t> SessionClock::continuousLocked(std::int64_t hostNs,
                                                           bool *inPause) const {
    *inPause = false;
    if (!origin_) return std::nullopt;
    std::int64_t t = hostNs - *origin_;
    for (const Pause &p : pauses_) {
        if (hostNs < p.startNs) break;
        if (!p.endNs || hostNs < *p.endNs) {
            *inPause = true;
            return t - (hostNs - p.startNs);
        }
        t -= *p.endNs - p.startNs;
    }
    return t;
}

std::optional<std::int64_t> SessionClock::recordingNs(std::int64_t hostNs) const {
    std::lock_guard guard(lock_);
    bool inPause = false;
    const auto t = continuousLocked(hostNs, &inPause);
    if (!t || inPause || *t < 0) return std::nullopt;
    return t;
}

std::optional<std::int64_t> SessionClock::continuousNs(std::int64_t hostNs) const {
    std::lock_guard guard(lock_);
    bool inPause = false;
    return continuousLocked(hostNs, &inPause);
}

std::int64_t SessionClock::elapsedNs(std::int64_t nowNs) const {
    std::lock_guard guard(lock_);
    bool inPause = false;
    const auto t = continuousLocked(nowNs, &inPause);
    return t && *t > 0 ? *t : 0;
}

std::int64_t SessionClock::pausedNs(std::int64_t nowNs) const {
    std::lock_guard guard(lock_);
    std::int64_t total = 0;
    for (const Pause &p : pauses_)
        if (nowNs > p.startNs) total += std::min(p.endNs.value_or(nowNs), nowNs) - p.startNs;
    return total;
}

std::optional<std::int64_t> FrameSlots::place(std::int64_t recordingNs) noexcept {
    std::int64_t slot = 0;
    if (last_ >= 0) {
        const double exact = double(recordingNs) * fps_ / 1e9;
        slot = std::llround(exact);
        if (slot <= last_) {
            ++skipped_;
            return std::nullopt;
        }
        dropped_ += slot - last_ - 1;
    }
    last_ = slot;
    ++written_;
    return slot;
}

std::int64_t FrameSlots::timeNs(std::int64_t frameNumber) const noexcept {
    return frameNumber * 1'000'000'000 / fps_;
}

StampMatch matchStamp(std::int64_t stampNs, std::int64_t arrivalMonoNs,
                      std::int64_t arrivalWallNs) noexcept {
    constexpr std::int64_t before = 2'000'000'000; // the longest latency believed
    constexpr std::int64_t after = 5'000'000;      // stamps a little ahead of the clock read
    const auto fits = [&](std::int64_t arrival) {
        const std::int64_t latency = arrival - stampNs;
        return latency <= before && latency >= -after;
    };
    if (fits(arrivalMonoNs)) return {StampClock::monotonic, stampNs, arrivalMonoNs - stampNs};
    if (fits(arrivalWallNs)) {
        const std::int64_t latency = arrivalWallNs - stampNs;
        return {StampClock::wallClock, arrivalMonoNs - latency, latency};
    }
    return {StampClock::none, arrivalMonoNs, 0};
}

std::int64_t wallTimeNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

} // namespace qv::frontpanel
