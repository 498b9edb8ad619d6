#include "Compositor/scene/dynamic_overlay.h"

#include "Compositor/engine/scene_instruction.h"
#include "Compositor/scene/cairo_paths.h"
#include "Compositor/scene/chrome_cache.h"
#include "platform/core/log.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

namespace qv::SceneRenderer {

namespace {

using platform::ImageRef;
using platform::PixelBuffer;
using platform::PixelFormat;

const platform::Logger &overlayLog() {
    static const platform::Logger log("com.quillvane.compositor", "overlay");
    return log;
}

constexpr std::string_view kKeystrokeFont = "Menlo-Bold";
constexpr std::string_view kCaptionFont = "HelveticaNeue-Bold";

struct FontMapping {
    std::string_view designName;
    const char *families; // Pango's comma-separated preference list
    const char *package;  // where the first family comes from, for the error message
};
constexpr FontMapping kFonts[] = {
    {kKeystrokeFont, "DejaVu Sans Mono", "fonts-dejavu-core"},
    {kCaptionFont, "Nimbus Sans,Liberation Sans", "fonts-urw-base35"},
};

const FontMapping *mappingFor(std::string_view designName) {
    for (const FontMapping &f : kFonts)
        if (f.designName == designName) return &f;
    return nullptr;
}

template <class T, void (*Free)(T *)> struct Deleter {
    void operator()(T *p) const { Free(p); }
};
template <class T> void unrefObject(T *p) {
    g_object_unref(p);
}
using FontDescription = std::unique_ptr<PangoFontDescription,
                                        Deleter<PangoFontDescription, pango_font_description_free>>;
using Context = std::unique_ptr<PangoContext, Deleter<PangoContext, unrefObject<PangoContext>>>;
using Layout = std::unique_ptr<PangoLayout, Deleter<PangoLayout, unrefObject<PangoLayout>>>;
using Font = std::unique_ptr<PangoFont, Deleter<PangoFont, unrefObject<PangoFont>>>;

FontDescription describe(const FontMapping &font, double px) {
    FontDescription d(pango_font_description_new());
    pango_font_description_set_family(d.get(), font.families);
    pango_font_description_set_weight(d.get(), PANGO_WEIGHT_BOLD);
    pango_font_description_set_style(d.get(), PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(d.get(), px * PANGO_SCALE);
    return d;
}

// A context on the calling thread's font map with unhinted metrics and unrounded glyph
// positions, so that measured widths scale with the font size.
Context newContext() {
    PangoFontMap *map = pango_cairo_font_map_get_default();
    if (!map) return nullptr;
    Context ctx(pango_font_map_create_context(map));
    if (!ctx) return nullptr;
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(ctx.get(), options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(ctx.get(), 72);
    pango_context_set_round_glyph_positions(ctx.get(), FALSE);
    return ctx;
}

std::optional<ResolvedFace> resolve(PangoContext *ctx, const FontMapping &font) {
    const FontDescription d = describe(font, 20);
    Font loaded(pango_context_load_font(ctx, d.get()));
    if (!loaded) return std::nullopt;
    FontDescription got(pango_font_describe(loaded.get()));
    ResolvedFace face;
    if (const char *family = pango_font_description_get_family(got.get())) face.family = family;
    face.weight = int(pango_font_description_get_weight(got.get()));
    if (PangoFontFace *ff = pango_font_get_face(loaded.get()))
        if (PangoFontFamily *fam = pango_font_face_get_family(ff))
            face.monospace = pango_font_family_is_monospace(fam);
    return face;
}

// Says once per font, in the log, when the mapped family is not what Pango found: the badges
// are then drawn in whatever face fontconfig substituted.
void checkInstalled(PangoContext *ctx, const FontMapping &font) {
    static std::mutex mutex;
    static bool checked[std::size(kFonts)] = {};
    const std::size_t index = std::size_t(&font - kFonts);
    std::lock_guard lock(mutex);
    if (checked[index]) return;
    checked[index] = true;
    const auto face = resolve(ctx, font);
    const std::string wanted = font.families;
    const bool found = face && !face->family.empty() &&
                       ("," + wanted + ",").find("," + face->family + ",") != std::string::npos &&
                       face->weight >= PANGO_WEIGHT_BOLD;
    if (!found)
        overlayLog().error("the font for '%.*s' (%s Bold, package %s) is not installed; badges "
                           "use '%s' instead",
                           int(font.designName.size()), font.designName.data(), font.families,
                           font.package, face ? face->family.c_str() : "no font");
}

// A single line of text laid out at `px` pixels with the letter spacing `spacing`.
struct Line {
    Layout layout;
    double width = 0, ascent = 0, descent = 0, baseline = 0; // baseline: from the layout's top
};

std::optional<Line> layOut(PangoContext *ctx, const FontMapping &font, std::string_view text,
                           double px, double spacing) {
    if (!(px > 0) || !std::isfinite(px)) return std::nullopt;
    Line line;
    line.layout.reset(pango_layout_new(ctx));
    if (!line.layout) return std::nullopt;
    PangoLayout *layout = line.layout.get();
    const FontDescription d = describe(font, px);
    pango_layout_set_font_description(layout, d.get());
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_width(layout, -1);
    pango_layout_set_text(layout, text.data(), int(text.size()));
    if (spacing != 0) {
        PangoAttrList *attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(int(spacing * PANGO_SCALE)));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    // Pango spaces letters between glyphs only: its width is the typographic width without the
    // trailing step.
    PangoLayoutLine *first = pango_layout_get_line_readonly(layout, 0);
    if (!first) return std::nullopt;
    PangoRectangle logical;
    pango_layout_line_get_extents(first, nullptr, &logical);
    line.width = double(logical.width) / PANGO_SCALE;
    line.ascent = -double(logical.y) / PANGO_SCALE;
    line.descent = double(logical.height + logical.y) / PANGO_SCALE;
    line.baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
    return line;
}

struct Fill {
    double r, g, b, a;
};

// A bw × bh bitmap: the rounded rectangle over all of it, then the line with its baseline at
// (x, baselineUp) measured from the bitmap's bottom-left.
ImageRef drawBadge(int bw, int bh, double radius, Fill fill, const Line &line, double x,
                   double baselineUp, double textAlpha) {
    auto pb = PixelBuffer::create(bw, bh, PixelFormat::bgra8);
    if (!pb) return nullptr;
    for (int y = 0; y < bh; ++y) std::memset(pb->row(y), 0, std::size_t(bw) * 4);
    {
        CairoCanvas canvas(*pb);
        if (!canvas.ok()) return nullptr;
        cairo_t *cr = canvas.get();
        roundedRectPath(cr, 0, 0, bw, bh, radius);
        cairo_set_source_rgba(cr, fill.r, fill.g, fill.b, fill.a);
        cairo_fill(cr);
        // Cairo's y runs down: the baseline sits baselineUp above the bottom row.
        cairo_move_to(cr, x, bh - baselineUp - line.baseline);
        cairo_set_source_rgba(cr, 1, 1, 1, textAlpha);
        pango_cairo_update_layout(cr, line.layout.get());
        pango_cairo_show_layout(cr, line.layout.get());
        if (!canvas.ok()) return nullptr;
    }
    return platform::Image::make(std::move(pb));
}

double clampScale(double s) {
    return std::isfinite(s) ? std::clamp(s, 0.5, 3.0) : 1.0;
}

// Premultiplied `src` over `dst` with its lower-left corner at (x, y), y-up; both BGRA8.
void compositeOver(PixelBuffer &dst, const PixelBuffer &src, int x, int y) {
    const int W = dst.width(), H = dst.height(), w = src.width(), h = src.height();
    const int top = H - (y + h); // dst row of src row 0
    for (int r = std::max(0, -top); r < h && top + r < H; ++r) {
        const std::uint8_t *s = src.row(r);
        std::uint8_t *d = dst.row(top + r);
        for (int c = std::max(0, -x); c < w && x + c < W; ++c) {
            const std::uint8_t *sp = s + 4 * c;
            std::uint8_t *dp = d + 4 * (x + c);
            const int keep = 255 - sp[3];
            for (int k = 0; k < 4; ++k) dp[k] = std::uint8_t(sp[k] + (dp[k] * keep + 127) / 255);
        }
    }
}

} // namespace

double keystrokeOpacity(std::int64_t ageMs) noexcept {
    if (ageMs < 0 || ageMs > kKeystrokeVisibleMs + kKeystrokeFadeMs) return 0;
    const double a = ageMs <= kKeystrokeVisibleMs
                         ? 1.0
                         : 1.0 - double(ageMs - kKeystrokeVisibleMs) / double(kKeystrokeFadeMs);
    return a > 0.01 ? a : 0;
}

double keystrokeFontSize(double H, double scale) noexcept {
    return std::max(0.032 * H, 15.0) * clampScale(scale);
}

double captionFontSize(double H, double scale) noexcept {
    return std::max(0.04 * H, 16.0) * clampScale(scale);
}

std::optional<Badge> keystrokeBadge(std::string_view text, double H, double scale, double alpha) {
    if (!(H >= 1) || !std::isfinite(H)) return std::nullopt;
    const Context ctx = newContext();
    if (!ctx) return std::nullopt;
    const FontMapping &font = *mappingFor(kKeystrokeFont);
    checkInstalled(ctx.get(), font);
    const double fs = keystrokeFontSize(H, scale);
    const auto line = layOut(ctx.get(), font, text, fs, 0.16 * fs);
    if (!line) return std::nullopt;
    const double px = 0.7 * fs, py = 0.42 * fs;
    const int bw = int(std::ceil(line->width + 2 * px));
    const int bh = int(std::ceil(line->ascent + line->descent + 2 * py));
    if (bw < 1 || bh < 1) return std::nullopt;
    ImageRef image = drawBadge(bw, bh, bh / 2.0, {0.07, 0.07, 0.08, 0.62 * alpha}, *line, px,
                               py + line->descent, alpha);
    if (!image) return std::nullopt;
    return Badge{std::move(image), fs, line->width};
}

std::optional<Badge> captionBadge(std::string_view text, double W, double H, double scale) {
    if (!(W >= 1 && H >= 1) || !std::isfinite(W) || !std::isfinite(H)) return std::nullopt;
    const Context ctx = newContext();
    if (!ctx) return std::nullopt;
    const FontMapping &font = *mappingFor(kCaptionFont);
    checkInstalled(ctx.get(), font);
    double fs = captionFontSize(H, scale);
    auto line = layOut(ctx.get(), font, text, fs, 0);
    if (!line) return std::nullopt;
    const double maxW = 0.86 * W;
    if (line->width > 0 && line->width + 1.4 * fs > maxW) {
        fs = std::max(fs * maxW / (line->width + 1.4 * fs), 12.0);
        line = layOut(ctx.get(), font, text, fs, 0);
        if (!line) return std::nullopt;
    }
    const double px = 0.7 * fs, py = 0.4 * fs;
    const double bwExact = std::ceil(std::min(line->width, maxW) + 2 * px);
    const double bhExact = std::ceil(line->ascent + line->descent + 2 * py);
    if (!(bwExact >= 1 && bhExact >= 1) || bwExact > 65536 || bhExact > 65536) return std::nullopt;
    const int bw = int(bwExact), bh = int(bhExact);
    ImageRef image = drawBadge(bw, bh, std::min(0.45 * fs, bh / 2.0), {0, 0, 0, 0.55}, *line,
                               (bw - line->width) / 2, line->descent + py, 1);
    if (!image) return std::nullopt;
    return Badge{std::move(image), fs, line->width};
}

Point badgeOrigin(Edits::BadgePosition position, double W, double H, double bw,
                  double marginShare) noexcept {
    const double m = marginShare * std::min(W, H);
    double x = m;
    if (position == Edits::BadgePosition::center) x = (W - bw) / 2;
    if (position == Edits::BadgePosition::right) x = W - bw - m;
    return {std::round(x), std::round(m)};
}

ImageRef dynamicOverlay(const SceneInstruction &instruction, std::int64_t atMs) {
    const double rw = instruction.renderSize().width, rh = instruction.renderSize().height;
    if (!(rw >= 1 && rh >= 1 && rw < 65536 && rh < 65536)) return nullptr;
    const Edits &edits = instruction.edits();
    const Edits::Scene &scene = edits.effectiveScene();
    const int W = int(rw), H = int(rh);

    platform::PixelBufferRef base;
    auto put = [&](const PixelBuffer &badge, Point at) {
        if (!base) {
            base = PixelBuffer::create(W, H, PixelFormat::bgra8);
            if (!base) return;
            for (int y = 0; y < H; ++y) std::memset(base->row(y), 0, std::size_t(W) * 4);
        }
        compositeOver(*base, badge, int(at.x), int(at.y));
    };

    if (scene.showKeystrokes && !instruction.keyChords().empty()) {
        const KeyChord *chord = nullptr;
        for (const KeyChord &c : instruction.keyChords())
            if (c.tMs <= atMs && (!chord || c.tMs > chord->tMs)) chord = &c;
        const double alpha = chord ? keystrokeOpacity(atMs - chord->tMs) : 0;
        if (alpha > 0)
            if (const auto badge = keystrokeBadge(chord->text, rh, scene.keystrokeScale, alpha)) {
                const PixelBuffer &bitmap = badge->image->bitmap();
                put(bitmap, badgeOrigin(scene.keystrokePosition, rw, rh, bitmap.width(), 0.045));
            }
    }

    if (scene.showCaptions) {
        const Edits::Caption *caption = nullptr;
        for (const Edits::Caption &c : edits.captions)
            if (c.startMs <= atMs && atMs <= c.endMs && !c.text.empty()) {
                caption = &c;
                break;
            }
        if (caption) {
            const double s = clampScale(caption->scale.value_or(scene.captionScale));
            const chrome_key::Caption key{caption->text, keyNumber(rw), keyNumber(rh),
                                          keyNumber(s * 100)};
            const ImageRef image = ChromeCache::shared().image(key, [&]() -> ImageRef {
                const auto badge = captionBadge(caption->text, rw, rh, s);
                if (!badge)
                    overlayLog().error("the caption '%s' could not be drawn; it is left out",
                                       caption->text.c_str());
                return badge ? badge->image : nullptr;
            });
            if (image)
                put(image->bitmap(),
                    badgeOrigin(scene.captionPosition, rw, rh, image->extent().width, 0.05));
        }
    }

    if (!base) return nullptr;
    return platform::Image::make(std::move(base));
}

std::optional<ResolvedFace> resolvedFace(std::string_view designName) {
    const FontMapping *font = mappingFor(designName);
    if (!font) return std::nullopt;
    const Context ctx = newContext();
    if (!ctx) return std::nullopt;
    return resolve(ctx.get(), *font);
}

} // namespace qv::SceneRenderer
