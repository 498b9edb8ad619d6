#include "platform/media/audio_interleaver.h"

#include <algorithm>

namespace qv::platform::media {

Result<std::unique_ptr<AudioInterleaver>>
AudioInterleaver::open(const Asset &asset, const AudioMix *mix, int sampleRate) {
    std::vector<std::unique_ptr<AudioTimeline>> tracks;
    for (const CompositionTrack *track : asset.tracksWithMediaType(MediaType::audio)) {
        double volume = 1;
        if (mix)
            for (const auto &p : mix->inputParameters)
                if (p.trackID == track->trackID) volume = p.volume;
        auto timeline = AudioTimeline::open(*track, sampleRate, 0, volume);
        if (!timeline) return timeline.error();
        tracks.push_back(std::move(timeline.value()));
    }
    return std::unique_ptr<AudioInterleaver>(new AudioInterleaver(
        std::move(tracks), AudioTimeline::samplesFor(asset.durationMs, sampleRate)));
}

AudioInterleaver::AudioInterleaver(std::vector<std::unique_ptr<AudioTimeline>> tracks,
                                   std::int64_t totalSamples)
    : tracks_(std::move(tracks)), totalSamples_(totalSamples) {
    for (const auto &t : tracks_) channels_ = std::max(channels_, t->channels());
    mix_.resize(std::size_t(channels_));
}

Status AudioInterleaver::writeUntil(MovieWriter &writer, std::int64_t end) {
    end = std::min(end, totalSamples_);
    while (hasSound() && writer.audioSampleCount() < end) {
        const int n = int(std::min<std::int64_t>(4096, end - writer.audioSampleCount()));
        for (auto &b : mix_) b.assign(std::size_t(n), 0.0f);
        for (auto &track : tracks_) {
            for (auto &p : part_) p.resize(std::size_t(n));
            float *planes[2] = {part_[0].data(), part_[1].data()};
            if (auto st = track->read(planes, n); !st) return st;
            for (int c = 0; c < channels_; ++c) {
                const auto &from = part_[std::size_t(std::min(c, track->channels() - 1))];
                for (int i = 0; i < n; ++i)
                    mix_[std::size_t(c)][std::size_t(i)] += from[std::size_t(i)];
            }
        }
        std::vector<const float *> planes;
        for (auto &b : mix_) planes.push_back(b.data());
        if (auto st = writer.appendAudio(planes.data(), n); !st) return st;
    }
    return Ok{};
}

} // namespace qv::platform::media
