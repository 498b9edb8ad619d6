// `quillvane export`: one recording through the export engine into a movie, with its side
// files. A progress bar on a terminal, plain lines otherwise; Ctrl-C cancels cleanly.
#include "commands.h"
#include "export_runner.h"

#include "interfaces/persistence/recording.h"

#include <cstdio>
#include <filesystem>
#include <optional>

namespace qv::cli {

namespace {

namespace fs = std::filesystem;

struct ExportOptions {
    std::string recording; // an identifier or a folder
    ExportPreset preset = ExportPreset::web;
    bool markdown = false;
    bool ignoreEdits = false;
    std::optional<fs::path> output;
};

void usage() {
    std::fputs("usage: quillvane export <recording id or folder> [--preset web|compact|proRes|hevc]"
               " [--markdown] [--ignore-edits] [-o FILE]\n"
               "  --ignore-edits  export with the default look even if edits.json cannot be read\n",
               stderr);
}

std::optional<ExportOptions> parse(const Args &args) {
    ExportOptions o;
    bool haveRecording = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string * {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "quillvane export: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--preset") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            auto preset = ExportPreset::fromRawValue(*v);
            if (!preset) {
                std::fprintf(
                    stderr,
                    "quillvane export: unknown preset \"%s\" (web, compact, proRes, hevc)\n",
                    v->c_str());
                return std::nullopt;
            }
            o.preset = *preset;
        } else if (a == "--markdown") {
            o.markdown = true;
        } else if (a == "--ignore-edits") {
            o.ignoreEdits = true;
        } else if (a == "-o" || a == "--output") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            o.output = *v;
        } else if (a == "-h" || a == "--help") {
            usage();
            return std::nullopt;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "quillvane export: unknown option %s\n", a.c_str());
            return std::nullopt;
        } else if (!haveRecording) {
            o.recording = a;
            haveRecording = true;
        } else {
            std::fprintf(stderr, "quillvane export: unexpected argument %s\n", a.c_str());
            return std::nullopt;
        }
    }
    if (!haveRecording) {
        usage();
        return std::nullopt;
    }
    return o;
}

} // namespace

int exportCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;

    // A folder holding "meta.json" is exported where it is; anything else names a recording of
    // the library.
    ExportTarget target;
    std::error_code ec;
    const fs::path asFolder = options->recording;
    if (fs::is_regular_file(asFolder / RecordingMeta::fileName, ec)) {
        auto meta = RecordingMeta::read(asFolder);
        if (!meta) {
            std::fprintf(stderr, "quillvane export: %s\n", meta.error().message.c_str());
            return 1;
        }
        target = ExportTarget::folder(asFolder, meta.value());
    } else {
        target.recordingId = options->recording;
    }

    fs::path output;
    if (options->output) {
        output = *options->output;
    } else {
        // The default name comes from the recording's metadata; without it the engine reports
        // the missing recording itself.
        std::optional<RecordingMeta> meta = target.meta;
        if (!meta)
            if (auto dir = RecordingStore::recordingDirectory(target.recordingId, false))
                if (auto read = RecordingMeta::read(dir.value())) meta = read.value();
        if (meta) {
            std::optional<fs::path> folder = ExportEngine::moviesDirectory();
            if (folder) fs::create_directories(*folder, ec);
            if (!folder || ec) folder = fs::current_path();
            output = ExportEngine::defaultOutputURL(*meta, options->preset, folder);
        } else {
            output = fs::current_path() /
                     (options->recording + "." + std::string(options->preset.fileExtension()));
        }
    }
    return runExport(target, options->preset, output, options->markdown, "quillvane export",
                     options->ignoreEdits);
}

} // namespace qv::cli
