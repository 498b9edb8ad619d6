// The wallpaper pictures shipped with the compositor, found among the resources (folder
// "Wallpapers" first, then the top level; see platform/core/resources.h) and decoded once.
//
// Thread safety: the process-wide picture table is guarded by its own mutex, held while a
// picture is searched for and decoded. Lock order: WallpaperCache's table first, then this one.
// Lifetime: decoded pictures stay for the life of the process; names that fail are not kept.
#pragma once

#include "platform/image/image.h"

#include <string>

namespace qv::BundledWallpaperLoader {

// The decoded picture of this name (file name without extension; "jpg", "jpeg" and "png" are
// tried in that order, each first inside "Wallpapers", then at the top level), or null.
platform::ImageRef image(const std::string &named);

} // namespace qv::BundledWallpaperLoader
