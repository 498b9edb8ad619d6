// The canvas background of a scene: a wallpaper preset, a linear gradient, a solid colour or a
// supplied picture, always exactly canvas-sized at the origin.
// Thread safety: pure functions over immutable inputs; wallpapers go through the process-wide
// wallpaper cache, which guards itself.
#pragma once

#include "Compositor/scene/wallpaper_generators.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/float_image.h"
#include "platform/image/image.h"

#include <optional>
#include <string>

namespace qv::SceneRenderer {

// The canvas background for the scene at the given size (truncated to whole pixels); `provided`
// is the instruction's background image. Null only below one pixel or when memory runs out.
platform::ImageRef buildBackground(const Edits::Scene &scene, Size size,
                                   const platform::ImageRef &provided);

// The preset with this identity (the first preset when absent or unknown) rendered as a bitmap
// for the preset picker; uncached. Null when there are no presets or it cannot be rendered.
platform::ImageRef wallpaperPreview(const std::optional<std::string> &presetId, Size size);

} // namespace qv::SceneRenderer
