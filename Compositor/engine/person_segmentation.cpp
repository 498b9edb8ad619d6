#include "Compositor/engine/person_masks.h"

#include "platform/core/log.h"
#include "platform/inference/person_segmenter.h"

#include <memory>
#include <optional>

namespace qv {

PersonMasks::Segment makePersonSegmentation() {
    // Loaded at the first frame that asks, so that recordings without a camera never pay for
    // it; a model that cannot be loaded is reported once and every mask is then absent.
    struct Loaded {
        std::unique_ptr<platform::PersonSegmenter> segmenter;
        std::optional<Error> problem;
    };
    auto loaded = std::make_shared<Loaded>();
    return [loaded](const platform::PixelBuffer &camera) -> Result<platform::PixelBufferRef> {
        if (!loaded->segmenter && !loaded->problem) {
            auto opened = platform::PersonSegmenter::open();
            if (opened) {
                loaded->segmenter = std::move(opened.value());
            } else {
                loaded->problem = opened.error();
                static platform::Logger log("com.quillvane.compositor", "segmentation");
                log.error("the webcam's background cannot be removed: %s",
                          opened.error().message.c_str());
            }
        }
        if (loaded->problem) return *loaded->problem;
        return loaded->segmenter->segment(camera);
    };
}

} // namespace qv
