// Host time for scheduling, tracing and statistics: the monotonic clock, which neither jumps nor
// runs backwards when the wall clock is changed.
// Thread safety: free functions, safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>

namespace qv::platform {

inline std::int64_t hostTimeNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

inline double hostTimeMs() noexcept {
    return static_cast<double>(hostTimeNs()) / 1e6;
}

} // namespace qv::platform
