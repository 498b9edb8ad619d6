// The one error the compositor reports for a frame it cannot produce.
#pragma once

#include "platform/media/video_compositing.h"

namespace qv {

enum class CompositorError { noFrame };

inline constexpr const char *kCompositorErrorDomain = "com.quillvane.compositor";

inline platform::media::CompositionError compositionError(CompositorError e) {
    switch (e) {
    case CompositorError::noFrame:
        break;
    }
    return {kCompositorErrorDomain, 1, "noFrame: the compositor could not produce this frame"};
}

} // namespace qv
