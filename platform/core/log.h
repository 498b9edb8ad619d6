// Logging: one line per message on stderr,
//   2026-01-31 14:05:09.123 [com.quillvane.compositor:render] error: message
// Levels, lowest first: debug, info, default (Logger::notice) and error. QUILLVANE_LOG sets the
// lowest level written: debug, info, default, error or off; unset or unknown means default.
//
// Thread safety: all members may be called from any thread; lines are never interleaved.
// Lifetime: loggers are small values; keep one per subsystem and category.
#pragma once

#include <cstdarg>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qv::platform {

enum class LogLevel { debug, info, notice, error, off };

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::notice;
    std::string message;
};

// "debug", "info", "default", "error" or "off".
const char *logLevelName(LogLevel level) noexcept;
// Parses a QUILLVANE_LOG value; nullopt for an unknown word.
std::optional<LogLevel> parseLogLevel(std::string_view text) noexcept;
// The line as written to stderr, without the trailing newline; `localTime` is the prefix.
std::string formatLogLine(const LogRecord &record, std::string_view localTime);

class Logger {
public:
    Logger(std::string subsystem, std::string category);

    void debug(const char *format, ...) const __attribute__((format(printf, 2, 3)));
    void info(const char *format, ...) const __attribute__((format(printf, 2, 3)));
    void notice(const char *format, ...) const __attribute__((format(printf, 2, 3)));
    void error(const char *format, ...) const __attribute__((format(printf, 2, 3)));

    // Whether a message at this level would be written; lets callers skip costly arguments.
    static bool isEnabled(LogLevel level) noexcept;

    const std::string &subsystem() const noexcept { return subsystem_; }
    const std::string &category() const noexcept { return category_; }

    // Test hooks. While a sink is set, every record goes to it instead of stderr, whatever the
    // threshold, so that tests see the same lines under any QUILLVANE_LOG; pass null to restore
    // stderr. The threshold override replaces QUILLVANE_LOG; nullopt goes back to it.
    static void setSinkForTesting(std::function<void(const LogRecord &)> sink);
    static void setThresholdForTesting(std::optional<LogLevel> threshold);

private:
    void write(LogLevel level, const char *format, va_list args) const;

    std::string subsystem_;
    std::string category_;
};

} // namespace qv::platform
