// `quillvane wallpapers`: a contact sheet of every built-in wallpaper preset, each rendered
// through the preset picker's preview path and labelled with its identity and kind.
#include "commands.h"

#include "Compositor/assets/wallpaper_cache.h"
#include "Compositor/scene/wallpaper_generators.h"
#include "interfaces/persistence/edits.h"
#include "platform/imageio/png.h"

#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace qv::cli {

namespace {

struct SheetOptions {
    std::filesystem::path output;
    int width = 480, height = 270; // one preview
};

bool parseDimension(std::string_view s, int &out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size() && out >= 16 && out <= 4096;
}

std::optional<SheetOptions> parse(const Args &args) {
    SheetOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if ((a == "-o" || a == "--output" || a == "--size") && i + 1 >= args.size()) {
            std::fprintf(stderr, "quillvane wallpapers: %s needs a value\n", a.c_str());
            return std::nullopt;
        }
        if (a == "-o" || a == "--output") {
            o.output = args[++i];
        } else if (a == "--size") {
            const std::string &v = args[++i];
            const auto x = v.find('x');
            if (x == std::string::npos ||
                !parseDimension(std::string_view(v).substr(0, x), o.width) ||
                !parseDimension(std::string_view(v).substr(x + 1), o.height)) {
                std::fprintf(stderr,
                             "quillvane wallpapers: --size: \"%s\" is not WxH (16 to 4096 each)\n",
                             v.c_str());
                return std::nullopt;
            }
        } else {
            std::fprintf(stderr, "quillvane wallpapers: unknown option \"%s\"\n", a.c_str());
            return std::nullopt;
        }
    }
    if (o.output.empty()) {
        std::fprintf(stderr, "quillvane wallpapers: -o <sheet.png> is required\n");
        return std::nullopt;
    }
    return o;
}

cairo_surface_t *surfaceOf(platform::PixelBuffer &pb) {
    return cairo_image_surface_create_for_data(pb.baseAddress(), CAIRO_FORMAT_ARGB32, pb.width(),
                                               pb.height(), int(pb.bytesPerRow()));
}

} // namespace

int wallpapersCommand(const Args &args) {
    const auto options = parse(args);
    if (!options) return 2;
    const auto &presets = Edits::wallpaperPresets();
    const int n = int(presets.size());
    const int columns = n < 4 ? n : 4, rows = (n + columns - 1) / columns;
    const int gap = std::max(16, options->width / 20);
    const int label = std::max(28, options->height / 7);
    const int cellW = options->width + gap, cellH = options->height + label + gap;
    auto sheet = platform::PixelBuffer::create(gap + columns * cellW, gap + rows * cellH,
                                               platform::PixelFormat::bgra8);
    if (!sheet) {
        std::fprintf(stderr, "quillvane wallpapers: the sheet is too large\n");
        return 1;
    }
    cairo_surface_t *surface = surfaceOf(*sheet);
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.09, 0.09, 0.11);
    cairo_paint(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, label * 0.5);

    int failures = 0;
    for (int k = 0; k < n; ++k) {
        const auto &preset = presets[std::size_t(k)];
        const double x = gap + (k % columns) * cellW, y = gap + (k / columns) * cellH;
        auto preview =
            WallpaperCache::bitmap(preset.id, {double(options->width), double(options->height)});
        if (preview) {
            cairo_surface_t *img =
                surfaceOf(const_cast<platform::PixelBuffer &>(preview->bitmap()));
            cairo_set_source_surface(cr, img, x, y);
            cairo_paint(cr);
            cairo_surface_destroy(img);
        } else {
            ++failures;
            std::fprintf(stderr, "quillvane wallpapers: \"%s\" could not be rendered\n",
                         preset.id.c_str());
        }
        const std::string text =
            preset.id + "  \xC2\xB7  " +
            SceneRenderer::wallpaperKindName(SceneRenderer::wallpaperKind(preset.kind));
        cairo_set_source_rgb(cr, 0.92, 0.92, 0.95);
        cairo_move_to(cr, x + 2, y + options->height + label * 0.7);
        cairo_show_text(cr, text.c_str());
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);

    if (auto written = platform::writePng(options->output, *sheet); !written) {
        std::fprintf(stderr, "quillvane wallpapers: %s\n", written.error().message.c_str());
        return 1;
    }
    std::printf("%s: %d presets\n", options->output.c_str(), n);
    return failures ? 1 : 0;
}

} // namespace qv::cli
