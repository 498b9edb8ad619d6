// The one image context through which all offline rendering of scene decoration goes
// (backgrounds, wallpapers, shadows, halos). It keeps no intermediate results: every bake is
// rendered once and then kept by the cache that asked for it.
//
// Thread safety: created on first use (thread-safe); stateless afterwards, so any thread may
// render through it at the same time.
#pragma once

#include "platform/image/image_ops.h"

namespace qv::SceneRenderer {

const platform::ImageContext &bakeContext();

} // namespace qv::SceneRenderer
