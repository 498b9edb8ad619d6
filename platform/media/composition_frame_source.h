// The source frames of a composition's output frames: for output frame i, the instruction that
// covers it and, for each track that instruction requires, the decoded frame on screen at the
// source time the track maps frame i to. The export, `quillvane frame` and a preview all take
// their frames from here, so they show the same pictures for the same output time.
//
// Output frame i is drawn for composition time i × frameDuration; its timeline millisecond is
// that time truncated to a whole millisecond, which is what the compositor maps through its
// segment map too.
//
// Thread safety: one thread at a time. Lifetime: the frames it returns may outlive it; it
// refers to the asset and the composition, which must outlive it.
#pragma once

#include "platform/core/result.h"
#include "platform/media/asset.h"
#include "platform/media/video_compositing.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace qv::platform::media {

class SequentialVideoSource;

// A composition time as messages about frames show it: "mm:ss.mmm".
std::string frameClockText(Time time);

class CompositionFrameSource {
public:
    // Opens each video track that the composition's instructions require, once. Problems of the
    // composition itself (no frame rate, a missing track, a frame no instruction covers) are
    // reported after `label` and ": " when it is not empty; problems of a source file name the
    // file.
    static Result<std::unique_ptr<CompositionFrameSource>>
    open(const Asset &asset, const VideoComposition &composition, std::string label = {});
    ~CompositionFrameSource();
    CompositionFrameSource(const CompositionFrameSource &) = delete;
    CompositionFrameSource &operator=(const CompositionFrameSource &) = delete;

    struct Frame {
        std::int64_t index = 0;
        Time time;
        InstructionRef instruction;
        std::map<TrackID, PixelBufferRef> sources;
    };

    // Every frame that starts before the asset's end.
    std::int64_t frameCount() const noexcept { return frameCount_; }
    // The frame on screen during output millisecond `outputMs`: the last one that starts before
    // outputMs + 1, so a frame that starts exactly on a millisecond is that millisecond's frame.
    // Clamped to the first and the last frame.
    std::int64_t frameIndexAt(std::int64_t outputMs) const noexcept;
    // The composition time of frame `index`.
    Time timeOf(std::int64_t index) const noexcept;
    // Frame `index` (0 ≤ index < frameCount()), in any order; ascending indices decode forward,
    // which is the fast way through.
    Result<Frame> frame(std::int64_t index);

private:
    CompositionFrameSource(const Asset &, const VideoComposition &, std::string label);
    std::string prefixed(std::string message) const;

    const Asset &asset_;
    const VideoComposition &composition_;
    std::string label_;
    std::int64_t frameCount_ = 0;
    std::map<TrackID, std::unique_ptr<SequentialVideoSource>> sources_;
};

} // namespace qv::platform::media
