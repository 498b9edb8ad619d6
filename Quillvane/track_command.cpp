// `quillvane track`: records pointer, clicks, key chords and cursor kinds into a folder until
// Ctrl-C (or for a given time), with the recording's origin at its start, and writes the track
// files there.
#include "commands.h"
#include "signal_watch.h"

#include "Handtrace/input_event_tap.h"
#include "Handtrace/track_files.h"
#include "platform/core/executor.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

namespace qv::cli {

namespace {

namespace fs = std::filesystem;

struct TrackOptions {
    fs::path folder;
    std::optional<double> seconds;
};

std::optional<TrackOptions> parse(const Args &args) {
    TrackOptions o;
    bool haveFolder = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--seconds") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "quillvane track: --seconds needs a value\n");
                return std::nullopt;
            }
            const std::string &v = args[++i];
            double s = 0;
            auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), s);
            if (ec != std::errc() || p != v.data() + v.size() || !std::isfinite(s) || s <= 0) {
                std::fprintf(stderr,
                             "quillvane track: --seconds: \"%s\" is not a positive number\n",
                             v.c_str());
                return std::nullopt;
            }
            o.seconds = s;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "quillvane track: unknown option %s\n", a.c_str());
            return std::nullopt;
        } else if (!haveFolder) {
            o.folder = a;
            haveFolder = true;
        } else {
            std::fprintf(stderr, "quillvane track: more than one folder given\n");
            return std::nullopt;
        }
    }
    if (!haveFolder) {
        std::fprintf(stderr, "usage: quillvane track <folder> [--seconds N]\n");
        return std::nullopt;
    }
    return o;
}

std::string count(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void report(const fs::path &folder) {
    bool any = false;
    if (auto f = ClicksFile::load(folder); f && !f->clicks.empty()) {
        std::printf("wrote %s: %s\n", std::string(ClicksFile::fileName).c_str(),
                    count(f->clicks.size(), "click", "clicks").c_str());
        any = true;
    }
    if (auto f = CursorFile::load(folder); f && !f->samples.empty()) {
        std::printf("wrote %s: %s, %s\n", std::string(CursorFile::fileName).c_str(),
                    count(f->samples.size(), "pointer sample", "pointer samples").c_str(),
                    count(f->kinds.size(), "cursor kind", "cursor kinds").c_str());
        any = true;
    }
    if (auto f = KeysFile::load(folder); f && !f->keys.empty()) {
        std::printf("wrote %s: %s\n", std::string(KeysFile::fileName).c_str(),
                    count(f->keys.size(), "key chord", "key chords").c_str());
        any = true;
    }
    if (!any) std::printf("nothing recorded; no files written\n");
}

} // namespace

int trackCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;
    const fs::path &folder = options->folder;

    // Old track files would mix with the new ones wherever a track stays empty this time.
    for (std::string_view name : {ClicksFile::fileName, CursorFile::fileName, KeysFile::fileName}) {
        if (fs::exists(folder / name)) {
            std::fprintf(stderr, "quillvane track: %s already holds %s; use an empty folder\n",
                         folder.c_str(), std::string(name).c_str());
            return 1;
        }
    }

    platform::RunLoop loop;
    // Ends the run loop on Ctrl-C or SIGTERM.
    SignalWatch stopOnSignal([&loop] { loop.stop(); });
    if (!stopOnSignal.ok()) {
        std::fprintf(stderr, "quillvane track: cannot watch for Ctrl-C\n");
        return 1;
    }

    const std::shared_ptr<InputPlatform> input = InputPlatform::x11();
    // The capture area is the whole desktop, so positions are root-window coordinates.
    const std::optional<Rect> desktop = input->desktopBounds();
    const double origin = hostSeconds();
    auto recorder = InputEventTap::create(
        folder, [origin] { return std::optional<double>(origin); }, [desktop] { return desktop; },
        loop, input);
    if (!recorder->start()) {
        std::fprintf(stderr, "quillvane track: input capture unavailable: it needs an X11 session "
                             "with XInput 2 (DISPLAY set, not Wayland)\n");
        return 1;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        recorder->cancel();
        std::fprintf(stderr, "quillvane track: cannot create the folder %s\n", folder.c_str());
        return 1;
    }

    if (options->seconds) {
        std::printf("recording input into %s for %g s (Ctrl-C stops early)\n", folder.c_str(),
                    *options->seconds);
        std::fflush(stdout);
        loop.runFor(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(*options->seconds)));
    } else {
        std::printf("recording input into %s; press Ctrl-C to stop\n", folder.c_str());
        std::fflush(stdout);
        loop.run();
    }
    const auto written = recorder->finishWritingFiles();
    report(folder);
    if (!written) {
        std::fprintf(stderr, "quillvane track: %s\n", written.error().message.c_str());
        return 1;
    }
    return 0;
}

} // namespace qv::cli
