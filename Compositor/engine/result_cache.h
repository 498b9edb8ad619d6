// The background kept between frames: rebuilt only when the edit document or the output size
// changes. One per compositor; used only on its render queue (no lock).
#pragma once

#include "Compositor/engine/scene_instruction.h"
#include "platform/image/image.h"

#include <memory>
#include <optional>

namespace qv {

// What the compositor keeps between frames of one edit document and output size.
struct SceneAssets {
    platform::ImageRef background;
};

struct ResultCache {
    // Held, not copied: documents are immutable once shared, and one with many cuts is large.
    std::shared_ptr<const Edits> lastEdits;
    int width = 0;
    int height = 0;
    std::optional<SceneAssets> assets;
    int builds = 0; // how many times the background was built; for diagnostics

    // The background for (edits, output size). The key holds only the document and the output
    // pixel-buffer size; the background itself is built at the instruction's render size.
    const platform::ImageRef &background(const std::shared_ptr<const Edits> &edits, int outputWidth,
                                         int outputHeight, const SceneInstruction &instruction);
};

} // namespace qv
