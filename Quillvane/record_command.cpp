// `quillvane record`: records the screen (or a region or a window), optionally the microphone
// and a webcam, and the input into a new recording of the library, until Ctrl-C, SIGTERM or
// --seconds; pauses and resumes on a key or on SIGUSR1 / SIGUSR2.
#include "commands.h"
#include "signal_watch.h"
#include "terminal_keys.h"

#include "Frontpanel/recording/recording_session.h"
#include "interfaces/persistence/recording.h"
#include "platform/core/executor.h"
#include "platform/media/codec_log.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <regex>
#include <variant>

namespace qv::cli {

namespace {

using frontpanel::RecordingSession;

constexpr const char *usageText =
    "usage: quillvane record [--window ID|--region WxH+X+Y] [--fps 30|60] [--mic [SOURCE]]\n"
    "                        [--webcam [DEVICE]] [--no-input] [--seconds N] [--id NAME]\n"
    "                        [--library DIR]\n";

struct RecordOptions {
    RecordingSession::Options session;
    std::optional<double> seconds;
    std::optional<std::string> library;
};

int usageError(const std::string &message) {
    std::fprintf(stderr, "quillvane record: %s\n%s", message.c_str(), usageText);
    return 2;
}

// The default id: the local time the recording started, "rec-20261208-143012".
std::string defaultId() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "rec-%Y%m%d-%H%M%S", &local);
    return text;
}

std::optional<long> parseInteger(const std::string &v, int base) {
    long n = 0;
    const char *begin = v.data();
    if (base == 16 && v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) begin += 2;
    auto [p, ec] = std::from_chars(begin, v.data() + v.size(), n, base);
    if (ec != std::errc() || p != v.data() + v.size() || begin == v.data() + v.size())
        return std::nullopt;
    return n;
}

// Parses the arguments; an exit status when they are not usable.
std::variant<RecordOptions, int> parse(const Args &args) {
    RecordOptions o;
    // A value that may be left out: taken when the next argument is not an option.
    const auto optionalValue = [&](std::size_t &i) -> std::string {
        if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') return args[++i];
        return "";
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--window" || a == "--region" || a == "--fps" || a == "--seconds" || a == "--id" ||
            a == "--library") {
            const auto v = value();
            if (!v) return usageError(a + " needs a value");
            if (a == "--window") {
                const auto id = v->rfind("0x", 0) == 0 || v->rfind("0X", 0) == 0
                                    ? parseInteger(*v, 16)
                                    : parseInteger(*v, 10);
                if (!id || *id <= 0 || *id > 0xffffffffL)
                    return usageError("--window: \"" + *v + "\" is not an X window id");
                o.session.window = std::uint32_t(*id);
            } else if (a == "--region") {
                static const std::regex shape(R"((\d+)x(\d+)\+(\d+)\+(\d+))");
                std::smatch m;
                if (!std::regex_match(*v, m, shape))
                    return usageError("--region: \"" + *v + "\" is not WxH+X+Y");
                o.session.region =
                    Rect{std::stod(m[3]), std::stod(m[4]), std::stod(m[1]), std::stod(m[2])};
            } else if (a == "--fps") {
                if (*v != "30" && *v != "60") return usageError("--fps: must be 30 or 60");
                o.session.framesPerSecond = std::stoi(*v);
            } else if (a == "--seconds") {
                double s = 0;
                auto [p, ec] = std::from_chars(v->data(), v->data() + v->size(), s);
                if (ec != std::errc() || p != v->data() + v->size() || !std::isfinite(s) || s <= 0)
                    return usageError("--seconds: \"" + *v + "\" is not a positive number");
                o.seconds = s;
            } else if (a == "--id") {
                o.session.id = *v;
            } else {
                o.library = *v;
            }
        } else if (a == "--mic") {
            o.session.microphone = optionalValue(i);
        } else if (a == "--webcam") {
            o.session.webcam = optionalValue(i);
        } else if (a == "--no-input") {
            o.session.recordInput = false;
        } else {
            return usageError("unknown argument " + a);
        }
    }
    if (o.session.region && o.session.window)
        return usageError("--region and --window cannot be combined");
    if (o.session.id.empty()) o.session.id = defaultId();
    return o;
}

std::string clockText(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld.%lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms / 100 % 10));
    return text;
}

// The live status line: elapsed time, frames, dropped frames, microphone level.
std::string statusLine(const RecordingSession::Progress &p) {
    std::string line = p.paused ? "paused    " : "recording ";
    line += clockText(p.elapsedMs) + "  frames " + std::to_string(p.frames) + "  dropped " +
            std::to_string(p.droppedFrames);
    if (p.microphoneDb) {
        char level[32];
        std::snprintf(level, sizeof level, "  mic %4.0f dB", std::max(*p.microphoneDb, -99.0));
        line += level;
    }
    return line;
}

} // namespace

int recordCommand(const Args &args) {
    auto parsed = parse(args);
    if (auto *status = std::get_if<int>(&parsed)) return *status;
    RecordOptions &options = std::get<RecordOptions>(parsed);
    if (options.library)
        RecordingStore::setLibraryDirectory(std::filesystem::path(*options.library));

    platform::media::quietCodecLogs();
    platform::RunLoop loop;
    // Signals are blocked here, before the session starts its threads, so they reach only the
    // watcher. SIGUSR1 pauses, SIGUSR2 resumes.
    RecordingSession *live = nullptr;
    SignalWatch signals([&] { loop.stop(); }, {{SIGUSR1,
                                                [&] {
                                                    loop.post([&] {
                                                        if (live) live->pause();
                                                    });
                                                }},
                                               {SIGUSR2, [&] {
                                                    loop.post([&] {
                                                        if (live) live->resume();
                                                    });
                                                }}});
    if (!signals.ok()) {
        std::fprintf(stderr, "quillvane record: cannot watch for Ctrl-C\n");
        return 1;
    }

    std::atomic<bool> streamFailed{false};
    auto started = RecordingSession::start(options.session, loop, [&](const std::string &why) {
        std::fprintf(stderr, "\nquillvane record: %s; finishing the recording\n", why.c_str());
        streamFailed = true;
        loop.stop();
    });
    if (!started) {
        std::fprintf(stderr, "quillvane record: %s\n", started.error().message.c_str());
        return 1;
    }
    std::unique_ptr<RecordingSession> session = std::move(started).value();
    live = session.get();
    for (const std::string &w : session->startWarnings())
        std::fprintf(stderr, "quillvane record: %s\n", w.c_str());

    const bool statusToTerminal = ::isatty(2);
    TerminalKeys keys([&](char c) {
        if (c == 'p' || c == ' ')
            loop.post([&] { session->isPaused() ? session->resume() : session->pause(); });
        else if (c == 'q')
            loop.stop();
    });

    bool announced = false;
    int ticks = 0;
    char seconds[32] = "";
    if (options.seconds) std::snprintf(seconds, sizeof seconds, "for %g s", *options.seconds);
    const std::string how = options.seconds ? std::string(seconds)
                            : keys.active() ? "p or space pauses, q or Ctrl-C stops"
                                            : "Ctrl-C stops; SIGUSR1 pauses, SIGUSR2 resumes";
    // Often enough that --seconds, counted in recording time, ends within a frame of its mark;
    // the status line is redrawn four times a second.
    const auto timer = loop.scheduleRepeating(std::chrono::milliseconds(10), [&] {
        const auto progress = session->progress();
        if (progress.started && !announced) {
            announced = true;
            std::printf("recording %s (%s)\n", options.session.id.c_str(), how.c_str());
            std::fflush(stdout);
        }
        if (statusToTerminal && ++ticks % 25 == 0)
            std::fprintf(stderr, "\r%s   ", statusLine(progress).c_str());
        if (options.seconds && progress.elapsedMs >= std::llround(*options.seconds * 1000))
            loop.stop();
    });
    loop.run();
    loop.cancelTimer(timer);
    live = nullptr;
    if (statusToTerminal) std::fprintf(stderr, "\n");

    for (const std::string &line : session->describeStreams()) std::printf("  %s\n", line.c_str());
    auto outcome = session->finish();
    if (!outcome) {
        std::fprintf(stderr, "quillvane record: %s\n", outcome.error().message.c_str());
        return 1;
    }
    // Those of the start were said at the start.
    const std::size_t said = session->startWarnings().size();
    for (std::size_t i = said; i < outcome->warnings.size(); ++i)
        std::fprintf(stderr, "quillvane record: %s\n", outcome->warnings[i].c_str());
    std::printf(
        "wrote %s: %dx%d, %s, %lld frames, %lld dropped\n", outcome->folder.c_str(),
        outcome->meta.width, outcome->meta.height, clockText(outcome->meta.durationMs).c_str(),
        static_cast<long long>(outcome->frames), static_cast<long long>(outcome->droppedFrames));
    std::string files;
    for (const auto &f : outcome->files) files += (files.empty() ? "" : ", ") + f;
    std::printf("files: %s\n", files.c_str());
    return streamFailed ? 1 : 0;
}

} // namespace qv::cli
