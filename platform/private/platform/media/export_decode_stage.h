// The first stage of a composition export: for each output frame, in order, it waits for room in
// the frame queue, decodes the frame's sources (CompositionFrameSource) and hands the frame's
// request to the compositor, which finishes it into the queue on its own threads.
//
// Thread safety: one thread at a time (the session's).
#pragma once

#include "platform/core/result.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/export_frame_queue.h"
#include "platform/media/pixel_buffer_pool.h"

#include <memory>

namespace qv::platform::media {

// Makes the compositor's output buffers, from a pool.
class ExportRenderContext final : public RenderContext {
public:
    ExportRenderContext(int w, int h);
    Size size() const override { return {double(width_), double(height_)}; }
    PixelBufferRef newPixelBuffer() override { return pool_ ? pool_->get() : nullptr; }

private:
    int width_, height_;
    PixelBufferPoolRef pool_;
};

class ExportDecodeStage {
public:
    ExportDecodeStage(CompositionFrameSource &frames, VideoCompositing &compositor,
                      std::shared_ptr<ExportRenderContext> context,
                      std::shared_ptr<ExportFrameQueue> queue)
        : frames_(frames), compositor_(compositor), context_(std::move(context)),
          queue_(std::move(queue)) {}

    // Requests frames [begin, end). Stops early, with success, when the queue is closed; fails
    // when a frame's sources cannot be had.
    Status request(std::int64_t begin, std::int64_t end);

private:
    CompositionFrameSource &frames_;
    VideoCompositing &compositor_;
    std::shared_ptr<ExportRenderContext> context_;
    std::shared_ptr<ExportFrameQueue> queue_;
};

} // namespace qv::platform::media
