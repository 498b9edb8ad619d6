#include "commands.h"

#include <cstdio>
#include <cstring>

namespace {

void usage(std::FILE *to) {
    std::fputs("usage: quillvane <command> [options]\n"
               "\n"
               "commands:\n"
               "  frame <recording-folder> --at <ms> -o <out.png> [--size WxH]\n"
               "        render one frame of a recording through the compositor\n"
               "  frame --demo [--at <ms>] -o <out.png> [--size WxH]\n"
               "        render a frame of the built-in demo scene\n",
               to);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    qv::cli::Args args(argv + 2, argv + argc);
    if (command == "frame") return qv::cli::frameCommand(args);
    if (command == "-h" || command == "--help" || command == "help") {
        usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "quillvane: unknown command \"%s\"\n", command.c_str());
    usage(stderr);
    return 2;
}
