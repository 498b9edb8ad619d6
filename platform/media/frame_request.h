// A self-contained frame request for callers that drive a compositor directly (the command
// line, tests, benchmarks): it makes output buffers of a fixed size, hands out the source
// frames it was given, and keeps the outcome for whoever waits on it.
// Thread safety: finish may be called from any thread; wait blocks until it has been.
#pragma once

#include "platform/media/video_compositing.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <variant>

namespace qv::platform::media {

class FixedSizeRenderContext final : public RenderContext {
public:
    FixedSizeRenderContext(int width, int height) : width_(width), height_(height) {}
    Size size() const override { return {double(width_), double(height_)}; }
    PixelBufferRef newPixelBuffer() override {
        return PixelBuffer::create(width_, height_, PixelFormat::bgra8);
    }

private:
    int width_, height_;
};

class FrameRequest final : public VideoCompositionRequest {
public:
    using Outcome = std::variant<PixelBufferRef, CompositionError>;

    FrameRequest(Time time, InstructionRef instruction, std::shared_ptr<RenderContext> context,
                 std::map<TrackID, PixelBufferRef> sources = {})
        : time_(time), instruction_(std::move(instruction)), context_(std::move(context)),
          sources_(std::move(sources)) {}

    Time compositionTime() const override { return time_; }
    InstructionRef videoCompositionInstruction() const override { return instruction_; }
    RenderContext &renderContext() override { return *context_; }
    PixelBufferRef sourceFrame(TrackID trackID) const override {
        auto it = sources_.find(trackID);
        return it == sources_.end() ? nullptr : it->second;
    }
    void finish(PixelBufferRef composedFrame) override { settle(std::move(composedFrame)); }
    // Called on the compositor's threads, where nothing may escape: an error whose text cannot
    // be copied for want of memory is told to the waiter as exhausted memory.
    void finish(const CompositionError &error) override {
        try {
            settle(error);
        } catch (const std::bad_alloc &) {
            settle(PixelBufferRef{}, true);
        }
    }

    // Blocks until the request is finished.
    Outcome wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return outcome_.has_value(); });
        if (outOfMemory_) return CompositionError{"com.quillvane.frame", 1, "not enough memory"};
        return *outcome_;
    }
    bool isFinished() const {
        std::lock_guard lock(mutex_);
        return outcome_.has_value();
    }
    // How many times finish was called; anything but 1 is a compositor fault.
    int finishCount() const {
        std::lock_guard lock(mutex_);
        return finishCount_;
    }

private:
    void settle(Outcome o, bool outOfMemory = false) {
        {
            std::lock_guard lock(mutex_);
            ++finishCount_;
            if (!outcome_) {
                outcome_ = std::move(o);
                outOfMemory_ = outOfMemory;
            }
        }
        cv_.notify_all();
    }

    Time time_;
    InstructionRef instruction_;
    std::shared_ptr<RenderContext> context_;
    std::map<TrackID, PixelBufferRef> sources_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<Outcome> outcome_;
    bool outOfMemory_ = false;
    int finishCount_ = 0;
};

} // namespace qv::platform::media
