#include "platform/core/log.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

namespace qv::platform {

namespace {

LogLevel thresholdFromEnvironment() {
    const char *value = std::getenv("QUILLVANE_LOG");
    if (!value) return LogLevel::notice;
    return parseLogLevel(value).value_or(LogLevel::notice);
}

// -1 means "no override": use the environment's threshold.
std::atomic<int> thresholdOverride{-1};

LogLevel threshold() {
    static const LogLevel fromEnvironment = thresholdFromEnvironment();
    const int forced = thresholdOverride.load(std::memory_order_relaxed);
    return forced < 0 ? fromEnvironment : static_cast<LogLevel>(forced);
}

struct Output {
    std::mutex mutex;
    std::function<void(const LogRecord &)> sink;
};

std::atomic<bool> sinkInstalled{false};

Output &output() {
    // Leaked on purpose so that logging from static destructors stays safe.
    static auto *o = new Output;
    return *o;
}

std::string localTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    return text;
}

std::string formatMessage(const char *format, va_list args) {
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return format;
    if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, n);
    std::vector<char> large(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(large.data(), large.size(), format, args);
    return std::string(large.data(), static_cast<std::size_t>(n));
}

} // namespace

const char *logLevelName(LogLevel level) noexcept {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::notice:
        return "default";
    case LogLevel::error:
        return "error";
    case LogLevel::off:
        return "off";
    }
    return "default";
}

std::optional<LogLevel> parseLogLevel(std::string_view text) noexcept {
    for (LogLevel level :
         {LogLevel::debug, LogLevel::info, LogLevel::notice, LogLevel::error, LogLevel::off}) {
        if (text == logLevelName(level)) return level;
    }
    return std::nullopt;
}

std::string formatLogLine(const LogRecord &record, std::string_view localTime) {
    std::string line;
    line.reserve(localTime.size() + record.subsystem.size() + record.category.size() +
                 record.message.size() + 16);
    line.append(localTime);
    line.append(" [").append(record.subsystem).append(":").append(record.category).append("] ");
    line.append(logLevelName(record.level)).append(": ").append(record.message);
    return line;
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {
}

bool Logger::isEnabled(LogLevel level) noexcept {
    const LogLevel t = threshold();
    return t != LogLevel::off && level != LogLevel::off && level >= t;
}

void Logger::setSinkForTesting(std::function<void(const LogRecord &)> sink) {
    Output &o = output();
    std::lock_guard lock(o.mutex);
    sinkInstalled.store(static_cast<bool>(sink));
    o.sink = std::move(sink);
}

void Logger::setThresholdForTesting(std::optional<LogLevel> t) {
    thresholdOverride.store(t ? static_cast<int>(*t) : -1);
}

void Logger::write(LogLevel level, const char *format, va_list args) const {
    if (!sinkInstalled.load(std::memory_order_relaxed) && !isEnabled(level)) return;
    LogRecord record{subsystem_, category_, level, formatMessage(format, args)};
    Output &o = output();
    std::unique_lock lock(o.mutex);
    if (o.sink) {
        auto sink = o.sink; // a sink may log or replace itself
        lock.unlock();
        sink(record);
        return;
    }
    if (!isEnabled(level)) return;
    const std::string line = formatLogLine(record, localTimestamp()) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

#define QV_LOG_METHOD(method, level)                                                               \
    void Logger::method(const char *format, ...) const {                                           \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        write(level, format, args);                                                                \
        va_end(args);                                                                              \
    }

QV_LOG_METHOD(debug, LogLevel::debug)
QV_LOG_METHOD(info, LogLevel::info)
QV_LOG_METHOD(notice, LogLevel::notice)
QV_LOG_METHOD(error, LogLevel::error)

#undef QV_LOG_METHOD

} // namespace qv::platform
