// The one error the compositor reports for a frame it cannot produce.
#pragma once

#include "platform/media/video_compositing.h"

#include <string>

namespace qv {

enum class CompositorError { noFrame };

inline constexpr const char *kCompositorErrorDomain = "com.quillvane.compositor";

// `reason`, when known, replaces the generic explanation after "noFrame: ".
inline platform::media::CompositionError compositionError(CompositorError e,
                                                          const std::string &reason = {}) {
    switch (e) {
    case CompositorError::noFrame:
        break;
    }
    return {kCompositorErrorDomain, 1,
            "noFrame: " +
                (reason.empty() ? "the compositor could not produce this frame" : reason)};
}

} // namespace qv
