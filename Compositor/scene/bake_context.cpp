#include "Compositor/scene/bake_context.h"

namespace qv::SceneRenderer {

const platform::ImageContext &bakeContext() {
    static const platform::ImageContext context;
    return context;
}

} // namespace qv::SceneRenderer
