// The sound of an export: every audio track of the asset, each at the volume the audio mix gives
// it, mixed and written beside the video so that the file stays interleaved.
//
// Thread safety: one thread at a time (the encode stage's).
#pragma once

#include "platform/core/result.h"
#include "platform/media/asset.h"
#include "platform/media/audio_timeline.h"
#include "platform/media/movie_writer.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qv::platform::media {

class AudioInterleaver {
public:
    // Opens every audio track of the asset; `mix` may be null (every track at full volume).
    static Result<std::unique_ptr<AudioInterleaver>> open(const Asset &asset, const AudioMix *mix,
                                                          int sampleRate);

    bool hasSound() const noexcept { return !tracks_.empty(); }
    // The most channels of any track (1 without sound): the movie's channel count.
    int channels() const noexcept { return channels_; }

    // Writes the mix up to sample `end` of the timeline (at most `totalSamples`).
    Status writeUntil(MovieWriter &writer, std::int64_t end);

private:
    AudioInterleaver(std::vector<std::unique_ptr<AudioTimeline>> tracks, std::int64_t totalSamples);

    std::vector<std::unique_ptr<AudioTimeline>> tracks_;
    std::int64_t totalSamples_;
    int channels_ = 1;
    std::vector<std::vector<float>> mix_, part_{2};
};

} // namespace qv::platform::media
