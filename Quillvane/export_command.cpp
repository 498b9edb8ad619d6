// `quillvane export`: one recording through the export engine into a movie, with its side
// files. A progress bar on a terminal, plain lines otherwise; Ctrl-C cancels cleanly.
#include "commands.h"
#include "export_runner.h"

#include "Frontpanel/cursors/system_cursor_bootstrap.h"
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
    std::optional<fs::path> library;
};

void usage() {
    std::fputs("usage: quillvane export <recording id or folder> [--preset web|compact|proRes|hevc]"
               " [--markdown] [--ignore-edits] [--library DIR] [-o FILE]\n"
               "  --preset P      web (the default), compact, hevc: an .mp4 movie; proRes: .mov\n"
               "  --markdown      write a report beside the movie\n"
               "  --ignore-edits  export with the default look even if edits.json cannot be read\n"
               "  --library DIR   look the recording id up in DIR instead of the library folder\n"
               "  -o FILE         the movie; its extension must fit the preset, and a name\n"
               "                  without one gets the preset's\n",
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
        } else if (a == "--library") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            if (v->empty()) {
                std::fprintf(stderr, "quillvane export: --library needs a folder\n");
                return std::nullopt;
            }
            o.library = *v;
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

// A folder holding "meta.json" is exported where it is, and so is anything that is not a plain
// name; a plain name is a recording of the library. Either way the metadata's id must be the
// folder's name.
Result<ExportTarget> locate(const std::string &recording) {
    std::error_code ec;
    const fs::path asFolder = recording;
    fs::path directory;
    if (fs::is_regular_file(asFolder / RecordingMeta::fileName, ec) ||
        recording.find('/') != std::string::npos) {
        directory = asFolder;
    } else {
        auto found = RecordingStore::recordingDirectory(recording, false);
        if (!found) return found.error();
        directory = found.value();
    }
    auto meta = RecordingMeta::readFromRecording(directory);
    if (!meta) return meta.error();
    return ExportTarget::folder(directory, meta.value());
}

fs::path defaultOutput(const RecordingMeta &meta, ExportPreset preset) {
    std::error_code ec;
    std::optional<fs::path> folder = ExportEngine::moviesDirectory();
    if (folder) fs::create_directories(*folder, ec);
    if (!folder || ec) folder = fs::current_path();
    return ExportEngine::defaultOutputURL(meta, preset, folder);
}

} // namespace

int exportCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;
    if (options->library) RecordingStore::setLibraryDirectory(options->library);
    // The desktop's cursor artwork for the recorded system cursors, before any frame is drawn.
    SystemCursorBootstrap::registerCursors();

    const auto target = locate(options->recording);
    if (!target) {
        std::fprintf(stderr, "quillvane export: %s\n", target.error().message.c_str());
        return 1;
    }
    fs::path output;
    if (options->output) {
        output = *options->output;
        // A bare name gets the preset's extension; a wrong one is refused by the engine before
        // anything is written.
        std::error_code ec;
        if (!output.has_extension() && output.has_filename() && output.filename() != "." &&
            output.filename() != ".." && !fs::is_directory(output, ec))
            output += "." + std::string(options->preset.fileExtension());
    } else {
        output = defaultOutput(*target->meta, options->preset);
    }
    return runExport(target.value(), options->preset, output, options->markdown, "quillvane export",
                     options->ignoreEdits);
}

} // namespace qv::cli
