// The sound of one audio track laid out on the composition's timeline: the file is decoded
// front to back from where it is read (see seek()), resampled to the output rate, and each
// segment's source range is copied to its place on the timeline (a segment played faster or slower
// is resampled, so its sound keeps exactly the segment's timeline length and stays in step with the
// picture). Where the file has no sound (before its first sample, after its end) the timeline is
// silent.
//
// Thread safety: one thread at a time.
#pragma once

#include "platform/core/result.h"
#include "platform/media/asset.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace qv::platform::media {

class AudioTimeline {
public:
    // `channels` of 0 takes the file's own count, limited to two.
    static Result<std::unique_ptr<AudioTimeline>>
    open(const CompositionTrack &track, int sampleRate, int channels = 0, double volume = 1);
    ~AudioTimeline();
    AudioTimeline(const AudioTimeline &) = delete;
    AudioTimeline &operator=(const AudioTimeline &) = delete;

    int channels() const noexcept;
    int sampleRate() const noexcept;

    // Writes the next `count` samples of every channel (planar, float) and moves on.
    Status read(float *const *planes, int count);

    // Moves to timeline sample `at`, where the next read starts. A source sample behind what is
    // decoded, or seconds ahead of it, is reached by seeking in the file (to a second before
    // it, which the decoder needs to settle) instead of decoding everything before it.
    Status seek(std::int64_t at);

    // How many samples the timeline of `durationMs` holds at the rate.
    static std::int64_t samplesFor(std::int64_t durationMs, int sampleRate) noexcept;

private:
    struct State;
    explicit AudioTimeline(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

} // namespace qv::platform::media
