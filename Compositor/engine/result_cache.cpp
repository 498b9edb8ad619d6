#include "Compositor/engine/result_cache.h"

#include "Compositor/scene/scene_renderer.h"

namespace qv {

const platform::ImageRef &ResultCache::background(const std::shared_ptr<const Edits> &edits,
                                                  int outputWidth, int outputHeight,
                                                  const SceneInstruction &instruction) {
    // The same shared document needs no comparison; another one is compared by value.
    if (assets && lastEdits && (lastEdits == edits || *lastEdits == *edits) &&
        width == outputWidth && height == outputHeight)
        return assets->background;
    lastEdits = edits;
    width = outputWidth;
    height = outputHeight;
    ++builds;
    assets = SceneAssets{SceneRenderer::buildBackground(instruction.edits().effectiveScene(),
                                                        instruction.renderSize(),
                                                        instruction.backgroundImage())};
    return assets->background;
}

} // namespace qv
