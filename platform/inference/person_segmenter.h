// Person segmentation of camera frames: which pixels show a person, as a coverage mask. Runs the
// two selfie-segmentation models (a square one, 256 x 256, and a landscape one, 256 x 144) on the
// CPU, on the calling thread; see docs/segmentation.md.
//
// Thread safety: one thread at a time per segmenter (segment() reuses its tensors); separate
// segmenters are independent.
// Lifetime: owns its models; the masks it returns are new buffers owned by the caller.
#pragma once

#include "platform/core/result.h"
#include "platform/video/pixel_buffer.h"

#include <memory>

namespace qv::platform {

// Cuts a person out of a camera frame: a one-channel coverage mask (0 background .. 255 person).
class PersonSegmenter {
public:
    // Which model segment() runs.
    enum class ModelChoice {
        byAspect,  // the landscape model for frames wider than 4:3, the square one otherwise
        square,    // 256 x 256
        landscape, // 256 x 144
    };

    // Loads both models (resources "models/selfie_segmentation.tflite" and
    // "models/selfie_segmentation_landscape.tflite"); fails naming the file and the problem.
    static Result<std::unique_ptr<PersonSegmenter>> open();

    ~PersonSegmenter();
    PersonSegmenter(const PersonSegmenter &) = delete;
    PersonSegmenter &operator=(const PersonSegmenter &) = delete;

    // The mask of a BGRA frame (PixelFormat::bgra8, any size): a PixelFormat::r8 buffer at the
    // model's own resolution covering the whole frame (the caller samples it with the frame's
    // normalised coordinates). The frame is stretched to the model's input size, so the mask is
    // stretched the same way.
    Result<PixelBufferRef> segment(const PixelBuffer &frame,
                                   ModelChoice choice = ModelChoice::byAspect);

    struct Impl;

private:
    explicit PersonSegmenter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace qv::platform
