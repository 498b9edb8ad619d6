#include "platform/media/export_encode_stage.h"

namespace qv::platform::media {

Status ExportEncodeStage::run(std::int64_t count, const std::function<void(double)> &progress) {
    const Time fd = timing_.frameDuration;
    const auto at = [&](std::int64_t i) { return frameClockText({i * fd.value, fd.timescale}); };
    for (std::int64_t i = 0; i < count; ++i) {
        ExportFrameQueue::Outcome outcome;
        switch (queue_.take(i, std::chrono::steady_clock::now() + timing_.frameTimeout, outcome)) {
        case ExportFrameQueue::Wait::ready:
            break;
        case ExportFrameQueue::Wait::closed:
            return Ok{};
        case ExportFrameQueue::Wait::timedOut:
            return Error{name_ + ": the compositor did not deliver the frame at " + at(i)};
        case ExportFrameQueue::Wait::outOfMemory:
            return Error{"The frame at " + at(i) + " could not be drawn: not enough memory"};
        }
        if (const auto *error = std::get_if<CompositionError>(&outcome))
            return Error{"The frame at " + at(i) + " could not be drawn: " + error->description};
        {
            // Let go of the frame before the queue hears of it: its buffer may be drawn over.
            const PixelBufferRef frame = std::get<PixelBufferRef>(std::move(outcome));
            if (auto st = writer_.appendVideo(*frame); !st) return Error{st.error().message};
        }
        const std::int64_t endMs = (i + 1) * fd.value * 1000 / fd.timescale;
        if (auto st =
                audio_.writeUntil(writer_, AudioTimeline::samplesFor(endMs + timing_.audioLeadMs,
                                                                     timing_.sampleRate));
            !st)
            return Error{st.error().message};
        queue_.encoded(i);
        if (progress) progress(double(i + 1) / double(count) * 0.99);
    }
    return Ok{};
}

} // namespace qv::platform::media
