#include "platform/core/trace.h"

#include "platform/core/atomic_file.h"

#include "platform/core/clock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace qv::platform {

namespace detail {
std::atomic<bool> tracingEnabled{false};
} // namespace detail

namespace {

struct Event {
    std::string name;
    std::string category;
    std::string subsystem;
    IntervalId id;
    char phase;
    std::int64_t timestampNs;
    long threadId;
};

struct TraceState {
    std::mutex mutex;
    std::filesystem::path path;
    std::vector<Event> events;
};

TraceState &state() {
    // Leaked on purpose: the exit-time flush and late intervals may come after static teardown.
    static auto *s = new TraceState;
    return *s;
}

std::atomic<IntervalId> nextIntervalId{1};

void appendJsonString(std::string &out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

std::string renderJson(const std::vector<Event> &events) {
    const long pid = static_cast<long>(getpid());
    std::string out = "{\"traceEvents\":[";
    bool first = true;
    for (const Event &e : events) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"name\":";
        appendJsonString(out, e.name);
        out += ",\"cat\":";
        appendJsonString(out, e.category);
        out += ",\"ph\":\"";
        out += e.phase;
        char numbers[160];
        std::snprintf(numbers, sizeof numbers,
                      "\",\"id\":\"0x%llx\",\"ts\":%lld.%03lld,\"pid\":%ld,\"tid\":%ld",
                      static_cast<unsigned long long>(e.id),
                      static_cast<long long>(e.timestampNs / 1000),
                      static_cast<long long>(e.timestampNs % 1000), pid, e.threadId);
        out += numbers;
        out += ",\"args\":{\"subsystem\":";
        appendJsonString(out, e.subsystem);
        out += "}}";
    }
    out += "\n]}\n";
    return out;
}

// Turns tracing on from the environment when the library loads, and writes the file at exit.
struct EnvironmentSetup {
    EnvironmentSetup() {
        const char *path = std::getenv("QUILLVANE_TRACE");
        if (!path || !*path) return;
        state().path = path;
        detail::tracingEnabled.store(true);
    }
    ~EnvironmentSetup() { (void)flushTrace(); }
} environmentSetup;

} // namespace

namespace detail {

void recordTraceEvent(const std::string &subsystem, const std::string &category, const char *name,
                      IntervalId id, char phase) {
    // Timestamps in nanoseconds here; the writer renders microseconds with a fraction.
    Event e{name ? name : "",           category, subsystem, id, phase, hostTimeNs(),
            static_cast<long>(gettid())};
    TraceState &s = state();
    std::lock_guard lock(s.mutex);
    s.events.push_back(std::move(e));
}

} // namespace detail

IntervalId Signposter::makeIntervalId() const noexcept {
    return nextIntervalId.fetch_add(1, std::memory_order_relaxed);
}

Status flushTrace() {
    std::filesystem::path path;
    std::string json;
    {
        TraceState &s = state();
        std::lock_guard lock(s.mutex);
        if (s.path.empty()) return Ok{};
        path = s.path;
        json = renderJson(s.events);
    }
    return writeFileAtomically(path, std::string_view(json));
}

std::size_t recordedTraceEventCount() {
    TraceState &s = state();
    std::lock_guard lock(s.mutex);
    return s.events.size();
}

void enableTracingForTesting(const std::filesystem::path &path) {
    TraceState &s = state();
    std::lock_guard lock(s.mutex);
    s.path = path;
    s.events.clear();
    detail::tracingEnabled.store(true);
}

void disableTracingForTesting() {
    TraceState &s = state();
    std::lock_guard lock(s.mutex);
    detail::tracingEnabled.store(false);
    s.path.clear();
}

} // namespace qv::platform
