// The last stage of a composition export: takes each composed frame from the frame queue in
// order, converts and encodes it, and has the audio interleaver write the sound of the same
// stretch of timeline (and a little more), so that the file stays interleaved.
//
// Thread safety: one thread at a time (the encoder thread).
#pragma once

#include "platform/media/audio_interleaver.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/export_frame_queue.h"
#include "platform/media/media_error.h"
#include "platform/media/movie_writer.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace qv::platform::media {

class ExportEncodeStage {
public:
    struct Timing {
        Time frameDuration;
        int sampleRate = 48000;
        // The sound is written this far ahead of the video already encoded.
        std::int64_t audioLeadMs = 500;
        // A compositor that has not delivered the awaited frame for this long is stuck.
        std::chrono::steady_clock::duration frameTimeout = std::chrono::seconds(120);
    };

    ExportEncodeStage(ExportFrameQueue &queue, MovieWriter &writer, AudioInterleaver &audio,
                      Timing timing, std::string name)
        : queue_(queue), writer_(writer), audio_(audio), timing_(timing), name_(std::move(name)) {}

    // Encodes frames [0, count) with their sound; `progress` gets the fraction encoded. Succeeds
    // when every frame was written or the queue was closed (a cancel, or a failure the other
    // stage reports); else fails with the reason.
    Status run(std::int64_t count, const std::function<void(double)> &progress);

private:
    ExportFrameQueue &queue_;
    MovieWriter &writer_;
    AudioInterleaver &audio_;
    const Timing timing_;
    const std::string name_;
};

} // namespace qv::platform::media
