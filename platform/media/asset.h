// A composition as the export session consumes it: source files arranged on one output
// timeline (the composed asset), how its video frames are drawn (the video composition, whose
// instructions go to a custom compositor), and how its audio is mixed.
//
// Thread safety: immutable values once built; share them by shared_ptr between threads.
#pragma once

#include "platform/core/geometry.h"
#include "platform/media/video_compositing.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace qv::platform::media {

enum class MediaType { video, audio };

// [sourceStartMs, sourceEndMs) of the source file plays at `rate` from timelineStartMs for
// timelineDurationMs.
struct TrackSegment {
    std::int64_t sourceStartMs = 0;
    std::int64_t sourceEndMs = 0; // exclusive
    double rate = 1;
    std::int64_t timelineStartMs = 0;
    std::int64_t timelineDurationMs = 0;
    friend bool operator==(const TrackSegment &, const TrackSegment &) = default;
};

struct CompositionTrack {
    TrackID trackID = invalidTrackID;
    MediaType mediaType = MediaType::video;
    std::filesystem::path file;         // the track is the file's first stream of `mediaType`
    std::vector<TrackSegment> segments; // ascending timeline, no gaps

    // The source millisecond shown at a timeline millisecond: within a segment
    // sourceStart + floor((t - timelineStart) × rate), at most sourceEnd - 1; before the first
    // segment its start, after the last its last millisecond. With no segments, t itself.
    std::int64_t sourceTimeMs(std::int64_t timelineMs) const noexcept;
    // True when the track plays its whole file unchanged from time 0.
    bool isUnedited() const noexcept;
};

// The composed asset.
struct Asset {
    std::vector<CompositionTrack> tracks;
    std::int64_t durationMs = 0; // the timeline's length

    const CompositionTrack *track(TrackID id) const noexcept;
    std::vector<const CompositionTrack *> tracksWithMediaType(MediaType type) const;
};

// How each output frame is made: one instruction per time range, drawn by a compositor that the
// session creates from `customVideoCompositor` for each export.
struct VideoComposition {
    Size renderSize;
    Time frameDuration{1, 30};
    std::vector<InstructionRef> instructions; // ascending, covering the whole timeline
    std::function<std::unique_ptr<VideoCompositing>()> customVideoCompositor;

    // The instruction whose range holds the time, or null.
    InstructionRef instruction(Time at) const;
};

struct AudioMix {
    struct InputParameters {
        TrackID trackID = invalidTrackID;
        double volume = 1;
        friend bool operator==(const InputParameters &, const InputParameters &) = default;
    };
    std::vector<InputParameters> inputParameters;
};

} // namespace qv::platform::media
