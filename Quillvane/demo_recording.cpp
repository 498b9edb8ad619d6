#include "demo_recording.h"
#include "Compositor/scene/cairo_paths.h"

#include "Cutbench/composition_builder.h"
#include "Handtrace/track_files.h"
#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/recording.h"
#include "platform/media/movie_writer.h"

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace qv::demo {

namespace {

// A keyframe every second: the preview and the frame command seek into these movies, and a seek
// decodes from the keyframe before the frame it wants.
std::pair<std::string, std::string> keyframeEverySecond(const RecordingOptions &o) {
    return {"g", std::to_string(std::max(o.framesPerSecond, 1))};
}

namespace fs = std::filesystem;
namespace media = platform::media;

constexpr int sampleRate = 48000;

// The script of the recording, in seconds and in fractions of the screen (origin top-left).
struct Script {
    double seconds;
    // Text typed into the editor, one character every `typeStep` seconds from `typeFrom`.
    std::string typed = "Quillvane turns raw recordings into polished videos. Zooms follow the "
                        "pointer; captions and masks come from the edit.";
    double typeFrom = 0.9, typeStep = 0.028;
    // The sign-in window is dragged by its title bar from `dragFrom` to `dragTo`.
    double dragStart = 0, dragEnd = 0;
    double windowX0 = 0.56, windowY0 = 0.22, windowX1 = 0.60, windowY1 = 0.42;
    double windowW = 0.34, windowH = 0.44;
    double clickIntoEditor = 0.6, clickButton = 0;

    explicit Script(double s) : seconds(s) {
        dragStart = s * 0.50;
        dragEnd = s * 0.68;
        clickButton = s * 0.82;
    }

    double windowX(double t) const { return windowX0 + (windowX1 - windowX0) * drag(t); }
    double windowY(double t) const { return windowY0 + (windowY1 - windowY0) * drag(t); }
    double drag(double t) const {
        const double f = std::clamp((t - dragStart) / (dragEnd - dragStart), 0.0, 1.0);
        return f * f * (3 - 2 * f);
    }
    std::size_t typedCount(double t) const {
        if (t < typeFrom) return 0;
        return std::min(typed.size(), static_cast<std::size_t>((t - typeFrom) / typeStep));
    }
    // Centre of the window's "Sign in" button and of its title bar.
    std::pair<double, double> button(double t) const {
        return {windowX(t) + windowW / 2, windowY(t) + windowH * 0.865};
    }
    std::pair<double, double> titleBar(double t) const {
        return {windowX(t) + windowW * 0.3, windowY(t) + 0.025};
    }

    // Pointer waypoints: into the editor, rest while typing, to the title bar, drag, to the
    // button, rest.
    std::pair<double, double> pointer(double t) const {
        struct Key {
            double t, x, y;
        };
        const auto [tbx, tby] = titleBar(dragStart);
        const auto [tex, tey] = titleBar(dragEnd);
        const auto [bx, by] = button(dragEnd);
        const Key keys[] = {
            {0.0, 0.48, 0.72},     {clickIntoEditor, 0.22, 0.30}, {dragStart - 0.5, 0.30, 0.34},
            {dragStart, tbx, tby}, {dragEnd, tex, tey},           {clickButton, bx, by},
            {seconds + 1, bx, by}};
        if (t >= dragStart && t <= dragEnd) return titleBar(t); // held on the title bar
        for (std::size_t k = 0; k + 1 < std::size(keys); ++k) {
            if (t > keys[k + 1].t) continue;
            const double f = std::clamp((t - keys[k].t) / (keys[k + 1].t - keys[k].t), 0.0, 1.0);
            const double e = f * f * (3 - 2 * f);
            return {keys[k].x + (keys[k + 1].x - keys[k].x) * e,
                    keys[k].y + (keys[k + 1].y - keys[k].y) * e};
        }
        return {bx, by};
    }
};

void label(cairo_t *cr, double x, double y, double size, const std::string &s, double grey,
           bool mono = false) {
    cairo_select_font_face(cr, mono ? "DejaVu Sans Mono" : "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s.c_str());
}

void windowFrame(cairo_t *cr, double x, double y, double w, double h, double u, const char *title) {
    SceneRenderer::roundedRectPath(cr, x + 0.4 * u, y + 0.8 * u, w, h, 1.2 * u);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.28);
    cairo_fill(cr);
    cairo_save(cr);
    SceneRenderer::roundedRectPath(cr, x, y, w, h, 1.2 * u);
    cairo_set_source_rgb(cr, 0.98, 0.98, 0.99);
    cairo_fill_preserve(cr);
    cairo_clip(cr);
    cairo_rectangle(cr, x, y, w, 4.4 * u);
    cairo_set_source_rgb(cr, 0.89, 0.90, 0.93);
    cairo_fill(cr);
    label(cr, x + 2 * u, y + 2.9 * u, 1.7 * u, title, 0.25);
    cairo_restore(cr);
}

// Desktop: wallpaper, menu bar, dock, and the editor window's frame.
void drawDesktop(cairo_t *cr, int W, int H, double u) {
    cairo_pattern_t *sky = cairo_pattern_create_linear(0, 0, W, H);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.13, 0.30, 0.52);
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.47, 0.27, 0.55);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);
    cairo_rectangle(cr, 0, 0, W, 3.2 * u);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.78);
    cairo_fill(cr);
    label(cr, 2 * u, 2.3 * u, 1.6 * u, "Files    Edit    View    Window    Help", 0.15);
    SceneRenderer::roundedRectPath(cr, W * 0.3, H - 8.5 * u, W * 0.4, 6.8 * u, 1.7 * u);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_fill(cr);
    const double icons[][3] = {{0.9, 0.3, 0.3},  {0.3, 0.7, 0.4}, {0.3, 0.5, 0.9},
                               {0.95, 0.7, 0.2}, {0.6, 0.4, 0.8}, {0.2, 0.7, 0.8}};
    for (int k = 0; k < 6; ++k) {
        SceneRenderer::roundedRectPath(cr, W * 0.3 + 2.6 * u + k * (W * 0.4 - 5.2 * u) / 6.0,
                                       H - 7.6 * u, 5 * u, 5 * u, 1.2 * u);
        cairo_set_source_rgb(cr, icons[k][0], icons[k][1], icons[k][2]);
        cairo_fill(cr);
    }
    windowFrame(cr, 0.06 * W, 0.12 * H, 0.50 * W, 0.70 * H, u, "notes.txt");
}

// The sign-in window as its own picture, so that each frame only places it. Its layout is in
// fractions of its height; the mask of the edit follows the password field (fieldTop to
// fieldTop + fieldHeight of the second field).
constexpr double fieldTop[] = {0.40, 0.62};
constexpr double fieldHeight = 0.12;

void drawSignIn(cairo_t *cr, double w, double h, double u) {
    windowFrame(cr, 0, 0, w, h, u, "Sign in");
    label(cr, 0.07 * w, 0.27 * h, 0.085 * h, "Welcome back", 0.15);
    const char *labels[] = {"Email", "Password"};
    const char *values[] = {"ada@example.org", "hunter2-secret"};
    for (int k = 0; k < 2; ++k) {
        const double y = fieldTop[k] * h;
        label(cr, 0.07 * w, y - 0.02 * h, 0.05 * h, labels[k], 0.35);
        SceneRenderer::roundedRectPath(cr, 0.07 * w, y, 0.86 * w, fieldHeight * h, 0.02 * h);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.75, 0.77, 0.8);
        cairo_set_line_width(cr, std::max(1.0, 0.006 * h));
        cairo_stroke(cr);
        label(cr, 0.10 * w, y + 0.085 * h, 0.06 * h, values[k], 0.2);
    }
    SceneRenderer::roundedRectPath(cr, 0.07 * w, 0.80 * h, 0.86 * w, 0.13 * h, 0.025 * h);
    cairo_set_source_rgb(cr, 0.22, 0.45, 0.95);
    cairo_fill(cr);
    label(cr, 0.40 * w, 0.885 * h, 0.065 * h, "Sign in", 1.0);
}

// The typed text, wrapped at word boundaries inside the editor, with a caret after it.
void drawTyping(cairo_t *cr, const std::string &text, int W, int H, double u, bool caret) {
    const double x0 = 0.06 * W + 2.4 * u, y0 = 0.12 * H + 8 * u, lineHeight = 2.6 * u;
    const double maxWidth = 0.50 * W - 4.8 * u;
    cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL,
                           CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 1.7 * u);
    auto width = [&](const std::string &s) {
        cairo_text_extents_t ext;
        cairo_text_extents(cr, s.c_str(), &ext);
        return ext.x_advance;
    };
    double y = y0;
    std::string line;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t next = text.find(' ', i);
        const std::string word =
            text.substr(i, next == std::string::npos ? std::string::npos : next - i + 1);
        if (!line.empty() && width(line + word) > maxWidth) {
            label(cr, x0, y, 1.7 * u, line, 0.18, true);
            line.clear();
            y += lineHeight;
        }
        line += word;
        i += word.size();
    }
    label(cr, x0, y, 1.7 * u, line, 0.18, true);
    if (caret) {
        const double x = x0 + width(line);
        cairo_rectangle(cr, x + 0.15 * u, y - 1.5 * u, 0.15 * u, 1.9 * u);
        cairo_set_source_rgb(cr, 0.2, 0.35, 0.9);
        cairo_fill(cr);
    }
}

// A short click: a decaying 2.6 kHz burst. Key taps are quieter and lower.
void addTick(std::vector<float> &sound, double at, double pitch, double level, double length) {
    const auto start = static_cast<std::int64_t>(at * sampleRate);
    const auto n = static_cast<std::int64_t>(length * sampleRate);
    for (std::int64_t i = 0; i < n && start + i < std::int64_t(sound.size()); ++i) {
        if (start + i < 0) continue;
        const double t = double(i) / sampleRate;
        sound[std::size_t(start + i)] +=
            float(level * std::exp(-t / (length / 4)) * std::sin(2 * std::numbers::pi * pitch * t));
    }
}

// --- The webcam: a person at a desk in a room, swaying and nodding a little ---

// The room behind the person: a warm wall, a window on the left, a shelf of books on the right.
void drawRoom(cairo_t *cr, double w, double h) {
    cairo_pattern_t *wall = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(wall, 0, 0.87, 0.83, 0.77);
    cairo_pattern_add_color_stop_rgb(wall, 1, 0.74, 0.70, 0.64);
    cairo_set_source(cr, wall);
    cairo_paint(cr);
    cairo_pattern_destroy(wall);
    const double u = h / 100;
    // The window: sky behind two panes.
    cairo_rectangle(cr, 6 * u, 10 * u, 34 * u, 42 * u);
    cairo_set_source_rgb(cr, 0.93, 0.93, 0.90);
    cairo_fill(cr);
    cairo_pattern_t *sky = cairo_pattern_create_linear(0, 12 * u, 0, 50 * u);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.55, 0.74, 0.92);
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.82, 0.90, 0.96);
    cairo_set_source(cr, sky);
    cairo_rectangle(cr, 8 * u, 12 * u, 14 * u, 38 * u);
    cairo_rectangle(cr, 24 * u, 12 * u, 14 * u, 38 * u);
    cairo_fill(cr);
    cairo_pattern_destroy(sky);
    // The shelf and its books.
    cairo_rectangle(cr, w - 40 * u, 30 * u, 34 * u, 2 * u);
    cairo_set_source_rgb(cr, 0.45, 0.30, 0.18);
    cairo_fill(cr);
    const double books[][4] = {{0.62, 0.18, 0.16, 14}, {0.20, 0.38, 0.58, 17},
                               {0.85, 0.66, 0.22, 12}, {0.30, 0.52, 0.34, 16},
                               {0.52, 0.28, 0.50, 15}, {0.75, 0.42, 0.20, 13}};
    double x = w - 38 * u;
    for (const auto &b : books) {
        cairo_rectangle(cr, x, 30 * u - b[3] * u, 4 * u, b[3] * u);
        cairo_set_source_rgb(cr, b[0], b[1], b[2]);
        cairo_fill(cr);
        x += 5 * u;
    }
}

// Head and shoulders at time t (seconds), drawn over the room.
void drawPerson(cairo_t *cr, double w, double h, double t) {
    const double u = h / 100;
    const double cx = w / 2 + 2.5 * u * std::sin(2 * std::numbers::pi * t / 5.2);
    const double nod = 0.8 * u * std::sin(2 * std::numbers::pi * t / 2.3);
    const double tilt = 0.03 * std::sin(2 * std::numbers::pi * t / 4.1);
    // Shoulders and sweater, running off the bottom edge.
    cairo_move_to(cr, cx - 40 * u, h);
    cairo_curve_to(cr, cx - 38 * u, 80 * u, cx - 30 * u, 71 * u, cx - 9 * u, 69 * u);
    cairo_line_to(cr, cx + 9 * u, 69 * u);
    cairo_curve_to(cr, cx + 30 * u, 71 * u, cx + 38 * u, 80 * u, cx + 40 * u, h);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.20, 0.34, 0.52);
    cairo_fill(cr);
    // Neck, with the collar's V below it.
    cairo_rectangle(cr, cx - 5.5 * u, 56 * u + nod, 11 * u, 15 * u - nod);
    cairo_set_source_rgb(cr, 0.80, 0.60, 0.47);
    cairo_fill(cr);
    cairo_move_to(cr, cx - 8 * u, 69 * u);
    cairo_line_to(cr, cx, 78 * u);
    cairo_line_to(cr, cx + 8 * u, 69 * u);
    cairo_set_source_rgb(cr, 0.14, 0.25, 0.40);
    cairo_set_line_width(cr, 1.6 * u);
    cairo_stroke(cr);

    cairo_save(cr);
    cairo_translate(cr, cx, 42 * u + nod);
    cairo_rotate(cr, tilt);
    auto ellipse = [cr](double x, double y, double rx, double ry) {
        cairo_save(cr);
        cairo_translate(cr, x, y);
        cairo_scale(cr, rx, ry);
        cairo_new_sub_path(cr);
        cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_restore(cr);
    };
    // Ears, face, hair.
    ellipse(-11.8 * u, 1 * u, 2.2 * u, 3.6 * u);
    ellipse(11.8 * u, 1 * u, 2.2 * u, 3.6 * u);
    cairo_set_source_rgb(cr, 0.86, 0.66, 0.53);
    cairo_fill(cr);
    ellipse(0, 0, 12 * u, 15.5 * u);
    cairo_set_source_rgb(cr, 0.91, 0.72, 0.60);
    cairo_fill(cr);
    cairo_move_to(cr, -12.6 * u, 1 * u);
    cairo_curve_to(cr, -14 * u, -22 * u, 14 * u, -22 * u, 12.6 * u, 1 * u);
    cairo_curve_to(cr, 11 * u, -8 * u, 4 * u, -10 * u, -3 * u, -9 * u);
    cairo_curve_to(cr, -9 * u, -8 * u, -11 * u, -5 * u, -12.6 * u, 1 * u);
    cairo_set_source_rgb(cr, 0.26, 0.17, 0.11);
    cairo_fill(cr);
    // Eyes (closed for a moment every few seconds), brows, mouth.
    const bool blink = std::fmod(t, 3.7) < 0.12;
    for (double side : {-1.0, 1.0}) {
        ellipse(side * 4.4 * u, 0.5 * u, 1.3 * u, blink ? 0.25 * u : 1.1 * u);
        cairo_set_source_rgb(cr, 0.17, 0.12, 0.10);
        cairo_fill(cr);
        cairo_move_to(cr, side * 2.6 * u, -2.6 * u);
        cairo_line_to(cr, side * 6.4 * u, -3.0 * u);
        cairo_set_line_width(cr, 0.8 * u);
        cairo_stroke(cr);
    }
    cairo_arc(cr, 0, 5.5 * u, 4 * u, 0.2 * std::numbers::pi, 0.8 * std::numbers::pi);
    cairo_set_source_rgb(cr, 0.62, 0.30, 0.28);
    cairo_set_line_width(cr, 0.9 * u);
    cairo_stroke(cr);
    cairo_restore(cr);
}

// The camera is 1280 × 720 (smaller for a small demo: never larger than the screen's height),
// as long as the screen, so that the export never has to hold a first or last frame.
Status writeWebcam(const fs::path &file, const RecordingOptions &o) {
    const int h = std::min(720, o.height) & ~1;
    const int w = (h * 16 / 9) & ~1;
    auto room = platform::PixelBuffer::create(w, h, platform::PixelFormat::bgra8);
    auto frame = platform::PixelBuffer::create(w, h, platform::PixelFormat::bgra8);
    if (!room || !frame) return Error{"out of memory for the demo webcam frames"};
    {
        SceneRenderer::CairoCanvas c(*room);
        drawRoom(c.get(), w, h);
        if (!c.ok()) return Error{file.string() + ": cannot draw the demo webcam's room"};
    }
    media::MovieWriter::Settings video;
    video.width = w;
    video.height = h;
    video.frameDuration = {1, o.framesPerSecond};
    video.video = {
        "libx264", "nv12", {{"preset", "veryfast"}, {"crf", "20"}, keyframeEverySecond(o)}, "", 0};
    auto writer = media::MovieWriter::create(file, video);
    if (!writer) return writer.error();
    const int frames = o.seconds * o.framesPerSecond;
    for (int i = 0; i < frames; ++i) {
        std::memcpy(frame->baseAddress(), room->baseAddress(), room->bytesPerRow() * h);
        {
            SceneRenderer::CairoCanvas c(*frame);
            drawPerson(c.get(), w, h, double(i) / o.framesPerSecond);
            if (!c.ok()) return Error{file.string() + ": cannot draw a demo webcam frame"};
        }
        if (auto st = (*writer)->appendVideo(*frame); !st) return st;
    }
    return (*writer)->finish();
}

Edits demoEdits(const Script &s, std::int64_t durationMs) {
    Edits e = Edits::defaults();
    e.scene.backgroundKind = Edits::BackgroundKind::wallpaper;
    e.scene.wallpaperId = "aurora";
    e.scene.paddingPercent = 7;
    e.scene.frameRadius = 18;
    e.scene.chromeStyle = Edits::ChromeStyle::minimal;
    e.scene.clickEffect = Edits::ClickEffect::ripple;
    e.trimStartMs = 300;
    e.trimEndMs = durationMs - 300;
    // An automatic zoom while typing: the builder centres it on the pointer.
    e.zooms.push_back({std::int64_t(s.typeFrom * 1000), std::int64_t((s.dragStart - 1.2) * 1000),
                       1.8, 0, 0.5, 0.5});
    e.captions.push_back({"c1", std::int64_t(s.typeFrom * 1000),
                          std::int64_t((s.typeFrom + 2.2) * 1000), "Type notes as you record",
                          std::nullopt});
    e.captions.push_back({"c2", std::int64_t(s.dragStart * 1000),
                          std::int64_t(s.clickButton * 1000), "Drag the window aside",
                          std::nullopt});
    // The password field, followed while the window moves.
    Edits::Mask mask;
    mask.id = "password";
    mask.startMs = 0;
    mask.endMs = durationMs;
    mask.style = Edits::MaskStyle::solid;
    // Keyframes every twelfth of the drag: the mask moves linearly between them.
    for (int k = 0; k <= 12; ++k) {
        const double t = s.dragStart + (s.dragEnd - s.dragStart) * k / 12;
        mask.keyframes.push_back({std::int64_t(t * 1000), s.windowX(t) + 0.07 * s.windowW,
                                  s.windowY(t) + fieldTop[1] * s.windowH, 0.86 * s.windowW,
                                  fieldHeight * s.windowH});
    }
    e.masks.push_back(mask);
    // The webcam: a round bubble in the bottom-right corner that grows to a large centred picture
    // after the typing and shrinks back into the corner before the window is dragged.
    e.scene.webcamPosition = Edits::WebcamPosition::cornerBR;
    e.scene.webcamShape = Edits::WebcamShape::circle;
    e.scene.webcamSize = 0.24;
    e.scene.webcamTransitionMs = 400;
    e.cameraBlocks.push_back({"talk", std::int64_t(s.seconds * 360), std::int64_t(s.seconds * 470),
                              Edits::WebcamPosition::full, Edits::WebcamShape::roundedSquare,
                              0.34});
    return e;
}

} // namespace

Status writeRecording(const fs::path &folder, const RecordingOptions &o) {
    if (o.width < 64 || o.height < 64 || o.width % 2 || o.height % 2)
        return Error{"the demo recording needs an even size of at least 64x64"};
    if (o.seconds < 4 || o.framesPerSecond < 1) return Error{"the demo needs at least 4 seconds"};
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return Error{folder.string() + ": cannot create the folder: " + ec.message()};

    const int W = o.width, H = o.height;
    const double u = H / 60.0; // one layout unit
    const Script script(o.seconds);
    const std::int64_t durationMs = std::int64_t(o.seconds) * 1000;
    const int frames = o.seconds * o.framesPerSecond;

    // The static parts, drawn once.
    auto desktop = platform::PixelBuffer::create(W, H, platform::PixelFormat::bgra8);
    const int winW = int(script.windowW * W), winH = int(script.windowH * H);
    auto signIn = platform::PixelBuffer::create(winW, winH, platform::PixelFormat::bgra8);
    auto frame = platform::PixelBuffer::create(W, H, platform::PixelFormat::bgra8);
    if (!desktop || !signIn || !frame) return Error{"out of memory for the demo frames"};
    auto surfaceOf = [](platform::PixelBuffer &pb) {
        return cairo_image_surface_create_for_data(pb.baseAddress(), CAIRO_FORMAT_ARGB32,
                                                   pb.width(), pb.height(),
                                                   static_cast<int>(pb.bytesPerRow()));
    };
    cairo_surface_t *desktopSurface = surfaceOf(*desktop);
    cairo_t *cr = cairo_create(desktopSurface);
    drawDesktop(cr, W, H, u);
    cairo_destroy(cr);
    cairo_surface_t *signInSurface = surfaceOf(*signIn);
    cr = cairo_create(signInSurface);
    drawSignIn(cr, winW, winH, u);
    cairo_destroy(cr);

    media::MovieWriter::Settings video;
    video.width = W;
    video.height = H;
    video.frameDuration = {1, o.framesPerSecond};
    video.video = {
        "libx264", "nv12", {{"preset", "veryfast"}, {"crf", "16"}, keyframeEverySecond(o)}, "", 0};
    auto writer = media::MovieWriter::create(folder / RecordingFiles::screen, video);
    if (!writer) {
        cairo_surface_destroy(desktopSurface);
        cairo_surface_destroy(signInSurface);
        return writer.error();
    }
    cairo_surface_t *frameSurface = surfaceOf(*frame);
    Status status = Ok{};
    for (int i = 0; i < frames && status; ++i) {
        const double t = double(i) / o.framesPerSecond;
        cr = cairo_create(frameSurface);
        cairo_set_source_surface(cr, desktopSurface, 0, 0);
        cairo_paint(cr);
        const std::size_t typed = script.typedCount(t);
        drawTyping(cr, script.typed.substr(0, typed), W, H, u, std::fmod(t, 1.0) < 0.6);
        cairo_set_source_surface(cr, signInSurface, script.windowX(t) * W, script.windowY(t) * H);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(frameSurface);
        status = (*writer)->appendVideo(*frame);
    }
    cairo_surface_destroy(frameSurface);
    cairo_surface_destroy(desktopSurface);
    cairo_surface_destroy(signInSurface);
    if (status) status = (*writer)->finish();
    if (!status) return status;

    if (auto st = writeWebcam(folder / RecordingFiles::webcam, o); !st) return st;

    // The microphone: clicks and key taps.
    std::vector<float> sound(std::size_t(durationMs) * sampleRate / 1000, 0.0f);
    const double clicks[] = {script.clickIntoEditor, script.dragStart, script.clickButton};
    for (double at : clicks) addTick(sound, at, 2600, 0.6, 0.05);
    for (std::size_t k = 0; k < script.typed.size(); ++k)
        addTick(sound, script.typeFrom + k * script.typeStep, 900, 0.12, 0.02);
    media::MovieWriter::Settings audio;
    audio.video.codec.clear();
    audio.audio = media::AudioEncoderSettings{"aac", 96000};
    audio.audioChannels = 1;
    auto mic = media::MovieWriter::create(folder / RecordingFiles::microphone, audio);
    if (!mic) return mic.error();
    const float *plane = sound.data();
    if (auto st = (*mic)->appendAudio(&plane, int(sound.size())); !st) return st;
    if (auto st = (*mic)->finish(); !st) return st;

    // The tracks, in the recorder's units: points from the capture's top-left.
    ClicksFile clicksFile;
    CursorFile cursorFile;
    KeysFile keysFile;
    for (std::int64_t ms = 0; ms < durationMs; ms += 16) {
        const auto [x, y] = script.pointer(ms / 1000.0);
        cursorFile.samples.push_back({ms, x * W, y * H, double(W), double(H), "1"});
    }
    cursorFile.kinds.push_back({0, "arrow"});
    cursorFile.kinds.push_back({std::int64_t(script.clickIntoEditor * 1000) - 100, "iBeam"});
    cursorFile.kinds.push_back({std::int64_t(script.dragStart * 1000) - 300, "arrow"});
    cursorFile.kinds.push_back({std::int64_t(script.clickButton * 1000) - 250, "pointingHand"});
    for (double at : clicks) {
        const auto [x, y] = script.pointer(at);
        clicksFile.clicks.push_back(
            {std::int64_t(at * 1000), x * W, y * H, double(W), double(H), "1", "left"});
    }
    keysFile.keys.push_back({std::int64_t((script.typeFrom + 1.6) * 1000), "⌘B"});
    keysFile.keys.push_back({std::int64_t((script.dragStart - 0.4) * 1000), "⌘S"});
    keysFile.keys.push_back({std::int64_t((script.clickButton + 0.4) * 1000), "⏎"});
    if (auto written = writeTrackFiles(folder, clicksFile, cursorFile, keysFile); !written)
        return written.error();

    RecordingMeta meta;
    // The library finds a recording by its folder's name.
    meta.id = RecordingStore::idForFolder(folder);
    meta.createdAtMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    meta.durationMs = durationMs;
    meta.sourceName = "Demo Desktop";
    meta.width = W;
    meta.height = H;
    meta.hasWebcam = true;
    meta.hasMicrophone = true;
    meta.cursorSynthetic = true;
    if (auto st = meta.write(folder); !st) return st;

    const fs::path editsFile = folder / "edits.json";
    if (o.withEdits) return demoEdits(script, durationMs).write(editsFile);
    fs::remove(editsFile, ec);
    return Ok{};
}

} // namespace qv::demo
