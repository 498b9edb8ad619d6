#include "interfaces/persistence/edits.h"

#include "interfaces/persistence/json_io.h"
#include "platform/core/atomic_file.h"
#include "platform/core/document_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace qv {

using persistence::DecodeFailure;
using persistence::Decoder;
using persistence::elementPath;
using persistence::Json;
using persistence::memberPath;

namespace {

constexpr int kFormatVersion = 1;

template <class E> struct Named {
    E value;
    std::string_view text;
};

constexpr std::array kBackgroundKinds{
    Named<Edits::BackgroundKind>{Edits::BackgroundKind::wallpaper, "wallpaper"},
    Named<Edits::BackgroundKind>{Edits::BackgroundKind::gradient, "gradient"},
    Named<Edits::BackgroundKind>{Edits::BackgroundKind::solid, "solid"},
    Named<Edits::BackgroundKind>{Edits::BackgroundKind::image, "image"},
};
constexpr std::array kChromeStyles{
    Named<Edits::ChromeStyle>{Edits::ChromeStyle::none, "none"},
    Named<Edits::ChromeStyle>{Edits::ChromeStyle::minimal, "minimal"},
    Named<Edits::ChromeStyle>{Edits::ChromeStyle::browser, "browser"},
};
constexpr std::array kWebcamPositions{
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::cornerTL, "corner-tl"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::cornerTR, "corner-tr"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::cornerBL, "corner-bl"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::cornerBR, "corner-br"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::sideLeft, "side-left"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::sideRight, "side-right"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::full, "full"},
    Named<Edits::WebcamPosition>{Edits::WebcamPosition::hidden, "hidden"},
};
constexpr std::array kWebcamShapes{
    Named<Edits::WebcamShape>{Edits::WebcamShape::circle, "circle"},
    Named<Edits::WebcamShape>{Edits::WebcamShape::roundedSquare, "rounded-square"},
    Named<Edits::WebcamShape>{Edits::WebcamShape::square, "square"},
    Named<Edits::WebcamShape>{Edits::WebcamShape::triangle, "triangle"},
};
constexpr std::array kClickEffects{
    Named<Edits::ClickEffect>{Edits::ClickEffect::none, "none"},
    Named<Edits::ClickEffect>{Edits::ClickEffect::ring, "ring"},
    Named<Edits::ClickEffect>{Edits::ClickEffect::ripple, "ripple"},
    Named<Edits::ClickEffect>{Edits::ClickEffect::shockwave, "shockwave"},
};
constexpr std::array kCursorShapes{
    Named<Edits::CursorShape>{Edits::CursorShape::arrow, "arrow"},
    Named<Edits::CursorShape>{Edits::CursorShape::heart, "heart"},
    Named<Edits::CursorShape>{Edits::CursorShape::dot, "dot"},
    Named<Edits::CursorShape>{Edits::CursorShape::ring, "ring"},
    Named<Edits::CursorShape>{Edits::CursorShape::crosshair, "crosshair"},
};
constexpr std::array kBadgePositions{
    Named<Edits::BadgePosition>{Edits::BadgePosition::left, "left"},
    Named<Edits::BadgePosition>{Edits::BadgePosition::center, "center"},
    Named<Edits::BadgePosition>{Edits::BadgePosition::right, "right"},
};
constexpr std::array kMaskStyles{
    Named<Edits::MaskStyle>{Edits::MaskStyle::blur, "blur"},
    Named<Edits::MaskStyle>{Edits::MaskStyle::solid, "solid"},
};

template <class E, std::size_t N>
std::string_view textOf(const std::array<Named<E>, N> &table, E value) noexcept {
    for (const auto &entry : table)
        if (entry.value == value) return entry.text;
    return {}; // only reachable for a value cast from outside the enumeration
}

// Enumerations are stored as their raw text; an unknown text is an error rather than a silent
// default so that a typo in a hand-edited file is noticed.
template <class E, std::size_t N>
void readEnum(const Decoder &d, const Json &object, std::string_view parent, std::string_view key,
              const std::array<Named<E>, N> &table, E &out) {
    const Json *v = Decoder::find(object, key);
    if (!v) return;
    std::string path = memberPath(parent, key);
    std::string text = d.asString(*v, path);
    for (const auto &entry : table) {
        if (entry.text == text) {
            out = entry.value;
            return;
        }
    }
    d.fail(path, "unknown value \"" + text + "\"");
}

// Calls `each(element, path)` for every element of an optional array member.
template <class F>
void forEachElement(const Decoder &d, const Json &object, std::string_view parent,
                    std::string_view key, F &&each) {
    const Json *v = Decoder::find(object, key);
    if (!v) return;
    std::string path = memberPath(parent, key);
    const Json &array = d.asArray(*v, path);
    for (std::size_t i = 0; i < array.size(); ++i) {
        std::string elementAt = elementPath(path, i);
        each(d.asObject(array[i], elementAt), elementAt);
    }
}

void checkOrder(const Decoder &d, std::string_view path, std::int64_t startMs, std::int64_t endMs) {
    if (startMs > endMs)
        d.fail(memberPath(path, "startMs"),
               "start " + std::to_string(startMs) + " is after the end " + std::to_string(endMs));
}

void decodeScene(const Decoder &d, const Json &object, Edits::Scene &s) {
    const std::string p = "scene";
    readEnum(d, object, p, "backgroundKind", kBackgroundKinds, s.backgroundKind);
    d.read(object, p, "wallpaperId", s.wallpaperId);
    d.read(object, p, "gradientFrom", s.gradientFrom);
    d.read(object, p, "gradientTo", s.gradientTo);
    d.read(object, p, "gradientAngle", s.gradientAngle);
    d.read(object, p, "backgroundColor", s.backgroundColor);
    if (const Json *crop = Decoder::find(object, "crop")) {
        const std::string cp = memberPath(p, "crop");
        const Json &c = d.asObject(*crop, cp);
        d.read(c, cp, "x", s.crop.x);
        d.read(c, cp, "y", s.crop.y);
        d.read(c, cp, "width", s.crop.width);
        d.read(c, cp, "height", s.crop.height);
    }
    d.read(object, p, "paddingPercent", s.paddingPercent);
    d.read(object, p, "frameRadius", s.frameRadius);
    d.read(object, p, "shadowBlur", s.shadowBlur);
    d.read(object, p, "shadowOffset", s.shadowOffset);
    d.read(object, p, "shadowStrength", s.shadowStrength);
    readEnum(d, object, p, "chromeStyle", kChromeStyles, s.chromeStyle);
    d.read(object, p, "showBorder", s.showBorder);
    readEnum(d, object, p, "webcamPosition", kWebcamPositions, s.webcamPosition);
    readEnum(d, object, p, "webcamShape", kWebcamShapes, s.webcamShape);
    d.read(object, p, "webcamSize", s.webcamSize);
    d.read(object, p, "webcamRemoveBackground", s.webcamRemoveBackground);
    d.read(object, p, "webcamTransitionMs", s.webcamTransitionMs);
    d.read(object, p, "cursorSmoothing", s.cursorSmoothing);
    d.read(object, p, "cursorSize", s.cursorSize);
    readEnum(d, object, p, "clickEffect", kClickEffects, s.clickEffect);
    readEnum(d, object, p, "cursorShape", kCursorShapes, s.cursorShape);
    d.read(object, p, "cursorFilled", s.cursorFilled);
    d.read(object, p, "cursorFill", s.cursorFill);
    d.read(object, p, "cursorOutline", s.cursorOutline);
    d.read(object, p, "cursorOutlineColor", s.cursorOutlineColor);
    d.read(object, p, "cursorShadow", s.cursorShadow);
    d.read(object, p, "showKeystrokes", s.showKeystrokes);
    readEnum(d, object, p, "keystrokePosition", kBadgePositions, s.keystrokePosition);
    d.read(object, p, "keystrokeScale", s.keystrokeScale);
    d.read(object, p, "showCaptions", s.showCaptions);
    readEnum(d, object, p, "captionPosition", kBadgePositions, s.captionPosition);
    d.read(object, p, "captionScale", s.captionScale);
}

Edits decodeDocument(const Decoder &d, const Json &root) {
    d.readFormatVersion(root);
    Edits e = Edits::defaults();
    if (const Json *scene = Decoder::find(root, "scene"))
        decodeScene(d, d.asObject(*scene, "scene"), e.scene);
    d.read(root, "", "trimStartMs", e.trimStartMs);
    d.read(root, "", "trimEndMs", e.trimEndMs);

    forEachElement(d, root, "", "cuts", [&](const Json &o, const std::string &p) {
        Edits::Cut c;
        d.read(o, p, "startMs", c.startMs);
        d.read(o, p, "endMs", c.endMs);
        checkOrder(d, p, c.startMs, c.endMs);
        e.cuts.push_back(c);
    });
    forEachElement(d, root, "", "speeds", [&](const Json &o, const std::string &p) {
        Edits::SpeedRange s;
        d.read(o, p, "startMs", s.startMs);
        d.read(o, p, "endMs", s.endMs);
        d.read(o, p, "rate", s.rate);
        checkOrder(d, p, s.startMs, s.endMs);
        e.speeds.push_back(s);
    });
    forEachElement(d, root, "", "zooms", [&](const Json &o, const std::string &p) {
        Edits::Zoom z;
        d.read(o, p, "startMs", z.startMs);
        d.read(o, p, "durationMs", z.durationMs);
        d.read(o, p, "scale", z.scale);
        d.read(o, p, "source", z.source);
        d.read(o, p, "centerX", z.centerX);
        d.read(o, p, "centerY", z.centerY);
        e.zooms.push_back(z);
    });
    forEachElement(d, root, "", "captions", [&](const Json &o, const std::string &p) {
        Edits::Caption c;
        d.read(o, p, "id", c.id);
        d.read(o, p, "startMs", c.startMs);
        d.read(o, p, "endMs", c.endMs);
        d.read(o, p, "text", c.text);
        d.read(o, p, "scale", c.scale);
        checkOrder(d, p, c.startMs, c.endMs);
        e.captions.push_back(std::move(c));
    });
    forEachElement(d, root, "", "masks", [&](const Json &o, const std::string &p) {
        Edits::Mask m;
        d.read(o, p, "id", m.id);
        d.read(o, p, "startMs", m.startMs);
        d.read(o, p, "endMs", m.endMs);
        readEnum(d, o, p, "style", kMaskStyles, m.style);
        checkOrder(d, p, m.startMs, m.endMs);
        forEachElement(d, o, p, "keyframes", [&](const Json &ko, const std::string &kp) {
            Edits::MaskKeyframe k;
            d.read(ko, kp, "tMs", k.tMs);
            d.read(ko, kp, "x", k.x);
            d.read(ko, kp, "y", k.y);
            d.read(ko, kp, "width", k.width);
            d.read(ko, kp, "height", k.height);
            m.keyframes.push_back(k);
        });
        if (m.keyframes.empty())
            d.fail(memberPath(p, "keyframes"), "a mask needs at least one keyframe");
        e.masks.push_back(std::move(m));
    });
    forEachElement(d, root, "", "cameraBlocks", [&](const Json &o, const std::string &p) {
        Edits::CameraBlock b;
        d.read(o, p, "id", b.id);
        d.read(o, p, "startMs", b.startMs);
        d.read(o, p, "endMs", b.endMs);
        readEnum(d, o, p, "position", kWebcamPositions, b.position);
        readEnum(d, o, p, "shape", kWebcamShapes, b.shape);
        d.read(o, p, "size", b.size);
        checkOrder(d, p, b.startMs, b.endMs);
        e.cameraBlocks.push_back(std::move(b));
    });
    return e;
}

Json encodeScene(const Edits::Scene &s) {
    Json o = Json::object();
    o["backgroundKind"] = rawValue(s.backgroundKind);
    o["wallpaperId"] = s.wallpaperId;
    o["gradientFrom"] = s.gradientFrom;
    o["gradientTo"] = s.gradientTo;
    o["gradientAngle"] = s.gradientAngle;
    o["backgroundColor"] = s.backgroundColor;
    o["crop"] =
        Json{{"x", s.crop.x}, {"y", s.crop.y}, {"width", s.crop.width}, {"height", s.crop.height}};
    o["paddingPercent"] = s.paddingPercent;
    o["frameRadius"] = s.frameRadius;
    o["shadowBlur"] = s.shadowBlur;
    o["shadowOffset"] = s.shadowOffset;
    o["shadowStrength"] = s.shadowStrength;
    o["chromeStyle"] = rawValue(s.chromeStyle);
    o["showBorder"] = s.showBorder;
    o["webcamPosition"] = rawValue(s.webcamPosition);
    o["webcamShape"] = rawValue(s.webcamShape);
    o["webcamSize"] = s.webcamSize;
    o["webcamRemoveBackground"] = s.webcamRemoveBackground;
    o["webcamTransitionMs"] = s.webcamTransitionMs;
    o["cursorSmoothing"] = s.cursorSmoothing;
    o["cursorSize"] = s.cursorSize;
    o["clickEffect"] = rawValue(s.clickEffect);
    o["cursorShape"] = rawValue(s.cursorShape);
    o["cursorFilled"] = s.cursorFilled;
    o["cursorFill"] = s.cursorFill;
    o["cursorOutline"] = s.cursorOutline;
    o["cursorOutlineColor"] = s.cursorOutlineColor;
    o["cursorShadow"] = s.cursorShadow;
    o["showKeystrokes"] = s.showKeystrokes;
    o["keystrokePosition"] = rawValue(s.keystrokePosition);
    o["keystrokeScale"] = s.keystrokeScale;
    o["showCaptions"] = s.showCaptions;
    o["captionPosition"] = rawValue(s.captionPosition);
    o["captionScale"] = s.captionScale;
    return o;
}

Json encodeDocument(const Edits &e) {
    Json root = Json::object();
    root["formatVersion"] = kFormatVersion;
    root["scene"] = encodeScene(e.scene);
    root["trimStartMs"] = e.trimStartMs;
    if (e.trimEndMs) root["trimEndMs"] = *e.trimEndMs;

    Json cuts = Json::array();
    for (const auto &c : e.cuts) cuts.push_back(Json{{"startMs", c.startMs}, {"endMs", c.endMs}});
    root["cuts"] = std::move(cuts);

    Json speeds = Json::array();
    for (const auto &s : e.speeds)
        speeds.push_back(Json{{"startMs", s.startMs}, {"endMs", s.endMs}, {"rate", s.rate}});
    root["speeds"] = std::move(speeds);

    Json zooms = Json::array();
    for (const auto &z : e.zooms)
        zooms.push_back(Json{{"startMs", z.startMs},
                             {"durationMs", z.durationMs},
                             {"scale", z.scale},
                             {"source", z.source},
                             {"centerX", z.centerX},
                             {"centerY", z.centerY}});
    root["zooms"] = std::move(zooms);

    Json captions = Json::array();
    for (const auto &c : e.captions) {
        Json o{{"id", c.id}, {"startMs", c.startMs}, {"endMs", c.endMs}, {"text", c.text}};
        if (c.scale) o["scale"] = *c.scale;
        captions.push_back(std::move(o));
    }
    root["captions"] = std::move(captions);

    Json masks = Json::array();
    for (const auto &m : e.masks) {
        Json keyframes = Json::array();
        for (const auto &k : m.keyframes)
            keyframes.push_back(Json{
                {"tMs", k.tMs}, {"x", k.x}, {"y", k.y}, {"width", k.width}, {"height", k.height}});
        masks.push_back(Json{{"id", m.id},
                             {"startMs", m.startMs},
                             {"endMs", m.endMs},
                             {"style", rawValue(m.style)},
                             {"keyframes", std::move(keyframes)}});
    }
    root["masks"] = std::move(masks);

    Json blocks = Json::array();
    for (const auto &b : e.cameraBlocks)
        blocks.push_back(Json{{"id", b.id},
                              {"startMs", b.startMs},
                              {"endMs", b.endMs},
                              {"position", rawValue(b.position)},
                              {"shape", rawValue(b.shape)},
                              {"size", b.size}});
    root["cameraBlocks"] = std::move(blocks);
    return root;
}

// Into [0, 1]; NaN becomes 0 so that it ends up as "no area".
double unit(double v) noexcept {
    return v > 0 ? (v < 1 ? v : 1) : 0;
}

} // namespace

std::string_view rawValue(Edits::BackgroundKind v) noexcept {
    return textOf(kBackgroundKinds, v);
}
std::string_view rawValue(Edits::ChromeStyle v) noexcept {
    return textOf(kChromeStyles, v);
}
std::string_view rawValue(Edits::WebcamPosition v) noexcept {
    return textOf(kWebcamPositions, v);
}
std::string_view rawValue(Edits::WebcamShape v) noexcept {
    return textOf(kWebcamShapes, v);
}
std::string_view rawValue(Edits::ClickEffect v) noexcept {
    return textOf(kClickEffects, v);
}
std::string_view rawValue(Edits::CursorShape v) noexcept {
    return textOf(kCursorShapes, v);
}
std::string_view rawValue(Edits::BadgePosition v) noexcept {
    return textOf(kBadgePositions, v);
}
std::string_view rawValue(Edits::MaskStyle v) noexcept {
    return textOf(kMaskStyles, v);
}

Edits::Crop::Geometry Edits::Crop::ciGeometry(Size screenSize) const noexcept {
    const double W = screenSize.width, H = screenSize.height;
    const double cx = unit(x), cy = unit(y);
    const double cw = std::min(unit(width), 1 - cx), ch = std::min(unit(height), 1 - cy);
    // The document's origin is top-left; source pixels count from the bottom.
    Rect r{cx * W, (1 - cy - ch) * H, cw * W, ch * H};
    const bool finite = std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
                        std::isfinite(r.height);
    if (!finite || r.isEmpty()) r = Rect{0, 0, W, H};
    return Geometry{r, r.size()};
}

Edits::Mask::Resolved Edits::Mask::resolvedRect(std::int64_t atSourceMs) const noexcept {
    if (keyframes.empty()) return {};
    // Scanned rather than searched so that a document with keyframes out of order still gives
    // the time-ordered answer, without allocating.
    const MaskKeyframe *before = nullptr; // latest at or before the time (last of equals)
    const MaskKeyframe *after = nullptr;  // earliest after the time (first of equals)
    const MaskKeyframe *first = &keyframes.front();
    for (const auto &k : keyframes) {
        if (k.tMs < first->tMs) first = &k;
        if (k.tMs <= atSourceMs) {
            if (!before || k.tMs >= before->tMs) before = &k;
        } else if (!after || k.tMs < after->tMs) {
            after = &k;
        }
    }
    auto resolved = [](const MaskKeyframe &k) { return Resolved{k.x, k.y, k.width, k.height}; };
    if (!before) return resolved(*first);
    if (!after) return resolved(*before);
    // Differences taken as unsigned 64-bit numbers (after > atSourceMs >= before, so they are
    // exact and the span is never 0), then converted: two extreme times never overflow, and
    // two times one apart that round to the same double still give a finite fraction.
    const auto span =
        static_cast<std::uint64_t>(after->tMs) - static_cast<std::uint64_t>(before->tMs);
    const auto into =
        static_cast<std::uint64_t>(atSourceMs) - static_cast<std::uint64_t>(before->tMs);
    const double f = std::min(1.0, static_cast<double>(into) / static_cast<double>(span));
    auto mix = [f](double a, double b) { return a + (b - a) * f; };
    return Resolved{mix(before->x, after->x), mix(before->y, after->y),
                    mix(before->width, after->width), mix(before->height, after->height)};
}

const std::vector<Edits::WallpaperPreset> &Edits::wallpaperPresets() {
    // Kinds: 0 soft blobs, 1 flow, 2 waves (generated from the colours), 3 a picture among the
    // resources (its first colour fills in when the picture is missing). docs/wallpapers.md
    // shows them.
    static const std::vector<WallpaperPreset> presets{
        {"aurora", 0, {"#0F172A", "#4F46E5", "#22D3EE"}, std::nullopt},
        {"dusk", 1, {"#F97316", "#DB2777", "#312E81"}, std::nullopt},
        {"lagoon", 0, {"#064E3B", "#10B981", "#A7F3D0"}, std::nullopt},
        {"ember", 2, {"#7F1D1D", "#F59E0B"}, std::nullopt},
        {"slate", 2, {"#1E293B", "#475569"}, std::nullopt},
        {"dunes", 3, {"#D6A76C"}, std::string("dunes")},
        {"sorbet", 0, {"#FDE68A", "#F9A8D4", "#A5B4FC", "#FDBA74"}, std::nullopt},
        {"midnight", 0, {"#020617", "#1E3A8A", "#7C3AED"}, std::nullopt},
        {"glacier", 1, {"#0C4A6E", "#38BDF8", "#E0F2FE"}, std::nullopt},
        {"meadow", 1, {"#14532D", "#65A30D", "#FDE047"}, std::nullopt},
        {"nebula", 1, {"#1E1B4B", "#7E22CE", "#F472B6", "#FDE68A"}, std::nullopt},
        {"tide", 2, {"#0B132B", "#1C7C99", "#9FE8E0"}, std::nullopt},
        {"orchid", 2, {"#2E1065", "#C026D3", "#FBCFE8"}, std::nullopt},
        {"peaks", 3, {"#3D6D9E"}, std::string("peaks")},
        {"shore", 3, {"#2E8C8A"}, std::string("shore")},
    };
    return presets;
}

const Edits &Edits::defaults() {
    static const Edits document = [] {
        Edits e;
        e.scene.wallpaperId = wallpaperPresets().front().id;
        return e;
    }();
    return document;
}

bool Edits::isPassthroughEligible(std::int64_t sourceDurationMs) const {
    // Written as "the neutral value holds" so that NaN anywhere counts as a change.
    if (!(trimStartMs <= 0)) return false;
    if (trimEndMs && *trimEndMs < sourceDurationMs) return false;
    if (!cuts.empty() || !zooms.empty() || !masks.empty() || !captions.empty() ||
        !cameraBlocks.empty())
        return false;
    for (const auto &s : speeds)
        if (!(s.rate == 1)) return false;
    const Crop &c = scene.crop;
    if (!(c.x <= 0 && c.y <= 0 && c.x + c.width >= 1 && c.y + c.height >= 1)) return false;
    const Scene &s = scene;
    return s.paddingPercent <= 0 && s.frameRadius <= 0 && s.chromeStyle == ChromeStyle::none &&
           !s.showBorder && s.webcamPosition == WebcamPosition::hidden &&
           s.clickEffect == ClickEffect::none && s.cursorSize <= 0 && !s.showKeystrokes;
}

Result<Edits> Edits::decode(std::string_view json, const std::string &source) {
    return persistence::guardedDecode<Edits>(source, [&] {
        Decoder d(source);
        return decodeDocument(d, d.parseObject(json));
    });
}

std::string Edits::encode() const {
    // A non-finite number comes out as null here; write() refuses such a document instead.
    return encodeDocument(*this).dump(2) + "\n";
}

Result<std::string> Edits::encodeChecked(const std::string &source) const {
    return persistence::dumpChecked(encodeDocument(*this), source);
}

Result<Edits> Edits::read(const std::filesystem::path &file) {
    auto text = persistence::readTextFile(file);
    if (!text) return text.error();
    return decode(*text, file.string());
}

Result<std::optional<Edits>> Edits::readFromRecording(const std::filesystem::path &directory) {
    auto text = platform::readDocumentFile(directory, fileName);
    if (!text) return text.error();
    if (!text->has_value()) return std::optional<Edits>();
    auto edits = decode(**text, (directory / fileName).string());
    if (!edits) return edits.error();
    return std::optional<Edits>(std::move(edits).value());
}

Status Edits::write(const std::filesystem::path &file) const {
    auto text = encodeChecked(file.string());
    if (!text) return text.error();
    return platform::writeFileAtomically(file, *text);
}

} // namespace qv
