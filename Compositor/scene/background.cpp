// Canvas backgrounds. Solid colours and linear gradients are drawn here; wallpaper presets are
// drawn as a gradient of their first two colours until the wallpaper generators land.
#include "Compositor/scene/background.h"
#include "Compositor/scene/hex_color.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qv::SceneRenderer {

namespace {

using platform::Image;
using platform::ImageRef;
using platform::PixelBuffer;
using platform::PixelFormat;

std::uint8_t byte(double v) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// A linear gradient from `from` at p0 to `to` at p1 (y-up pixel space), clamped beyond the ends.
ImageRef linearGradient(int W, int H, Point p0, RGB from, Point p1, RGB to) {
    auto pb = PixelBuffer::create(W, H, PixelFormat::bgra8);
    if (!pb) return nullptr;
    const double dx = p1.x - p0.x, dy = p1.y - p0.y, len2 = dx * dx + dy * dy;
    for (int j = 0; j < H; ++j) {
        const double y = H - j - 0.5; // pixel centre, y-up
        std::uint8_t *row = pb->row(j);
        for (int i = 0; i < W; ++i) {
            const double x = i + 0.5;
            const double s =
                len2 > 0 ? std::clamp(((x - p0.x) * dx + (y - p0.y) * dy) / len2, 0.0, 1.0) : 0.0;
            row[4 * i + 0] = byte(from.b + (to.b - from.b) * s);
            row[4 * i + 1] = byte(from.g + (to.g - from.g) * s);
            row[4 * i + 2] = byte(from.r + (to.r - from.r) * s);
            row[4 * i + 3] = 255;
        }
    }
    return Image::make(std::move(pb));
}

ImageRef solid(int W, int H, RGB c) {
    return Image::solid(W, H, c.r, c.g, c.b, 1);
}

// The image scaled uniformly to cover the rectangle, centred, cropped to it (bilinear).
ImageRef aspectFill(const Image &img, int W, int H) {
    const PixelBuffer &src = img.bitmap();
    auto pb = PixelBuffer::create(W, H, PixelFormat::bgra8);
    if (!pb) return nullptr;
    const double scale = std::max(double(W) / src.width(), double(H) / src.height());
    const double ox = (W - src.width() * scale) / 2, oy = (H - src.height() * scale) / 2;
    for (int j = 0; j < H; ++j) {
        const double sy = std::clamp((j + 0.5 - oy) / scale - 0.5, 0.0, src.height() - 1.0);
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, src.height() - 1);
        const double fy = sy - y0;
        std::uint8_t *row = pb->row(j);
        for (int i = 0; i < W; ++i) {
            const double sx = std::clamp((i + 0.5 - ox) / scale - 0.5, 0.0, src.width() - 1.0);
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, src.width() - 1);
            const double fx = sx - x0;
            for (int c = 0; c < 4; ++c) {
                const double top =
                    src.row(y0)[4 * x0 + c] * (1 - fx) + src.row(y0)[4 * x1 + c] * fx;
                const double bot =
                    src.row(y1)[4 * x0 + c] * (1 - fx) + src.row(y1)[4 * x1 + c] * fx;
                row[4 * i + c] = static_cast<std::uint8_t>(std::lround(top * (1 - fy) + bot * fy));
            }
        }
    }
    return Image::make(std::move(pb));
}

const Edits::WallpaperPreset &presetFor(const std::string &id) {
    const auto &presets = Edits::wallpaperPresets();
    for (const auto &p : presets)
        if (p.id == id) return p;
    return presets.front();
}

} // namespace

ImageRef buildBackground(const Edits::Scene &scene, Size size, const ImageRef &provided) {
    const int W = static_cast<int>(size.width), H = static_cast<int>(size.height);
    if (W < 1 || H < 1) return nullptr;
    switch (scene.backgroundKind) {
    case Edits::BackgroundKind::wallpaper: {
        const auto &preset = presetFor(scene.wallpaperId);
        const RGB a = preset.colors.empty() ? RGB{} : hexColor(preset.colors.front());
        const RGB b = preset.colors.size() > 1 ? hexColor(preset.colors[1]) : a;
        return linearGradient(W, H, {0, double(H)}, a, {0, 0}, b);
    }
    case Edits::BackgroundKind::gradient: {
        const double theta = scene.gradientAngle * std::numbers::pi / 180;
        if (auto g = linearGradient(W, H, {0, 0}, hexColor(scene.gradientFrom),
                                    {std::cos(theta) * W, std::sin(theta) * H},
                                    hexColor(scene.gradientTo)))
            return g;
        return solid(W, H, {});
    }
    case Edits::BackgroundKind::solid:
        return solid(W, H, hexColor(scene.backgroundColor));
    case Edits::BackgroundKind::image:
        if (provided && provided->bitmap().width() > 0) return aspectFill(*provided, W, H);
        return solid(W, H, hexColor(scene.backgroundColor));
    }
    return solid(W, H, {});
}

} // namespace qv::SceneRenderer
