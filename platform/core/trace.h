// Signposts: named intervals for profiling. Tracing is off unless QUILLVANE_TRACE names a file;
// then intervals are kept in memory and written there as a JSON trace (async begin/end events,
// loadable in trace viewers) when the process exits and whenever flushTrace() is called.
//
// Thread safety: everything may be called from any thread; an interval may end on another
// thread than the one it began on. When tracing is off, begin/end cost one relaxed atomic load.
// Lifetime: Signposters are small values; the recorded events live until the process ends.
#pragma once

#include "platform/core/result.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qv::platform {

using IntervalId = std::uint64_t;

namespace detail {
extern std::atomic<bool> tracingEnabled;
void recordTraceEvent(const std::string &subsystem, const std::string &category, const char *name,
                      IntervalId id, char phase);
} // namespace detail

class Signposter {
public:
    Signposter(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    bool isEnabled() const noexcept {
        return detail::tracingEnabled.load(std::memory_order_relaxed);
    }
    // Unique for the process and increasing.
    IntervalId makeIntervalId() const noexcept;

    void beginInterval(const char *name, IntervalId id) const {
        if (isEnabled()) detail::recordTraceEvent(subsystem_, category_, name, id, 'b');
    }
    void endInterval(const char *name, IntervalId id) const {
        if (isEnabled()) detail::recordTraceEvent(subsystem_, category_, name, id, 'e');
    }

private:
    std::string subsystem_;
    std::string category_;
};

// Writes every event recorded so far to the trace file (atomically: temporary file, then
// rename). Does nothing and succeeds when tracing is off.
Status flushTrace();

// The number of events held in memory.
std::size_t recordedTraceEventCount();

// Test hooks: switch tracing on with a fresh, empty event list written to `path`, or off
// (recorded events are kept until tracing is switched on again).
void enableTracingForTesting(const std::filesystem::path &path);
void disableTracingForTesting();

} // namespace qv::platform
