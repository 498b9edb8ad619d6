// `quillvane cursors`: a contact sheet of every cursor shape and system glyph, drawn plain,
// outlined and with shadow, at two sizes, so that each can be looked at.
#include "commands.h"

#include "Compositor/scene/cursor_frame.h"
#include "platform/imageio/png.h"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qv::cli {

namespace {

using SceneRenderer::SystemGlyph;

struct Column {
    std::string title;
    Edits::CursorShape shape;
    std::optional<SystemGlyph> glyph;
};

struct Variant {
    const char *title;
    bool outline, shadow;
};

// Paints the sprite so that its height is `height` pixels, its top-left at (x, y).
void paintSprite(cairo_t *cr, const SceneRenderer::CursorSprite &sprite, double x, double y,
                 double height) {
    const platform::PixelBuffer &bm = sprite.image->bitmap();
    cairo_surface_t *s = cairo_image_surface_create_for_data(
        const_cast<std::uint8_t *>(bm.baseAddress()), CAIRO_FORMAT_ARGB32, bm.width(), bm.height(),
        static_cast<int>(bm.bytesPerRow()));
    // Fit the larger side, so that wide glyphs stay inside their cell.
    const double scale = height / std::max(bm.width(), bm.height());
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
    // The hot spot, as a small red cross.
    const double hx = x + sprite.hotX * bm.width() * scale;
    const double hy = y + sprite.hotY * bm.height() * scale;
    cairo_set_source_rgba(cr, 0.9, 0.1, 0.1, 0.8);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, hx - 4, hy);
    cairo_line_to(cr, hx + 4, hy);
    cairo_move_to(cr, hx, hy - 4);
    cairo_line_to(cr, hx, hy + 4);
    cairo_stroke(cr);
    cairo_surface_destroy(s);
}

void label(cairo_t *cr, double x, double y, const std::string &text) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.25);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

} // namespace

int cursorsCommand(const Args &args) {
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size()) {
            output = args[++i];
        } else {
            std::fprintf(stderr, "quillvane cursors: unexpected argument %s\n", args[i].c_str());
            return 2;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr, "quillvane cursors: -o <sheet.png> is required\n");
        return 2;
    }

    std::vector<Column> columns;
    for (auto shape :
         {Edits::CursorShape::arrow, Edits::CursorShape::heart, Edits::CursorShape::dot,
          Edits::CursorShape::ring, Edits::CursorShape::crosshair})
        columns.push_back({std::string(rawValue(shape)), shape, std::nullopt});
    for (SystemGlyph g : SceneRenderer::kAllSystemGlyphs)
        columns.push_back({std::string(SceneRenderer::glyphName(g)), Edits::CursorShape::arrow, g});
    const Variant variants[] = {{"plain", false, false},
                                {"outline", true, false},
                                {"shadow", false, true},
                                {"outline + shadow", true, true}};
    const double sizes[] = {96, 40};

    const int cell = 120, left = 130, top = 30;
    const int W = left + cell * static_cast<int>(columns.size());
    const int H = top + cell * 4 * 2;
    auto pb = platform::PixelBuffer::create(W, H, platform::PixelFormat::bgra8);
    cairo_surface_t *surface = cairo_image_surface_create_for_data(
        pb->baseAddress(), CAIRO_FORMAT_ARGB32, W, H, static_cast<int>(pb->bytesPerRow()));
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.93, 0.94, 0.96);
    cairo_paint(cr);

    Edits::Scene style = Edits::defaults().scene;
    style.cursorFill = "#111111";
    style.cursorOutlineColor = "#FFFFFF";
    for (std::size_t c = 0; c < columns.size(); ++c)
        label(cr, left + cell * c + 4, 18, columns[c].title);
    int row = 0;
    for (double size : sizes) {
        for (const Variant &v : variants) {
            const double y = top + cell * row;
            // Alternate backgrounds so white outlines and shadows both show.
            cairo_set_source_rgb(cr, row % 2 ? 0.55 : 0.80, row % 2 ? 0.60 : 0.84,
                                 row % 2 ? 0.68 : 0.90);
            cairo_rectangle(cr, left, y, W - left, cell);
            cairo_fill(cr);
            label(cr, 6, y + cell / 2.0, std::string(v.title) + " " + std::to_string(int(size)));
            for (std::size_t c = 0; c < columns.size(); ++c) {
                style.cursorShape = columns[c].shape;
                style.cursorOutline = v.outline;
                style.cursorShadow = v.shadow;
                const auto sprite = SceneRenderer::cursorSprite(style, columns[c].glyph);
                paintSprite(cr, sprite, left + cell * c + 10, y + 10, size);
            }
            ++row;
        }
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    if (auto status = platform::writePng(output, *pb); !status) {
        std::fprintf(stderr, "quillvane cursors: %s\n", status.error().message.c_str());
        return 1;
    }
    std::printf("wrote %s (%d shapes and glyphs)\n", output.c_str(),
                static_cast<int>(columns.size()));
    return 0;
}

} // namespace qv::cli
