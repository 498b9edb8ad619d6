// `quillvane frame`: one frame of a recording (or of the bundled demo recording) as a PNG, the
// very frame that the export writes at that output time.
#include "commands.h"
#include "demo_recording.h"

#include "Cutbench/composition_builder.h"
#include "Frontpanel/cursors/system_cursor_bootstrap.h"
#include "interfaces/persistence/recording.h"
#include "platform/imageio/png.h"
#include "platform/media/codec_log.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/frame_request.h"

#include <stdlib.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

namespace qv::cli {

namespace {

namespace fs = std::filesystem;
namespace media = platform::media;

struct FrameOptions {
    std::optional<fs::path> folder;
    bool demo = false;
    std::int64_t atMs = 2500;
    bool atGiven = false;
    bool ignoreEdits = false;
    fs::path output;
    int width = 0, height = 0;
    bool sizeGiven = false; // otherwise the export's own canvas
};

bool parseInt(const std::string &s, std::int64_t &out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

bool parseSize(const std::string &s, int &w, int &h) {
    const auto x = s.find('x');
    std::int64_t a = 0, b = 0;
    if (x == std::string::npos || !parseInt(s.substr(0, x), a) || !parseInt(s.substr(x + 1), b))
        return false;
    if (a < 1 || b < 1 || a > 16384 || b > 16384) return false;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

std::optional<FrameOptions> parse(const Args &args) {
    FrameOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string * {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "quillvane frame: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--demo") {
            o.demo = true;
        } else if (a == "--ignore-edits") {
            o.ignoreEdits = true;
        } else if (a == "--at") {
            const std::string *v = value();
            if (!v || !parseInt(*v, o.atMs) || o.atMs < 0) {
                if (v)
                    std::fprintf(stderr,
                                 "quillvane frame: --at: \"%s\" is not a time in milliseconds\n",
                                 v->c_str());
                return std::nullopt;
            }
            o.atGiven = true;
        } else if (a == "-o" || a == "--output") {
            const std::string *v = value();
            if (!v) return std::nullopt;
            o.output = *v;
        } else if (a == "--size") {
            const std::string *v = value();
            o.sizeGiven = true;
            if (!v || !parseSize(*v, o.width, o.height)) {
                if (v)
                    std::fprintf(stderr, "quillvane frame: --size: \"%s\" is not WxH\n",
                                 v->c_str());
                return std::nullopt;
            }
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "quillvane frame: unknown option %s\n", a.c_str());
            return std::nullopt;
        } else if (!o.folder) {
            o.folder = a;
        } else {
            std::fprintf(stderr, "quillvane frame: unexpected argument %s\n", a.c_str());
            return std::nullopt;
        }
    }
    if (o.demo == o.folder.has_value()) {
        std::fprintf(stderr, "quillvane frame: give a recording folder or --demo\n");
        return std::nullopt;
    }
    if (o.output.empty()) {
        std::fprintf(stderr, "quillvane frame: -o <out.png> is required\n");
        return std::nullopt;
    }
    if (o.folder && !o.atGiven) {
        std::fprintf(stderr, "quillvane frame: --at <ms> is required for a recording\n");
        return std::nullopt;
    }
    return o;
}

// A temporary folder removed with everything in it when it goes out of scope.
class ScratchFolder {
public:
    static Result<ScratchFolder> make() {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "quillvane-frame-XXXXXX").string();
        if (ec || !::mkdtemp(pattern.data()))
            return Error{"cannot make a temporary folder: " + std::string(std::strerror(errno))};
        return ScratchFolder(pattern);
    }
    ScratchFolder(ScratchFolder &&other) noexcept : path_(std::exchange(other.path_, {})) {}
    ScratchFolder &operator=(ScratchFolder &&) = delete;
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

private:
    explicit ScratchFolder(fs::path path) : path_(std::move(path)) {}
    fs::path path_;
};

struct Still {
    platform::PixelBufferRef picture;
    std::int64_t shownMs = 0; // the output time of the frame drawn
};

// The frame of the export that is on screen at the output time, drawn the way the export draws
// it: the same composition, frame source and compositor.
Result<Still> renderRecordingFrame(const fs::path &dir, const FrameOptions &o) {
    auto meta = RecordingMeta::readFromRecording(dir);
    if (!meta) return meta.error();
    Edits edits = Edits::defaults();
    if (!o.ignoreEdits) {
        auto read = Edits::readFromRecording(dir);
        if (!read) return read.error();
        if (read->has_value()) edits = std::move(**read);
    }
    std::optional<Size> canvas;
    if (o.sizeGiven) canvas = Size{double(o.width), double(o.height)};
    auto built = CompositionBuilder::buildNow(dir, *meta, edits, {}, canvas);
    if (auto *error = std::get_if<media::MediaError>(&built))
        return Error{error->localizedDescription};
    const EditorComposition &composition = std::get<EditorComposition>(built);
    const media::VideoComposition &video = *composition.videoComposition;

    auto source = media::CompositionFrameSource::open(*composition.asset, video);
    if (!source) return source.error();
    if (o.atMs >= composition.asset->durationMs)
        std::fprintf(stderr,
                     "quillvane frame: --at %lld is past the end of the edited recording (%lld "
                     "ms); its last frame is drawn\n",
                     static_cast<long long>(o.atMs),
                     static_cast<long long>(composition.asset->durationMs));
    auto frame = (*source)->frame((*source)->frameIndexAt(o.atMs));
    if (!frame) return frame.error();

    const int W = static_cast<int>(video.renderSize.width),
              H = static_cast<int>(video.renderSize.height);
    auto compositor = video.customVideoCompositor();
    if (!compositor) return Error{"the compositor could not be created"};
    auto context = std::make_shared<media::FixedSizeRenderContext>(W, H);
    compositor->renderContextChanged(*context);
    auto request = std::make_shared<media::FrameRequest>(frame->time, frame->instruction, context,
                                                         std::move(frame->sources));
    compositor->startRequest(request);
    const auto outcome = request->wait();
    if (const auto *error = std::get_if<media::CompositionError>(&outcome))
        return Error{error->description};
    const std::int64_t shownMs =
        frame->time.value * 1000 / std::max<std::int64_t>(frame->time.timescale, 1);
    return Still{std::get<platform::PixelBufferRef>(outcome), shownMs};
}

// The bundled demo recording, written to a temporary folder and drawn like any other.
Result<Still> renderDemoFrame(const FrameOptions &o) {
    auto scratch = ScratchFolder::make();
    if (!scratch) return scratch.error();
    const fs::path recording = scratch->path() / "recording";
    if (auto written = demo::writeRecording(recording, {}); !written) return written.error();
    return renderRecordingFrame(recording, o);
}

} // namespace

int frameCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;
    media::quietCodecLogs();
    // The same system cursor artwork as the export draws.
    SystemCursorBootstrap::registerCursors();

    auto still = options->demo ? renderDemoFrame(*options)
                               : renderRecordingFrame(*options->folder, *options);
    if (!still) {
        std::fprintf(stderr, "quillvane frame: %s\n", still.error().message.c_str());
        return 1;
    }
    const platform::PixelBuffer &picture = *still->picture;
    if (auto status = platform::writePng(options->output, picture); !status) {
        std::fprintf(stderr, "quillvane frame: %s\n", status.error().message.c_str());
        return 1;
    }
    std::printf("wrote %s (%dx%d, the frame at %lld ms of the edited recording)\n",
                options->output.c_str(), picture.width(), picture.height(),
                static_cast<long long>(still->shownMs));
    return 0;
}

} // namespace qv::cli
