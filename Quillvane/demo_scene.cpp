#include "demo_scene.h"
#include "Compositor/scene/cairo_paths.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qv::demo {

namespace {

void text(cairo_t *cr, double x, double y, double size, const char *s, double grey) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s);
}

// An application window: title bar, traffic-light-free buttons, body.
void window(cairo_t *cr, double x, double y, double w, double h, const char *title) {
    cairo_save(cr);
    SceneRenderer::roundedRectPath(cr, x + 6, y + 10, w, h, 14);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.25);
    cairo_fill(cr);
    SceneRenderer::roundedRectPath(cr, x, y, w, h, 14);
    cairo_set_source_rgb(cr, 0.98, 0.98, 0.99);
    cairo_fill_preserve(cr);
    cairo_clip(cr);
    cairo_rectangle(cr, x, y, w, 64);
    cairo_set_source_rgb(cr, 0.90, 0.91, 0.93);
    cairo_fill(cr);
    text(cr, x + 28, y + 42, 26, title, 0.25);
    cairo_restore(cr);
}

} // namespace

platform::PixelBufferRef desktopScreen(int W, int H) {
    auto pb = platform::PixelBuffer::create(W, H, platform::PixelFormat::bgra8);
    if (!pb) return nullptr;
    cairo_surface_t *surface = cairo_image_surface_create_for_data(
        pb->baseAddress(), CAIRO_FORMAT_ARGB32, W, H, static_cast<int>(pb->bytesPerRow()));
    cairo_t *cr = cairo_create(surface);

    cairo_pattern_t *sky = cairo_pattern_create_linear(0, 0, W, H);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.16, 0.32, 0.55);
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.45, 0.25, 0.52);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);

    // Menu bar and dock.
    cairo_rectangle(cr, 0, 0, W, 48);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.75);
    cairo_fill(cr);
    text(cr, 32, 34, 24, "Files    Edit    View    Window    Help", 0.15);
    SceneRenderer::roundedRectPath(cr, W * 0.3, H - 130, W * 0.4, 104, 26);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_fill(cr);
    const double icons[][3] = {{0.9, 0.3, 0.3},  {0.3, 0.7, 0.4}, {0.3, 0.5, 0.9},
                               {0.95, 0.7, 0.2}, {0.6, 0.4, 0.8}, {0.2, 0.7, 0.8}};
    for (int k = 0; k < 6; ++k) {
        SceneRenderer::roundedRectPath(cr, W * 0.3 + 40 + k * (W * 0.4 - 80) / 6.0, H - 116, 76, 76,
                                       18);
        cairo_set_source_rgb(cr, icons[k][0], icons[k][1], icons[k][2]);
        cairo_fill(cr);
    }

    // An editor window with lines of "code".
    window(cr, 140, 140, 1500, 1180, "notes.txt");
    for (int line = 0; line < 24; ++line) {
        const double y = 250 + line * 42;
        text(cr, 180, y, 22, std::to_string(line + 1).c_str(), 0.6);
        const double len = 300 + std::fmod(line * 379.0, 900.0);
        cairo_rectangle(cr, 250, y - 18, len, 20);
        cairo_set_source_rgb(cr, 0.35 + 0.02 * (line % 5), 0.45, 0.7 - 0.03 * (line % 4));
        cairo_fill(cr);
    }

    // A sign-in form: the zoom target, with a password field the mask hides.
    window(cr, 1760, 420, 960, 860, "Sign in");
    text(cr, 1840, 600, 40, "Welcome back", 0.15);
    const char *labels[] = {"Email", "Password"};
    for (int k = 0; k < 2; ++k) {
        const double y = 680 + k * 170;
        text(cr, 1840, y, 24, labels[k], 0.35);
        SceneRenderer::roundedRectPath(cr, 1840, y + 20, 800, 80, 12);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.75, 0.77, 0.8);
        cairo_set_line_width(cr, 3);
        cairo_stroke(cr);
    }
    text(cr, 1870, 772, 28, "ada@example.org", 0.2);
    text(cr, 1870, 942, 28, "hunter2-secret", 0.2);
    SceneRenderer::roundedRectPath(cr, 1840, 1060, 800, 90, 14);
    cairo_set_source_rgb(cr, 0.22, 0.45, 0.95);
    cairo_fill(cr);
    text(cr, 2170, 1118, 30, "Sign in", 1.0);

    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    return pb;
}

Edits demoEdits() {
    Edits e = Edits::defaults();
    // The full decoration: wallpaper, drop shadow, browser chrome and border.
    e.scene.backgroundKind = Edits::BackgroundKind::wallpaper;
    e.scene.wallpaperId = "dusk";
    e.scene.paddingPercent = 7;
    e.scene.frameRadius = 22;
    e.scene.shadowBlur = 40;
    e.scene.shadowOffset = 14;
    e.scene.shadowStrength = 0.8;
    e.scene.chromeStyle = Edits::ChromeStyle::browser;
    e.scene.showBorder = true;
    e.scene.clickEffect = Edits::ClickEffect::ring;
    e.scene.cursorSize = 1.6;
    // The form sits at (1760..2720, 420..1280) of 2880 × 1800.
    e.zooms.push_back({1000, 3000, 1.8, 1, 2240.0 / 2880, 850.0 / 1800});
    Edits::Mask mask;
    mask.id = "password";
    mask.startMs = 0;
    mask.endMs = 10000;
    mask.style = Edits::MaskStyle::solid;
    // Content fractions: the crop insets the content by 4 source pixels on each side.
    // The field with its 3-pixel outline.
    mask.keyframes.push_back(
        {0, (1836.0 - 4) / 2872, (866.0 - 4) / 1792, 808.0 / 2872, 88.0 / 1792});
    e.masks.push_back(mask);
    return e;
}

namespace {

// The pointer drifts from the editor to the form's button, clicks it at 2.4 s and rests there.
std::vector<CursorSample> demoPointer() {
    std::vector<CursorSample> path;
    const double x0 = 900.0 / 2880, y0 = 700.0 / 1800, x1 = 2240.0 / 2880, y1 = 1105.0 / 1800;
    for (std::int64_t t = 0; t <= 6000; t += 16) {
        const double f = std::clamp((t - 300) / 2000.0, 0.0, 1.0);
        const double e = f * f * (3 - 2 * f);
        // A gentle arc rather than a straight line, as a hand would move.
        path.push_back(
            {t, x0 + (x1 - x0) * e, y0 + (y1 - y0) * e - 0.08 * std::sin(e * std::numbers::pi)});
    }
    return path;
}

} // namespace

std::shared_ptr<const SceneInstruction> demoInstruction(Size renderSize, Size screenSize) {
    Edits edits = demoEdits();
    ZoomPath zoom(edits.zooms, screenSize);
    std::vector<CursorKindSample> kinds{{0, "arrow"}, {2150, "pointingHand"}};
    std::vector<CursorSample> clicks{{2400, 2240.0 / 2880, 1105.0 / 1800}};
    return std::make_shared<const SceneInstruction>(
        platform::media::TimeRange{{0, 1000}, {10000, 1000}}, 1, std::nullopt, std::move(edits),
        renderSize, screenSize, SegmentMap{}, std::move(zoom), demoPointer(), std::move(kinds),
        std::move(clicks), std::vector<KeyChord>{}, true, nullptr, std::nullopt);
}

} // namespace qv::demo
