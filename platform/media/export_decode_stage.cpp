#include "platform/media/export_decode_stage.h"

#include <atomic>
#include <new>

namespace qv::platform::media {

namespace {

// Output buffers in flight: two with the compositor, up to four waiting in the queue.
constexpr std::size_t kOutputBuffers = 6;

// One output frame on its way through the compositor into the queue.
class ExportFrameRequest final : public VideoCompositionRequest {
public:
    ExportFrameRequest(CompositionFrameSource::Frame frame,
                       std::shared_ptr<ExportRenderContext> context,
                       std::shared_ptr<ExportFrameQueue> queue)
        : frame_(std::move(frame)), context_(std::move(context)), queue_(std::move(queue)) {}

    Time compositionTime() const override { return frame_.time; }
    InstructionRef videoCompositionInstruction() const override { return frame_.instruction; }
    RenderContext &renderContext() override { return *context_; }
    PixelBufferRef sourceFrame(TrackID trackID) const override {
        auto it = frame_.sources.find(trackID);
        return it == frame_.sources.end() ? nullptr : it->second;
    }
    void finish(PixelBufferRef frame) override {
        if (frame)
            deliver([&] { return ExportFrameQueue::Outcome{std::move(frame)}; });
        else
            deliver([] {
                return ExportFrameQueue::Outcome{
                    CompositionError{"com.quillvane.export", 1, "no frame"}};
            });
    }
    void finish(const CompositionError &error) override {
        deliver([&] { return ExportFrameQueue::Outcome{error}; });
    }

private:
    CompositionFrameSource::Frame frame_;
    std::shared_ptr<ExportRenderContext> context_;
    std::shared_ptr<ExportFrameQueue> queue_;
    std::atomic<bool> finished_{false};

    // Called on the compositor's threads, where nothing may escape: an outcome that cannot be
    // made or stored for want of memory still ends the wait for it.
    template <class MakeOutcome> void deliver(MakeOutcome make) noexcept {
        if (finished_.exchange(true)) return;
        try {
            queue_->deliver(frame_.index, make());
        } catch (const std::bad_alloc &) {
            queue_->ranOutOfMemory();
        }
    }
};

} // namespace

ExportRenderContext::ExportRenderContext(int w, int h)
    : width_(w), height_(h),
      pool_(PixelBufferPool::make(w, h, PixelFormat::bgra8, kOutputBuffers)) {
}

Status ExportDecodeStage::request(std::int64_t begin, std::int64_t end) {
    for (std::int64_t i = begin; i < end; ++i) {
        if (!queue_->reserve(i)) return Ok{};
        auto frame = frames_.frame(i);
        if (!frame) return frame.error();
        compositor_.startRequest(
            std::make_shared<ExportFrameRequest>(std::move(frame.value()), context_, queue_));
    }
    return Ok{};
}

} // namespace qv::platform::media
