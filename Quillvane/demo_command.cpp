// `quillvane demo`: writes the bundled synthetic recording and exports it with its side files,
// so that the whole road from a recording folder to a finished movie can be seen at once.
#include "commands.h"
#include "demo_recording.h"
#include "export_runner.h"

#include "interfaces/persistence/recording.h"
#include "platform/media/codec_log.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace qv::cli {

namespace {

namespace fs = std::filesystem;

struct DemoOptions {
    fs::path folder = "quillvane-demo";
    demo::RecordingOptions recording;
    ExportPreset preset = ExportPreset::web;
    bool recordingOnly = false;
};

bool parseInt(const std::string &s, int &out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

std::optional<DemoOptions> parse(const Args &args) {
    DemoOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string * {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "quillvane demo: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "-o" || a == "--output") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            o.folder = *v;
        } else if (a == "--size") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            const auto x = v->find('x');
            int w = 0, h = 0;
            if (x == std::string::npos || !parseInt(v->substr(0, x), w) ||
                !parseInt(v->substr(x + 1), h) || w < 64 || h < 64 || w > 7680 || h > 4320 ||
                w % 2 || h % 2) {
                std::fprintf(stderr, "quillvane demo: --size: \"%s\" is not an even WxH\n",
                             v->c_str());
                return std::nullopt;
            }
            o.recording.width = w;
            o.recording.height = h;
        } else if (a == "--seconds") {
            const std::string *v = value();
            if (!v || !parseInt(*v, o.recording.seconds) || o.recording.seconds < 4 ||
                o.recording.seconds > 600) {
                if (v) std::fprintf(stderr, "quillvane demo: --seconds: 4 to 600\n");
                return std::nullopt;
            }
        } else if (a == "--fps") {
            const std::string *v = value();
            if (!v || !parseInt(*v, o.recording.framesPerSecond) ||
                o.recording.framesPerSecond < 1 || o.recording.framesPerSecond > 120) {
                if (v) std::fprintf(stderr, "quillvane demo: --fps: 1 to 120\n");
                return std::nullopt;
            }
        } else if (a == "--preset") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            auto preset = ExportPreset::fromRawValue(*v);
            if (!preset) {
                std::fprintf(stderr, "quillvane demo: unknown preset \"%s\"\n", v->c_str());
                return std::nullopt;
            }
            o.preset = *preset;
        } else if (a == "--recording-only") {
            o.recordingOnly = true;
        } else if (a == "--no-edits") {
            o.recording.withEdits = false;
        } else {
            std::fprintf(stderr, "quillvane demo: unknown argument %s\n", a.c_str());
            return std::nullopt;
        }
    }
    return o;
}

} // namespace

int demoCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;
    platform::media::quietCodecLogs();
    const fs::path recording = options->folder / "recording";
    std::printf("writing the demo recording into %s\n", recording.c_str());
    std::fflush(stdout);
    if (auto st = demo::writeRecording(recording, options->recording); !st) {
        std::fprintf(stderr, "quillvane demo: %s\n", st.error().message.c_str());
        return 1;
    }
    if (options->recordingOnly) return 0;
    auto meta = RecordingMeta::read(recording);
    if (!meta) {
        std::fprintf(stderr, "quillvane demo: %s\n", meta.error().message.c_str());
        return 1;
    }
    const fs::path movie =
        options->folder / ("demo." + std::string(options->preset.fileExtension()));
    return runExport(ExportTarget::folder(recording, meta.value()), options->preset, movie, true,
                     "quillvane demo");
}

} // namespace qv::cli
