#include "commands.h"

#include "platform/core/allocator_tuning.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

namespace {

void usage(std::FILE *to) {
    std::fputs("usage: quillvane <command> [options]\n"
               "\n"
               "commands:\n"
               "  frame <recording-folder> --at <ms> -o <out.png> [--size WxH] [--ignore-edits]\n"
               "        render one frame of a recording through the compositor; <ms> is output\n"
               "        time, on the edited timeline after trims and cuts\n"
               "  frame --demo [--at <ms>] -o <out.png> [--size WxH]\n"
               "        render a frame of the built-in demo scene\n"
               "  export <recording id or folder> [--preset web|compact|proRes|hevc]\n"
               "         [--markdown] [--ignore-edits] [--library DIR] [-o FILE]\n"
               "        export a recording to a movie, captions beside it as .srt\n"
               "        (the preset is web unless given; web, compact and hevc write .mp4,\n"
               "        proRes .mov; --markdown adds a report; --ignore-edits exports with the\n"
               "        default look when edits.json cannot be read; --library looks the id up\n"
               "        in DIR instead of the library folder)\n"
               "  demo [-o DIR] [--size WxH] [--seconds N] [--fps N] [--preset P]\n"
               "       [--recording-only] [--no-edits]\n"
               "        write the bundled synthetic recording into DIR/recording and export it\n"
               "        to DIR/demo.mp4 (DIR: quillvane-demo)\n"
               "  cursors -o <sheet.png>\n"
               "        contact sheet of every cursor shape and glyph, plain, outlined and\n"
               "        with shadow, at two sizes\n"
               "  wallpapers -o <sheet.png> [--size WxH]\n"
               "        contact sheet of every wallpaper preset (WxH: one preview, 480x270)\n"
               "  track <folder> [--seconds N]\n"
               "        record pointer, clicks, key chords and cursor kinds into the folder\n"
               "        until Ctrl-C (or for N seconds)\n"
               "  record [--window ID|--region WxH+X+Y] [--fps 30|60] [--mic [SOURCE]]\n"
               "         [--webcam [DEVICE]] [--no-input] [--seconds N] [--id NAME]\n"
               "         [--library DIR]\n"
               "        record the screen (without the pointer), a region, or the area of a\n"
               "        window that it follows, with the input and optionally the microphone\n"
               "        (a sound server source) and a webcam (a V4L2 device, FORMAT:INPUT for\n"
               "        any FFmpeg input, or a file), into <library>/recordings/<id> (id:\n"
               "        rec-DATE-TIME); until Ctrl-C, SIGTERM, q or N seconds of recording;\n"
               "        p or space on the terminal, or SIGUSR1 / SIGUSR2, pause and resume\n"
               "\n"
               "The library folder is $QUILLVANE_LIBRARY, else $XDG_DATA_HOME/quillvane, else\n"
               "~/.local/share/quillvane; its recordings are in <library>/recordings/<id>.\n",
               to);
}

int run(int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    qv::cli::Args args(argv + 2, argv + argc);
    if (command == "frame") return qv::cli::frameCommand(args);
    if (command == "export") return qv::cli::exportCommand(args);
    if (command == "demo") return qv::cli::demoCommand(args);
    if (command == "cursors") return qv::cli::cursorsCommand(args);
    if (command == "wallpapers") return qv::cli::wallpapersCommand(args);
    if (command == "track") return qv::cli::trackCommand(args);
    if (command == "record") return qv::cli::recordCommand(args);
    if (command == "-h" || command == "--help" || command == "help") {
        usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "quillvane: unknown command \"%s\"\n", command.c_str());
    usage(stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    qv::platform::tuneAllocatorForFrames();
    // Exhausted memory or threads on this thread end the command with a message, not an abort;
    // an output being written is a partial file that the unwinding removes.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("quillvane: not enough memory\n", stderr);
    } catch (const std::system_error &e) {
        std::fprintf(stderr, "quillvane: not enough memory or threads: %s\n", e.what());
    }
    return 1;
}
