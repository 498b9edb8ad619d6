// The video-compositing protocol: how a player or an export session asks a custom compositor
// for frames. A request carries the output time, the instruction for that time range and the
// decoded source frames by track ID; the compositor finishes it exactly once, with a frame or
// with an error.
//
// Threading: requests are created on the caller's thread and may be finished from any thread.
// Lifetime: a request stays alive until it is finished (the compositor holds a shared_ptr).
#pragma once

#include "platform/core/geometry.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qv::platform::media {

// A rational time: value / timescale seconds.
struct Time {
    std::int64_t value = 0;
    std::int32_t timescale = 1000;
    constexpr double seconds() const noexcept {
        return timescale > 0 ? static_cast<double>(value) / timescale : 0.0;
    }
    friend constexpr bool operator==(const Time &, const Time &) = default;
};

struct TimeRange {
    Time start;
    Time duration;
    friend constexpr bool operator==(const TimeRange &, const TimeRange &) = default;
};

using TrackID = std::int32_t;
// The platform's value for "no track".
constexpr TrackID invalidTrackID = 0;

class VideoCompositionInstruction {
public:
    virtual ~VideoCompositionInstruction() = default;
    virtual TimeRange timeRange() const = 0;
    virtual bool enablePostProcessing() const = 0;
    virtual bool containsTweening() const = 0;
    virtual std::optional<std::vector<TrackID>> requiredSourceTrackIDs() const = 0;
    virtual TrackID passthroughTrackID() const = 0;
};
using InstructionRef = std::shared_ptr<const VideoCompositionInstruction>;

// Makes output buffers in the format the compositor asked for.
class RenderContext {
public:
    virtual ~RenderContext() = default;
    virtual Size size() const = 0;
    // Null when no buffer can be made.
    virtual PixelBufferRef newPixelBuffer() = 0;
};

struct CompositionError {
    std::string domain;
    int code = 0;
    std::string description;
};

class VideoCompositionRequest {
public:
    virtual ~VideoCompositionRequest() = default;
    virtual Time compositionTime() const = 0;
    virtual InstructionRef videoCompositionInstruction() const = 0;
    virtual RenderContext &renderContext() = 0;
    // Null when the frame of that track is missing at this time.
    virtual PixelBufferRef sourceFrame(TrackID trackID) const = 0;
    virtual void finish(PixelBufferRef composedFrame) = 0;
    virtual void finish(const CompositionError &error) = 0;
};
using RequestRef = std::shared_ptr<VideoCompositionRequest>;

// Keys and values of pixel-buffer attribute dictionaries.
using PixelBufferAttributeValue = std::variant<std::int64_t, bool, std::string>;
using PixelBufferAttributes = std::map<std::string, PixelBufferAttributeValue>;
inline constexpr const char *kPixelFormatTypeKey = "PixelFormatType";
inline constexpr const char *kMetalCompatibilityKey = "MetalCompatibility";

class VideoCompositing {
public:
    virtual ~VideoCompositing() = default;
    virtual std::optional<PixelBufferAttributes> sourcePixelBufferAttributes() const = 0;
    virtual PixelBufferAttributes requiredPixelBufferAttributesForRenderContext() const = 0;
    virtual void renderContextChanged(RenderContext &newContext) = 0;
    virtual void startRequest(RequestRef request) = 0;
    virtual void cancelAllPendingVideoCompositionRequests() = 0;
    // A hint that frames of this instruction at this size come next: the compositor may make
    // what they share (backgrounds, layers) now, before the first request. Optional; returns at
    // once.
    virtual void prerollForRendering(const InstructionRef &, Size) {}
};

} // namespace qv::platform::media
