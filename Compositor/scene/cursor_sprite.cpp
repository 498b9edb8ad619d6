// Cursor sprites drawn with Cairo from the shape and glyph tables, cached per style.
#include "Compositor/assets/system_cursor_bitmaps.h"
#include "Compositor/scene/cairo_paths.h"
#include "Compositor/scene/cursor_frame.h"
#include "Compositor/scene/hex_color.h"
#include "platform/image/float_image.h"
#include "platform/image/image_ops.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <unordered_map>
#include <vector>

namespace qv::SceneRenderer {

namespace {

enum class Mode { area, line };

struct RoundRect {
    double x, y, w, h, r;
};
struct Segment {
    double x0, y0, x1, y1;
};

// One drawing in design units, y down from the top-left.
struct Drawing {
    double width = 0, height = 0;
    double hotX = 0, hotY = 0;
    Mode mode = Mode::area;
    std::vector<std::pair<double, double>> polygon; // closed
    std::vector<RoundRect> roundRects;
    std::vector<Segment> segments;
    std::vector<RoundRect> ellipses; // x, y, w, h of the bounding box (r unused)
    bool heart = false;
};

Drawing base(double w, double h, double hotX, double hotY, Mode mode) {
    Drawing d;
    d.width = w, d.height = h, d.hotX = hotX, d.hotY = hotY, d.mode = mode;
    return d;
}

std::vector<std::pair<double, double>>
scaled(std::initializer_list<std::pair<double, double>> pts) {
    std::vector<std::pair<double, double>> out;
    for (auto [x, y] : pts) out.emplace_back(x * 240, y * 240);
    return out;
}

const std::vector<Segment> kCrosshairSegments = {{0, 74.4, 50.592, 74.4},
                                                 {98.208, 74.4, 148.8, 74.4},
                                                 {74.4, 0, 74.4, 50.592},
                                                 {74.4, 98.208, 74.4, 148.8}};

Drawing shapeDrawing(Edits::CursorShape shape) {
    Drawing d;
    switch (shape) {
    case Edits::CursorShape::arrow:
        d = base(149.28, 240, 0, 0, Mode::area);
        d.polygon = {{0, 0},           {0, 208.8},      {52.32, 156.72}, {87.12, 240},
                     {119.28, 225.12}, {84.48, 144.24}, {149.28, 144.24}};
        break;
    case Edits::CursorShape::heart:
        d = base(124.8, 124.8, 62.4, 62.4, Mode::area);
        d.heart = true;
        break;
    case Edits::CursorShape::dot:
        d = base(100.8, 100.8, 50.4, 50.4, Mode::area);
        d.ellipses = {{0, 0, 100.8, 100.8, 0}};
        break;
    case Edits::CursorShape::ring:
        d = base(124.8, 124.8, 62.4, 62.4, Mode::line);
        d.ellipses = {{19.968, 19.968, 84.864, 84.864, 0}};
        break;
    case Edits::CursorShape::crosshair:
        d = base(148.8, 148.8, 74.4, 74.4, Mode::line);
        d.segments = kCrosshairSegments;
        break;
    }
    return d;
}

Drawing glyphDrawing(SystemGlyph glyph) {
    Drawing d;
    switch (glyph) {
    case SystemGlyph::pointingHand:
        d = base(177.6, 240, 91.2, 4.8, Mode::area);
        d.roundRects = {{72, 0, 38.4, 129.6, 19.2},
                        {38.4, 100.8, 129.6, 139.2, 33.6},
                        {9.6, 120, 43.2, 72, 19.2}};
        break;
    case SystemGlyph::iBeam:
        d = base(96, 240, 48, 120, Mode::area);
        d.polygon = scaled({{0, 0},
                            {0.4, 0},
                            {0.4, 0.11},
                            {0.26, 0.11},
                            {0.26, 0.89},
                            {0.4, 0.89},
                            {0.4, 1},
                            {0, 1},
                            {0, 0.89},
                            {0.14, 0.89},
                            {0.14, 0.11},
                            {0, 0.11}});
        break;
    case SystemGlyph::iBeamVertical:
        d = base(240, 96, 120, 48, Mode::area);
        d.polygon = scaled({{0, 0.4},
                            {0, 0},
                            {0.11, 0},
                            {0.11, 0.14},
                            {0.89, 0.14},
                            {0.89, 0},
                            {1, 0},
                            {1, 0.4},
                            {0.89, 0.4},
                            {0.89, 0.26},
                            {0.11, 0.26},
                            {0.11, 0.4}});
        break;
    case SystemGlyph::openHand:
        d = base(211.2, 225.6, 105.6, 112.8, Mode::area);
        d.roundRects = {{38.4, 100.8, 163.2, 124.8, 38.4}};
        for (double x : {48.0, 86.4, 124.8, 163.2})
            d.roundRects.push_back({x, 14.4, 31.2, 105.6, 15.6});
        d.roundRects.push_back({4.8, 110.4, 43.2, 67.2, 19.2});
        break;
    case SystemGlyph::closedHand:
        d = base(192, 187.2, 96, 93.6, Mode::area);
        d.roundRects = {{28.8, 52.8, 153.6, 134.4, 38.4}};
        for (double x : {33.6, 72.0, 110.4, 146.4})
            d.roundRects.push_back({x, 28.8, 36, 43.2, 16.8});
        d.roundRects.push_back({144, 81.6, 48, 52.8, 19.2});
        break;
    case SystemGlyph::crosshair:
        d = base(148.8, 148.8, 74.4, 74.4, Mode::line);
        d.segments = kCrosshairSegments;
        break;
    case SystemGlyph::resizeH:
        d = base(240, 120, 120, 60, Mode::area);
        d.polygon = scaled({{0, 0.25},
                            {0.2, 0.06},
                            {0.2, 0.18},
                            {0.8, 0.18},
                            {0.8, 0.06},
                            {1, 0.25},
                            {0.8, 0.44},
                            {0.8, 0.32},
                            {0.2, 0.32},
                            {0.2, 0.44}});
        break;
    case SystemGlyph::resizeV:
        d = base(120, 240, 60, 120, Mode::area);
        d.polygon = scaled({{0.25, 0},
                            {0.06, 0.2},
                            {0.18, 0.2},
                            {0.18, 0.8},
                            {0.06, 0.8},
                            {0.25, 1},
                            {0.44, 0.8},
                            {0.32, 0.8},
                            {0.32, 0.2},
                            {0.44, 0.2}});
        break;
    case SystemGlyph::notAllowed:
        d = base(148.8, 148.8, 74.4, 74.4, Mode::line);
        d.ellipses = {{11.904, 11.904, 124.992, 124.992, 0}};
        d.segments = {{32.736, 32.736, 116.064, 116.064}};
        break;
    }
    return d;
}

void tracePath(cairo_t *cr, const Drawing &d) {
    cairo_new_path(cr);
    if (!d.polygon.empty()) {
        cairo_move_to(cr, d.polygon[0].first, d.polygon[0].second);
        for (std::size_t i = 1; i < d.polygon.size(); ++i)
            cairo_line_to(cr, d.polygon[i].first, d.polygon[i].second);
        cairo_close_path(cr);
    }
    const double pi = std::numbers::pi;
    for (const RoundRect &r : d.roundRects) roundedRectPath(cr, r.x, r.y, r.w, r.h, r.r);
    for (const RoundRect &e : d.ellipses) {
        cairo_new_sub_path(cr);
        cairo_save(cr);
        cairo_translate(cr, e.x + e.w / 2, e.y + e.h / 2);
        cairo_scale(cr, e.w / 2, e.h / 2);
        cairo_arc(cr, 0, 0, 1, 0, 2 * pi);
        cairo_restore(cr);
        cairo_close_path(cr);
    }
    for (const Segment &s : d.segments) {
        cairo_move_to(cr, s.x0, s.y0);
        cairo_line_to(cr, s.x1, s.y1);
    }
    if (d.heart) {
        cairo_move_to(cr, 62.4, 107.328);
        cairo_curve_to(cr, 42.432, 83.616, 3.744, 67.392, 3.744, 42.432);
        cairo_curve_to(cr, 3.744, 13.728, 49.92, 13.728, 62.4, 19.968);
        cairo_curve_to(cr, 74.88, 13.728, 121.056, 13.728, 121.056, 42.432);
        cairo_curve_to(cr, 121.056, 67.392, 82.368, 83.616, 62.4, 107.328);
        cairo_close_path(cr);
    }
}

struct Style {
    bool filled, outline, shadow;
    SceneRenderer::RGB fill, outlineColor;
};

// One element of the drawing, in the order the sprite is built. `first` selects the element
// the shadow is cast by.
void drawElements(cairo_t *cr, const Drawing &d, const Style &s, bool firstOnly) {
    auto colour = [&](const SceneRenderer::RGB &c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); };
    auto stroke = [&](double width, const SceneRenderer::RGB &c) {
        tracePath(cr, d);
        colour(c);
        cairo_set_line_width(cr, width);
        cairo_stroke(cr);
    };
    auto body = [&] {
        if (s.filled) {
            tracePath(cr, d);
            colour(s.fill);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
            cairo_fill(cr);
        } else {
            stroke(12, s.fill);
        }
    };
    if (d.mode == Mode::line) {
        if (s.outline) {
            stroke(49.2, s.outlineColor);
            if (firstOnly) return;
        }
        stroke(20.4, s.fill);
        return;
    }
    body();
    if (firstOnly) return;
    if (s.outline) {
        // The outline is stroked over the shape and the shape drawn again, so it shows only
        // outside the shape.
        stroke(28.8, s.outlineColor);
        body();
    }
}

const platform::ImageRef &emptyImage() {
    static const platform::ImageRef empty =
        platform::Image::make(platform::PixelBuffer::create(1, 1, platform::PixelFormat::bgra8));
    return empty;
}

cairo_t *contextFor(cairo_surface_t *surface, double m) {
    cairo_t *cr = cairo_create(surface);
    cairo_translate(cr, m, m);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    return cr;
}

// The shadow of the first element: its alpha, blurred, in black at 0.55, 7.2 pixels down.
void drawShadow(cairo_t *target, const Drawing &d, const Style &s, int W, int H, double m) {
    cairo_surface_t *mask = cairo_image_surface_create(CAIRO_FORMAT_A8, W, H);
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(mask);
        return;
    }
    cairo_t *cr = contextFor(mask, m);
    drawElements(cr, d, s, true);
    cairo_destroy(cr);
    cairo_surface_flush(mask);
    // A blur of 24 spreads like a Gaussian of standard deviation 12.
    std::uint8_t *data = cairo_image_surface_get_data(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    platform::FloatImage alpha = platform::FloatImage::make(0, 0, W, H, 1);
    if (!alpha.empty()) {
        for (int j = 0; j < H; ++j)
            for (int i = 0; i < W; ++i) alpha.row(j)[i] = data[j * stride + i] / 255.0f;
        const platform::FloatImage blurred =
            platform::gaussianBlur(alpha, 24.0 / 2, platform::EdgeMode::clamp);
        for (int j = 0; j < H; ++j)
            for (int i = 0; i < W; ++i)
                data[j * stride + i] = static_cast<std::uint8_t>(
                    std::lround(std::clamp(blurred.row(j)[i], 0.0f, 1.0f) * 255));
    }
    cairo_surface_mark_dirty(mask);
    cairo_save(target);
    cairo_identity_matrix(target);
    cairo_set_source_rgba(target, 0, 0, 0, 0.55);
    cairo_mask_surface(target, mask, 0, 7.2);
    cairo_restore(target);
    cairo_surface_destroy(mask);
}

CursorSprite renderSprite(const Drawing &d, const Style &s) {
    const double m = std::ceil((s.outline ? 14.4 : 0) + (s.shadow ? 24 : 0) + 4);
    const double fw = std::ceil(2 * m + d.width), fh = std::ceil(2 * m + d.height);
    if (!std::isfinite(fw) || !std::isfinite(fh) || fw < 1 || fh < 1 || fw > 4096 || fh > 4096)
        return {emptyImage(), 0, 0};
    const int W = static_cast<int>(fw), H = static_cast<int>(fh);
    auto pb = platform::PixelBuffer::create(W, H, platform::PixelFormat::bgra8);
    if (!pb) return {emptyImage(), 0, 0};
    cairo_surface_t *surface = cairo_image_surface_create_for_data(
        pb->baseAddress(), CAIRO_FORMAT_ARGB32, W, H, static_cast<int>(pb->bytesPerRow()));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return {emptyImage(), 0, 0};
    }
    cairo_t *cr = contextFor(surface, m);
    if (s.shadow) drawShadow(cr, d, s, W, H, m);
    drawElements(cr, d, s, false);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    return {platform::Image::make(std::move(pb)), (m + d.hotX) / W, (m + d.hotY) / H};
}

struct CursorKey {
    Edits::CursorShape shape;
    std::optional<SystemGlyph> system;
    bool filled;
    std::string fill;
    bool outline;
    std::string outlineColor;
    bool shadow;
    friend bool operator==(const CursorKey &, const CursorKey &) = default;
};

struct CursorKeyHash {
    std::size_t operator()(const CursorKey &k) const noexcept {
        std::size_t h = std::hash<std::string_view>{}(rawValue(k.shape));
        auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
        mix(k.system ? static_cast<std::size_t>(*k.system) + 1 : 0);
        mix(k.filled);
        mix(std::hash<std::string>{}(k.fill));
        mix(k.outline);
        mix(std::hash<std::string>{}(k.outlineColor));
        mix(k.shadow);
        return h;
    }
};

struct SpriteCache {
    std::mutex mutex;
    std::unordered_map<CursorKey, CursorSprite, CursorKeyHash> entries;
    int renders = 0;
};

SpriteCache &spriteCache() {
    static SpriteCache cache;
    return cache;
}

} // namespace

CursorSprite cursorSprite(const Edits::Scene &style, std::optional<SystemGlyph> glyph) {
    if (glyph) {
        // Registered system artwork is drawn as it is: no shape, colours, outline or shadow.
        if (auto e = SystemCursorBitmaps::entry(glyphName(*glyph)); e && e->image)
            return {e->image, e->hotspot.x, e->hotspot.y};
    }
    const CursorKey key{style.cursorShape,   glyph,
                        style.cursorFilled,  style.cursorFill,
                        style.cursorOutline, style.cursorOutlineColor,
                        style.cursorShadow};
    SpriteCache &cache = spriteCache();
    // Held while rendering, so that each style is drawn once.
    std::lock_guard lock(cache.mutex);
    if (auto it = cache.entries.find(key); it != cache.entries.end()) return it->second;
    const Style s{style.cursorFilled, style.cursorOutline, style.cursorShadow,
                  hexColor(style.cursorFill), hexColor(style.cursorOutlineColor)};
    CursorSprite sprite =
        renderSprite(glyph ? glyphDrawing(*glyph) : shapeDrawing(style.cursorShape), s);
    ++cache.renders;
    cache.entries.emplace(key, sprite);
    return sprite;
}

int cursorSpriteRenderCount() {
    SpriteCache &cache = spriteCache();
    std::lock_guard lock(cache.mutex);
    return cache.renders;
}

} // namespace qv::SceneRenderer
