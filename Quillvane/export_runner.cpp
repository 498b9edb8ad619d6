#include "export_runner.h"
#include "signal_watch.h"

#include "platform/core/executor.h"
#include "platform/media/codec_log.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

namespace qv::cli {

namespace {

namespace fs = std::filesystem;

class ProgressDisplay {
public:
    ProgressDisplay() : terminal_(::isatty(STDERR_FILENO) == 1) {}

    void show(const ExportEngine::Phase &phase) {
        const auto *exporting = phase.as<ExportEngine::Phase::Exporting>();
        if (!exporting) return;
        const int percent = static_cast<int>(std::floor(exporting->fraction * 100));
        if (terminal_) {
            const int filled = percent * width / 100;
            std::fprintf(stderr, "\rExporting [%s%s] %3d%%", std::string(filled, '#').c_str(),
                         std::string(width - filled, '-').c_str(), percent);
            std::fflush(stderr);
            drawn_ = true;
        } else if (percent / 10 != lastTenth_) {
            // One line per tenth, so that logs stay short.
            lastTenth_ = percent / 10;
            std::fprintf(stderr, "exporting %d%%\n", lastTenth_ * 10);
        }
    }
    void end() {
        if (terminal_ && drawn_) std::fprintf(stderr, "\r%*s\r", width + 20, "");
        drawn_ = false;
    }

private:
    static constexpr int width = 30;
    bool terminal_;
    bool drawn_ = false;
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
    ProgressDisplay progress;
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
