// `quillvane frame`: one frame of a recording (or of the demo scene) through the real
// compositor, written as a PNG.
#include "commands.h"
#include "demo_scene.h"

#include "Compositor/engine/metal_video_compositor.h"
#include "interfaces/persistence/recording.h"
#include "platform/imageio/png.h"
#include "platform/media/frame_request.h"
#include "platform/media/video_reader.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>

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
    int width = 1920, height = 1080;
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

struct Scene {
    std::shared_ptr<const SceneInstruction> instruction;
    platform::PixelBufferRef screen;
};

Result<Scene> recordingScene(const fs::path &dir, const FrameOptions &o) {
    auto meta = RecordingMeta::read(dir);
    if (!meta) return meta.error();
    Edits edits = Edits::defaults();
    if (!o.ignoreEdits) {
        auto read = Edits::readFromRecording(dir);
        if (!read) return read.error();
        if (read->has_value()) edits = std::move(**read);
    }
    std::optional<WindowCrop> crop;
    if (meta->windowCropFile) {
        auto loaded = WindowCrop::load(dir, *meta->windowCropFile);
        if (!loaded) return loaded.error();
        crop = std::move(loaded.value());
    }
    auto reader = media::VideoFrameReader::open(dir / "screen.mp4");
    if (!reader) return reader.error();
    const Size screenSize{double(meta->width), double(meta->height)};
    SegmentMap segments = SegmentMap::make(edits, meta->durationMs);
    const std::int64_t sourceMs = segments.sourceTime(o.atMs);
    auto frame = (*reader)->frameAt(sourceMs / 1000.0);
    if (!frame) return frame.error();
    ZoomPath zoom(edits.zooms, screenSize);
    auto instruction = std::make_shared<const SceneInstruction>(
        media::TimeRange{{0, 1000}, {segments.timelineDurationMs(), 1000}}, 1, std::nullopt,
        std::move(edits), Size{double(o.width), double(o.height)}, screenSize, std::move(segments),
        std::move(zoom), std::vector<CursorSample>{}, std::vector<CursorKindSample>{},
        std::vector<CursorSample>{}, std::vector<KeyChord>{}, meta->cursorSynthetic, nullptr,
        std::move(crop));
    return Scene{std::move(instruction), frame.value()};
}

} // namespace

int frameCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;

    Scene scene;
    if (options->demo) {
        scene.screen = demo::desktopScreen();
        scene.instruction =
            demo::demoInstruction({double(options->width), double(options->height)},
                                  {double(scene.screen->width()), double(scene.screen->height())});
    } else {
        auto built = recordingScene(*options->folder, *options);
        if (!built) {
            std::fprintf(stderr, "quillvane frame: %s\n", built.error().message.c_str());
            return 1;
        }
        scene = std::move(built.value());
    }

    MetalVideoCompositor compositor;
    auto request = std::make_shared<media::FrameRequest>(
        media::Time{options->atMs, 1000}, scene.instruction,
        std::make_shared<media::FixedSizeRenderContext>(options->width, options->height),
        std::map<media::TrackID, platform::PixelBufferRef>{{1, scene.screen}});
    compositor.startRequest(request);
    const auto outcome = request->wait();
    if (const auto *error = std::get_if<media::CompositionError>(&outcome)) {
        std::fprintf(stderr, "quillvane frame: %s\n", error->description.c_str());
        return 1;
    }
    const auto status =
        platform::writePng(options->output, *std::get<platform::PixelBufferRef>(outcome));
    if (!status) {
        std::fprintf(stderr, "quillvane frame: %s\n", status.error().message.c_str());
        return 1;
    }
    std::printf("wrote %s (%dx%d, %lld ms)\n", options->output.c_str(), options->width,
                options->height, static_cast<long long>(options->atMs));
    return 0;
}

} // namespace qv::cli
