#include "Compositor/scene/wallpaper_generators.h"

#include "Compositor/assets/bundled_wallpaper_loader.h"
#include "platform/image/image_ops.h"

#include <algorithm>
#include <cmath>

namespace qv::SceneRenderer {

namespace {

using platform::Color;
using platform::EdgeMode;
using platform::FloatImage;

Color opaque(RGB c, double a = 1) {
    return {c.r, c.g, c.b, a};
}

RGB colourAt(const Edits::WallpaperPreset &p, std::size_t i) {
    return i < p.colors.size() ? hexColor(p.colors[i]) : RGB{};
}

FloatImage solid(int W, int H, Color c) {
    // A ramp whose two ends have the same colour.
    return platform::linearGradient({0, 0, double(W), double(H)}, {0, 0}, c, {1, 0}, c);
}

Rect canvas(int W, int H) {
    return {0, 0, double(W), double(H)};
}

// Keeps the last good image when a step cannot be made (out of memory): a wallpaper with one
// step missing is better than none.
void step(FloatImage &img, FloatImage next) {
    if (!next.empty()) img = std::move(next);
}

} // namespace

std::uint64_t WallpaperRandom::seedOf(std::string_view identity) noexcept {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : identity) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

double WallpaperRandom::next() noexcept {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return double((state_ >> 33) & 0xFFFF) / 65535.0;
}

WallpaperKind wallpaperKind(int kind) noexcept {
    if (kind <= 0) return WallpaperKind::softBlobs;
    if (kind >= 3) return WallpaperKind::picture;
    return static_cast<WallpaperKind>(kind);
}

const char *wallpaperKindName(WallpaperKind kind) noexcept {
    switch (kind) {
    case WallpaperKind::softBlobs:
        return "blobs";
    case WallpaperKind::flow:
        return "flow";
    case WallpaperKind::waves:
        return "waves";
    case WallpaperKind::picture:
        return "picture";
    }
    return "";
}

std::vector<Blob> softBlobPlan(const Edits::WallpaperPreset &preset, int W, int H) {
    std::vector<Blob> blobs;
    const std::size_t n = preset.colors.size();
    if (n == 0) return blobs;
    WallpaperRandom random(preset.id);
    const double m = std::min(W, H);
    for (std::size_t i = 0; i < n + 2; ++i) {
        Blob b;
        b.colour = hexColor(preset.colors[i % n]);
        const double u1 = random.next(), u2 = random.next();
        b.centre = {u1 * W, u2 * H};
        b.radius = m * (0.55 + 0.175 * double(i % 3));
        blobs.push_back(b);
    }
    return blobs;
}

FloatImage softBlobsWallpaper(const Edits::WallpaperPreset &preset, int W, int H) {
    if (preset.colors.empty()) return solid(W, H, {0, 0, 0, 1});
    FloatImage img = solid(W, H, opaque(colourAt(preset, 0)));
    if (img.empty()) return img;
    for (const Blob &b : softBlobPlan(preset, W, H))
        platform::drawRadialGradient(img, b.centre, 0, opaque(b.colour, 0.9), b.radius,
                                     opaque(b.colour, 0));
    step(img, platform::gaussianBlur(img, 0.08 * std::min(W, H), EdgeMode::clamp));
    return img;
}

FloatImage flowWallpaper(const Edits::WallpaperPreset &preset, int W, int H) {
    WallpaperRandom random(preset.id);
    const double M = std::max(W, H);
    const double u1 = random.next(), u2 = random.next();
    // [1] the ramp that the colour map turns into the flow
    FloatImage img = platform::linearGradient(canvas(W, H), {(0.1 + 0.15 * u1) * W, double(H)},
                                              {0, 0, 0, 1}, {double(W), (0.1 + 0.15 * u2) * H},
                                              {1, 1, 1, 1}, platform::GradientRamp::smooth);
    if (img.empty()) {
        img = solid(W, H, opaque(colourAt(preset, 0)));
        if (img.empty()) return img;
    }
    // [2] recoloured through the preset's colours, evenly spaced along a 256-pixel strip
    if (const std::size_t n = preset.colors.size(); n > 0) {
        FloatImage strip = FloatImage::makeUninitialised(0, 0, 256, 1, 4);
        if (!strip.empty()) {
            float *s = strip.row(0);
            for (int k = 0; k < 256; ++k) {
                const double t = k / 255.0 * double(n - 1);
                const std::size_t i0 = std::min(std::size_t(t), n - 1);
                const std::size_t i1 = std::min(i0 + 1, n - 1);
                const double f = t - double(i0);
                const RGB a = colourAt(preset, i0), b = colourAt(preset, i1);
                s[4 * k + 0] = float(a.b + (b.b - a.b) * f);
                s[4 * k + 1] = float(a.g + (b.g - a.g) * f);
                s[4 * k + 2] = float(a.r + (b.r - a.r) * f);
                s[4 * k + 3] = 1;
            }
            step(img, platform::colorMap(img, strip));
        }
    }
    // [3] a bump, [4] a vortex, [5] a blur
    const double u3 = random.next(), u4 = random.next(), u5 = random.next();
    const double u6 = random.next(), u7 = random.next(), u8 = random.next();
    step(img,
         platform::Distortions()
             .bump({(0.3 + 0.45 * u3) * W, (0.3 + 0.45 * u4) * H}, 0.85 * M, 0.08 + 0.07 * u5)
             .vortex({(0.35 + 0.3 * u6) * W, (0.35 + 0.3 * u7) * H}, 1.05 * M, 0.05 + 0.12 * u8)
             .applyTo(img));
    step(img, platform::gaussianBlur(img, 0.018 * M, EdgeMode::clamp));
    return img;
}

FloatImage wavesWallpaper(const Edits::WallpaperPreset &preset, int W, int H) {
    const std::size_t n = preset.colors.size();
    const RGB c1 = colourAt(preset, 0);
    const RGB c2 = n >= 2 ? colourAt(preset, 1) : c1;
    const RGB c3 = n >= 3 ? colourAt(preset, 2) : c2;
    const double m = std::min(W, H), M = std::max(W, H);
    WallpaperRandom random(preset.id);
    const double u1 = random.next(), u2 = random.next();
    const Point c{(0.58 + 0.26 * u1) * W, (0.6 + 0.26 * u2) * H};
    // [1] base
    FloatImage img =
        platform::radialGradient(canvas(W, H), c, 0.04 * m, opaque(c2), 1.15 * M, opaque(c1));
    if (img.empty()) {
        img = solid(W, H, opaque(c1));
        if (img.empty()) return img;
    }
    // [2] glow
    const double u3 = random.next();
    platform::drawOver(img, platform::radialGradient(canvas(W, H), c, 0.01 * m, opaque(c3),
                                                     m * (0.42 + 0.12 * u3), opaque(c3, 0)));
    // [3] three bumps, each drawing its centre and then its scale; [4] a vortex. Resampled
    // once, as if applied one after another.
    struct Bump {
        double radius, sign;
    };
    platform::Distortions distortions;
    for (const Bump b : {Bump{0.7, 0.45}, Bump{0.55, -0.35}, Bump{0.4, 0.25}}) {
        const double ux = random.next(), uy = random.next();
        const Point centre{c.x + m * (ux - 0.5) * 0.7, c.y + m * (uy - 0.5) * 0.7};
        const double scale = (0.7 + 0.5 * random.next()) * b.sign;
        distortions.bump(centre, b.radius * m, scale);
    }
    distortions.vortex(c, 1.1 * m, 0.1 + 0.18 * random.next());
    step(img, distortions.applyTo(img));
    // [5] blur
    step(img, platform::gaussianBlur(img, 0.045 * m, EdgeMode::clamp));
    return img;
}

FloatImage pictureWallpaper(const Edits::WallpaperPreset &preset, int W, int H) {
    if (preset.pictureName) {
        if (auto picture = BundledWallpaperLoader::image(*preset.pictureName)) {
            if (auto filled = aspectFillImage(*picture, canvas(W, H))) {
                FloatImage img = platform::toFloat(*filled);
                if (!img.empty()) return img;
            }
        }
    }
    return solid(W, H, opaque(colourAt(preset, 0)));
}

bool canvasPixels(Size size, int &W, int &H) noexcept {
    if (!(size.width >= 1 && size.height >= 1 && size.width < 65536 && size.height < 65536))
        return false;
    W = static_cast<int>(size.width);
    H = static_cast<int>(size.height);
    return true;
}

const Edits::WallpaperPreset *wallpaperPreset(std::string_view id) {
    const auto &presets = Edits::wallpaperPresets();
    for (const auto &p : presets)
        if (p.id == id) return &p;
    return presets.empty() ? nullptr : &presets.front();
}

platform::FloatImage wallpaperImage(const Edits::WallpaperPreset &preset, Size size) {
    int W = 0, H = 0;
    if (!canvasPixels(size, W, H)) return {};
    switch (wallpaperKind(preset.kind)) {
    case WallpaperKind::softBlobs:
        return softBlobsWallpaper(preset, W, H);
    case WallpaperKind::flow:
        return flowWallpaper(preset, W, H);
    case WallpaperKind::waves:
        return wavesWallpaper(preset, W, H);
    case WallpaperKind::picture:
        return pictureWallpaper(preset, W, H);
    }
    return {};
}

platform::ImageRef aspectFillImage(const platform::Image &image, Rect rect) {
    const platform::PixelBuffer &src = image.bitmap();
    if (src.width() < 1 || src.height() < 1 || rect.isEmpty()) return nullptr;
    const double s = std::max(rect.width / src.width(), rect.height / src.height());
    const Rect e = image.extent();
    // Centre onto centre, scaled by s.
    const platform::Affine fit{s, 0, 0, s, rect.midX() - s * e.midX(), rect.midY() - s * e.midY()};
    return platform::affineResample(image, fit, rect, platform::EdgeMode::clamp);
}

} // namespace qv::SceneRenderer
