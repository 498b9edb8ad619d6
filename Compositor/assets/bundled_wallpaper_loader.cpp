#include "Compositor/assets/bundled_wallpaper_loader.h"

#include "platform/core/resources.h"
#include "platform/image/image_file.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace qv::BundledWallpaperLoader {

namespace {

struct PictureTable {
    std::mutex mutex;
    // Kept only while in use: each shipped picture is 33 MB decoded, and a wallpaper picker that
    // shows them all must not keep them all.
    std::unordered_map<std::string, std::weak_ptr<const platform::Image>> pictures;
};

PictureTable &table() {
    static PictureTable t;
    return t;
}

std::optional<std::filesystem::path> findPicture(const std::string &name) {
    for (const char *ext : {"jpg", "jpeg", "png"}) {
        const std::string file = name + "." + ext;
        if (auto p = platform::findResource("Wallpapers/" + file)) return p;
        if (auto p = platform::findResource(file)) return p;
    }
    return std::nullopt;
}

} // namespace

platform::ImageRef image(const std::string &named) {
    // A name is a file name, never a path: "../x" or "a/b" would reach outside the folder.
    if (named.empty() || named.find('/') != std::string::npos || named == "." || named == "..")
        return nullptr;
    PictureTable &t = table();
    std::lock_guard lock(t.mutex);
    if (auto it = t.pictures.find(named); it != t.pictures.end())
        if (auto kept = it->second.lock()) return kept;
    const auto path = findPicture(named);
    if (!path) return nullptr;
    auto decoded = platform::decodeImageFile(*path);
    if (!decoded || !*decoded) return nullptr;
    t.pictures.insert_or_assign(named, *decoded);
    return *decoded;
}

} // namespace qv::BundledWallpaperLoader
