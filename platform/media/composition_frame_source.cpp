#include "platform/media/composition_frame_source.h"

#include "platform/media/video_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace qv::platform::media {

std::string frameClockText(Time time) {
    const auto ms = static_cast<long long>(std::llround(time.seconds() * 1000));
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld.%03lld", ms / 60000, ms / 1000 % 60, ms % 1000);
    return buf;
}

CompositionFrameSource::CompositionFrameSource(const Asset &asset,
                                               const VideoComposition &composition,
                                               std::string label)
    : asset_(asset), composition_(composition), label_(std::move(label)) {
}

CompositionFrameSource::~CompositionFrameSource() = default;

std::string CompositionFrameSource::prefixed(std::string message) const {
    return label_.empty() ? message : label_ + ": " + message;
}

Result<std::unique_ptr<CompositionFrameSource>>
CompositionFrameSource::open(const Asset &asset, const VideoComposition &composition,
                             std::string label) {
    std::unique_ptr<CompositionFrameSource> source(
        new CompositionFrameSource(asset, composition, std::move(label)));
    const Time fd = composition.frameDuration;
    if (fd.value <= 0 || fd.timescale <= 0)
        return Error{source->prefixed("the video composition has no usable frame rate")};
    if (asset.durationMs <= 0) return Error{source->prefixed("the composition is empty")};
    // Frame i starts at i × fd; every frame that starts before the end counts.
    source->frameCount_ =
        (asset.durationMs * fd.timescale + fd.value * 1000 - 1) / (fd.value * 1000);

    std::set<TrackID> required;
    for (const InstructionRef &instruction : composition.instructions)
        if (instruction)
            if (auto ids = instruction->requiredSourceTrackIDs())
                required.insert(ids->begin(), ids->end());
    for (TrackID id : required) {
        const CompositionTrack *track = asset.track(id);
        if (!track || track->mediaType != MediaType::video)
            return Error{
                source->prefixed("the composition has no video track " + std::to_string(id))};
        auto video = SequentialVideoSource::open(track->file);
        if (!video) return video.error();
        source->sources_.emplace(id, std::move(video.value()));
    }
    return source;
}

std::int64_t CompositionFrameSource::frameIndexAt(std::int64_t outputMs) const noexcept {
    if (outputMs < 0 || frameCount_ <= 0) return 0;
    const Time fd = composition_.frameDuration;
    // The last i with i × fd < outputMs + 1 ms.
    const __int128 index = (__int128(outputMs + 1) * fd.timescale - 1) / (fd.value * 1000);
    return static_cast<std::int64_t>(std::min<__int128>(index, frameCount_ - 1));
}

Time CompositionFrameSource::timeOf(std::int64_t index) const noexcept {
    const Time fd = composition_.frameDuration;
    return {index * fd.value, fd.timescale};
}

Result<CompositionFrameSource::Frame> CompositionFrameSource::frame(std::int64_t index) {
    if (index < 0 || index >= frameCount_)
        return Error{prefixed("there is no frame " + std::to_string(index) + " (it has " +
                              std::to_string(frameCount_) + ")")};
    Frame out;
    out.index = index;
    out.time = timeOf(index);
    out.instruction = composition_.instruction(out.time);
    if (!out.instruction)
        return Error{prefixed("no instruction covers the frame at " + frameClockText(out.time))};
    // The same whole-millisecond time the compositor maps through its segment map.
    const Time fd = composition_.frameDuration;
    const std::int64_t timelineMs = index * fd.value * 1000 / fd.timescale;
    if (auto ids = out.instruction->requiredSourceTrackIDs()) {
        for (TrackID id : *ids) {
            const CompositionTrack *track = asset_.track(id);
            auto decoded = sources_.at(id)->frameAt(track->sourceTimeMs(timelineMs));
            if (!decoded) return decoded.error();
            out.sources.emplace(id, std::move(decoded.value()));
        }
    }
    return out;
}

} // namespace qv::platform::media
