#include "Compositor/scene/background.h"

#include "Compositor/assets/wallpaper_cache.h"
#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/hex_color.h"
#include "Compositor/scene/wallpaper_generators.h"
#include "platform/image/image_ops.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qv::SceneRenderer {

namespace {

using platform::ImageRef;

ImageRef solid(int W, int H, RGB c) {
    return platform::Image::solid(W, H, c.r, c.g, c.b, 1);
}

} // namespace

ImageRef wallpaperPreview(const std::optional<std::string> &presetId, Size size) {
    return WallpaperCache::bitmap(presetId, size);
}

ImageRef buildBackground(const Edits::Scene &scene, Size size, const ImageRef &provided) {
    int W = 0, H = 0;
    if (!canvasPixels(size, W, H)) return nullptr;
    const Rect canvas{0, 0, double(W), double(H)};
    switch (scene.backgroundKind) {
    case Edits::BackgroundKind::wallpaper:
        if (const auto *preset = wallpaperPreset(scene.wallpaperId))
            if (auto img = WallpaperCache::image(*preset, {double(W), double(H)})) return img;
        return solid(W, H, {});
    case Edits::BackgroundKind::gradient: {
        const double theta = scene.gradientAngle * std::numbers::pi / 180;
        const RGB a = hexColor(scene.gradientFrom), b = hexColor(scene.gradientTo);
        const auto g = platform::linearGradient(canvas, {0, 0}, {a.r, a.g, a.b, 1},
                                                {std::cos(theta) * W, std::sin(theta) * H},
                                                {b.r, b.g, b.b, 1});
        if (!g.empty())
            if (auto img = bakeContext().createImage(g, canvas)) return img;
        return solid(W, H, {});
    }
    case Edits::BackgroundKind::solid:
        return solid(W, H, hexColor(scene.backgroundColor));
    case Edits::BackgroundKind::image:
        if (provided && provided->bitmap().width() > 0)
            if (auto img = aspectFillImage(*provided, canvas)) return img;
        return solid(W, H, hexColor(scene.backgroundColor));
    }
    return solid(W, H, {});
}

} // namespace qv::SceneRenderer
