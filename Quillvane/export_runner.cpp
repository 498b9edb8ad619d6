#include "export_runner.h"
#include "signal_watch.h"

#include "platform/core/executor.h"
#include "platform/media/codec_log.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

namespace qv::cli {

namespace {

namespace fs = std::filesystem;

// The frames the export writes: the composition's timeline in whole frames. Unknown for a
// stream copy, which has no video composition.
std::optional<std::int64_t> outputFrameCount(const ExportEngine &engine) {
    const auto session = engine.session();
    const auto composition = session ? session->videoComposition() : nullptr;
    if (!composition || composition->instructions.empty()) return std::nullopt;
    const platform::media::Time frame = composition->frameDuration;
    const platform::media::TimeRange last = composition->instructions.back()->timeRange();
    const double seconds = last.start.seconds() + last.duration.seconds();
    if (frame.seconds() <= 0 || seconds <= 0) return std::nullopt;
    return static_cast<std::int64_t>(std::ceil(seconds / frame.seconds() - 1e-9));
}

// On a terminal, one line redrawn in place: a bar, the percentage, frames per second and the
// time left. Otherwise a plain line per tenth, so that logs stay short; a finished export
// always ends with its 100 % line.
class ProgressDisplay {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressDisplay(const ExportEngine &engine)
        : engine_(engine), terminal_(::isatty(STDERR_FILENO) == 1) {}

    void show(const ExportEngine::Phase &phase) {
        if (const auto *exporting = phase.as<ExportEngine::Phase::Exporting>())
            draw(exporting->fraction);
        else if (phase.is<ExportEngine::Phase::Finished>())
            draw(1.0);
    }
    void end() {
        if (terminal_ && drawnWidth_ > 0) std::fprintf(stderr, "\r%*s\r", drawnWidth_, "");
        drawnWidth_ = 0;
    }

private:
    void draw(double fraction) {
        const auto now = Clock::now();
        if (!started_) {
            started_ = now;
            frames_ = outputFrameCount(engine_);
        }
        fraction = std::clamp(fraction, 0.0, 1.0);
        // The fraction of frame i of n is a sum of steps, so 0.3 may arrive as 0.29999...
        const int percent = static_cast<int>(std::floor(fraction * 100 + 1e-6));
        if (!terminal_) {
            if (percent / 10 == lastTenth_) return;
            lastTenth_ = percent / 10;
            std::fprintf(stderr, "exporting %d%%\n", lastTenth_ * 10);
            return;
        }
        const double elapsed = std::chrono::duration<double>(now - *started_).count();
        std::string line = "\rExporting [" + std::string(percent * barWidth / 100, '#') +
                           std::string(barWidth - percent * barWidth / 100, '-') + "] ";
        char buf[96];
        std::snprintf(buf, sizeof buf, "%3d%%", percent);
        line += buf;
        if (elapsed > 0 && fraction > 0) {
            if (frames_) {
                std::snprintf(buf, sizeof buf, "  %.1f fps", fraction * double(*frames_) / elapsed);
                line += buf;
            }
            const auto left =
                static_cast<long long>(std::lround(elapsed * (1 - fraction) / fraction));
            std::snprintf(buf, sizeof buf, "  %lld:%02lld left", left / 60, left % 60);
            line += buf;
        }
        const int width = static_cast<int>(line.size()) - 1;
        // Spaces over what a longer earlier line left behind.
        if (width < drawnWidth_) line += std::string(std::size_t(drawnWidth_ - width), ' ');
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        drawnWidth_ = std::max(drawnWidth_, width);
    }

    static constexpr int barWidth = 30;
    const ExportEngine &engine_;
    bool terminal_;
    std::optional<Clock::time_point> started_;
    std::optional<std::int64_t> frames_;
    int drawnWidth_ = 0;
    int lastTenth_ = -1;
};

bool writtenSince(const fs::path &file, fs::file_time_type since) {
    std::error_code ec;
    const auto when = fs::last_write_time(file, ec);
    return !ec && when >= since;
}

} // namespace

int runExport(const ExportTarget &target, ExportPreset preset, const fs::path &output,
              bool markdown, const char *program, bool ignoreEdits) {
    platform::media::quietCodecLogs();
    platform::RunLoop loop;
    ExportEngine *enginePtr = nullptr;
    // Ctrl-C, SIGTERM, SIGHUP or a broken pipe cancels the export on the run loop.
    SignalWatch cancelOnSignal([&loop, &enginePtr] {
        loop.post([&enginePtr] {
            if (enginePtr) enginePtr->cancel();
        });
    });

    ExportEngine::RecordingLocator locator;
    if (target.directory)
        locator = [target](const std::string &id) -> Result<fs::path> {
            if (id == target.recordingId) return *target.directory;
            return Error{"Recording not found: " + id};
        };
    ExportEngine engine(loop, locator);
    engine.setIgnoreEdits(ignoreEdits);
    enginePtr = &engine;
    ProgressDisplay progress(engine);
    engine.observePhase([&progress](const ExportEngine::Phase &p) { progress.show(p); });

    const auto started = fs::file_time_type::clock::now();
    loop.post([&] {
        engine.exportRecording(target.recordingId, preset, output, markdown,
                               [&loop] { loop.stop(); });
    });
    loop.run();
    progress.end();
    const ExportEngine::Phase outcome = engine.phase();
    enginePtr = nullptr;

    if (const auto *finished = outcome.as<ExportEngine::Phase::Finished>()) {
        const fs::path movie = finished->url.value_or(output);
        std::printf("wrote %s\n", movie.c_str());
        for (const char *extension : {"md", "srt"}) {
            fs::path side = movie;
            side.replace_extension(extension);
            if (writtenSince(side, started)) std::printf("wrote %s\n", side.c_str());
        }
        return 0;
    }
    if (const auto *failed = outcome.as<ExportEngine::Phase::Failed>()) {
        std::fprintf(stderr, "%s: %s\n", program, failed->message.c_str());
        return 1;
    }
    std::fprintf(stderr, "%s: %s\n", program,
                 outcome.is<ExportEngine::Phase::Cancelled>() ? "cancelled" : "did not finish");
    return outcome.is<ExportEngine::Phase::Cancelled>() ? 130 : 1;
}

} // namespace qv::cli
