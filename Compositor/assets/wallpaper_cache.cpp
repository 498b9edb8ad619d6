#include "Compositor/assets/wallpaper_cache.h"

#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/wallpaper_generators.h"

#include <cmath>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace qv::WallpaperCache {

namespace {

struct KeyHash {
    std::size_t operator()(const Key &k) const noexcept {
        std::size_t h = std::hash<std::string>()(k.id);
        h ^= std::hash<int>()(k.w) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h ^= std::hash<int>()(k.h) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        return h;
    }
};

struct WallpaperTable {
    std::mutex mutex;
    std::unordered_map<Key, platform::ImageRef, KeyHash> images;
    std::size_t renders = 0;
};

WallpaperTable &table() {
    static WallpaperTable t;
    return t;
}

bool usableSize(Size s) {
    return s.width >= 1 && s.height >= 1 && s.width < 65536 && s.height < 65536;
}

platform::ImageRef render(const Edits::WallpaperPreset &preset, Size size) {
    const auto img = SceneRenderer::wallpaperImage(preset, size);
    if (img.empty()) return nullptr;
    return SceneRenderer::bakeContext().createImage(
        img, {0, 0, std::trunc(size.width), std::trunc(size.height)});
}

} // namespace

platform::ImageRef image(const Edits::WallpaperPreset &preset, Size size) {
    if (!usableSize(size)) return nullptr;
    Key key{preset.id, static_cast<int>(size.width), static_cast<int>(size.height)};
    WallpaperTable &t = table();
    std::lock_guard lock(t.mutex);
    if (auto it = t.images.find(key); it != t.images.end()) return it->second;
    ++t.renders;
    auto img = render(preset, size);
    // Nothing is kept when the render fails (out of memory): the next frame tries again.
    if (img) t.images.emplace(std::move(key), img);
    return img;
}

platform::ImageRef bitmap(const std::optional<std::string> &presetId, Size size) {
    if (!usableSize(size)) return nullptr;
    const auto &presets = Edits::wallpaperPresets();
    const Edits::WallpaperPreset *preset = presets.empty() ? nullptr : &presets.front();
    if (presetId) preset = SceneRenderer::wallpaperPreset(*presetId);
    if (!preset) return nullptr;
    return render(*preset, size);
}

Stats stats() {
    WallpaperTable &t = table();
    std::lock_guard lock(t.mutex);
    return {t.images.size(), t.renders};
}

} // namespace qv::WallpaperCache
