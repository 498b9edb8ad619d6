#include "platform/media/audio_timeline.h"

#include "platform/media/ffmpeg_support.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

namespace qv::platform::media {

struct AudioTimeline::State {
    std::string name;
    ff::OpenedStream in;
    ff::Packet packet{av_packet_alloc()};
    ff::Frame frame{av_frame_alloc()};
    SwrContext *swr = nullptr;
    int rate = 48000;
    int channels = 2;
    float volume = 1;
    std::vector<TrackSegment> segments;
    std::size_t segment = 0;
    std::int64_t position = 0; // next timeline sample

    // Decoded source samples [fifoStart, fifoStart + size) at the output rate.
    std::vector<std::vector<float>> fifo;
    std::size_t head = 0; // samples already dropped from the front of each fifo vector
    std::int64_t fifoStart = 0;
    bool positioned = false, draining = false, ended = false;
    bool sought = false; // the file was sought: its reading no longer starts at its start
    std::vector<std::vector<float>> scratch;

    ~State() { swr_free(&swr); }

    std::int64_t fifoEnd() const { return fifoStart + std::int64_t(fifo[0].size() - head); }

    Status initResampler(const AVFrame &f) {
        AVChannelLayout inLayout{}, outLayout{};
        if (f.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f.ch_layout.nb_channels <= 0)
            av_channel_layout_default(&inLayout, std::max(1, f.ch_layout.nb_channels));
        else
            av_channel_layout_copy(&inLayout, &f.ch_layout);
        av_channel_layout_default(&outLayout, channels);
        const int rc = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLTP, rate, &inLayout,
                                           AVSampleFormat(f.format), f.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (rc < 0 || swr_init(swr) < 0)
            return Error{name + ": cannot convert its sound to " + std::to_string(rate) + " Hz"};
        return Ok{};
    }

    void append(int count) {
        for (int c = 0; c < channels; ++c)
            fifo[c].insert(fifo[c].end(), scratch[c].begin(), scratch[c].begin() + count);
    }

    Status convert(const AVFrame *f) {
        const int capacity = swr_get_out_samples(swr, f ? f->nb_samples : 0);
        if (capacity <= 0) return Ok{};
        std::vector<std::uint8_t *> out(channels);
        for (int c = 0; c < channels; ++c) {
            if (int(scratch[c].size()) < capacity) scratch[c].resize(capacity);
            out[c] = reinterpret_cast<std::uint8_t *>(scratch[c].data());
        }
        const int n = swr_convert(swr, out.data(), capacity,
                                  f ? const_cast<const std::uint8_t **>(f->extended_data) : nullptr,
                                  f ? f->nb_samples : 0);
        if (n < 0) return Error{name + ": cannot resample the sound: " + ff::errorText(n)};
        append(n);
        return Ok{};
    }

    // Decodes until more samples are in the fifo or the file has ended.
    Status decodeMore() {
        for (;;) {
            int rc = avcodec_receive_frame(in.decoder.get(), frame.get());
            if (rc == 0) {
                if (!swr) {
                    if (auto s = initResampler(*frame); !s) return s;
                }
                if (!positioned) {
                    // Times count from the stream's start, like the video's.
                    AVStream *st = in.stream();
                    const std::int64_t start =
                        st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
                    const std::int64_t pts = frame->best_effort_timestamp;
                    fifoStart = pts == AV_NOPTS_VALUE
                                    ? 0
                                    : av_rescale_q(pts - start, st->time_base, AVRational{1, rate});
                    positioned = true;
                }
                Status s = convert(frame.get());
                av_frame_unref(frame.get());
                return s;
            }
            if (rc == AVERROR_EOF) {
                if (swr) {
                    if (auto s = convert(nullptr); !s) return s;
                }
                ended = true;
                return Ok{};
            }
            if (rc != AVERROR(EAGAIN))
                return Error{name + ": cannot decode the sound: " + ff::errorText(rc)};
            if (draining) {
                ended = true;
                return Ok{};
            }
            rc = av_read_frame(in.format.get(), packet.get());
            if (rc == AVERROR_EOF) {
                draining = true;
                avcodec_send_packet(in.decoder.get(), nullptr);
                continue;
            }
            if (rc < 0) return Error{name + ": cannot read the sound: " + ff::errorText(rc)};
            if (packet->stream_index != in.streamIndex) {
                av_packet_unref(packet.get());
                continue;
            }
            rc = avcodec_send_packet(in.decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN))
                return Error{name + ": the sound data is damaged: " + ff::errorText(rc)};
        }
    }

    // The source sample, or silence outside the file.
    Result<float> sample(int channel, std::int64_t at) {
        while (!ended && at >= fifoEnd()) {
            if (auto s = decodeMore(); !s) return s.error();
        }
        if (at < fifoStart || at >= fifoEnd()) return 0.0f;
        return fifo[channel][head + std::size_t(at - fifoStart)];
    }

    // Makes source sample `at` the next to be decoded, seeking when it is not decoded yet and
    // lies behind what is, or more than a few seconds ahead.
    void seekSource(std::int64_t at) {
        if (positioned && at >= fifoStart && at < fifoEnd() + 5 * std::int64_t(rate)) return;
        if (!positioned && !sought && at < 5 * std::int64_t(rate)) return; // near the start
        AVStream *st = in.stream();
        const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        const std::int64_t leadIn = std::max<std::int64_t>(at - rate, 0);
        const std::int64_t ts = start + av_rescale_q(leadIn, AVRational{1, rate}, st->time_base);
        // A file that cannot seek is read through instead.
        if (av_seek_frame(in.format.get(), in.streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) return;
        avcodec_flush_buffers(in.decoder.get());
        swr_free(&swr); // its delay line holds sound from before the seek
        for (auto &v : fifo) v.clear();
        head = 0;
        fifoStart = 0;
        positioned = draining = ended = false;
        sought = true;
    }

    // Forgets samples before `at`; keeps the vectors from growing over a long export.
    void dropBefore(std::int64_t at) {
        if (at <= fifoStart) return;
        const std::int64_t drop = std::min(at - fifoStart, fifoEnd() - fifoStart);
        head += std::size_t(drop);
        fifoStart += drop;
        if (head > 1 << 16 && head * 2 > fifo[0].size()) {
            for (auto &v : fifo) v.erase(v.begin(), v.begin() + std::ptrdiff_t(head));
            head = 0;
        }
    }
};

AudioTimeline::AudioTimeline(std::unique_ptr<State> s) : s_(std::move(s)) {
}
AudioTimeline::~AudioTimeline() = default;

std::int64_t AudioTimeline::samplesFor(std::int64_t ms, int rate) noexcept {
    return ms * rate / 1000;
}

Result<std::unique_ptr<AudioTimeline>>
AudioTimeline::open(const CompositionTrack &track, int sampleRate, int channels, double volume) {
    auto s = std::make_unique<State>();
    s->name = track.file.string();
    if (!s->packet || !s->frame) return Error{s->name + ": not enough memory"};
    if (sampleRate < 1000 || sampleRate > 384000)
        return Error{s->name + ": unusable sample rate " + std::to_string(sampleRate)};
    if (auto problem = ff::openStream(s->name, AVMEDIA_TYPE_AUDIO, 1, s->in); !problem.empty())
        return Error{problem};
    s->rate = sampleRate;
    const int own = std::max(1, s->in.decoder->ch_layout.nb_channels);
    s->channels = channels > 0 ? std::min(channels, 2) : std::min(own, 2);
    s->volume = static_cast<float>(volume);
    s->segments = track.segments;
    s->fifo.resize(s->channels);
    s->scratch.resize(s->channels);
    return std::unique_ptr<AudioTimeline>(new AudioTimeline(std::move(s)));
}

int AudioTimeline::channels() const noexcept {
    return s_->channels;
}
int AudioTimeline::sampleRate() const noexcept {
    return s_->rate;
}

Status AudioTimeline::seek(std::int64_t at) {
    State &s = *s_;
    s.position = std::max<std::int64_t>(at, 0);
    s.segment = 0; // read() walks forward from here to the segment that holds the position
    std::int64_t source = s.position;
    if (!s.segments.empty()) {
        source = -1;
        for (const TrackSegment &seg : s.segments) {
            const std::int64_t tStart = samplesFor(seg.timelineStartMs, s.rate);
            const std::int64_t tEnd =
                samplesFor(seg.timelineStartMs + seg.timelineDurationMs, s.rate);
            if (s.position >= tEnd) continue;
            const std::int64_t local = std::max<std::int64_t>(s.position - tStart, 0);
            source = samplesFor(seg.sourceStartMs, s.rate) +
                     static_cast<std::int64_t>(std::floor(double(local) * seg.rate));
            break;
        }
        if (source < 0) return Ok{}; // after the last segment: silence, nothing to decode
    }
    s.seekSource(source);
    return Ok{};
}

Status AudioTimeline::read(float *const *planes, int count) {
    State &s = *s_;
    const int rate = s.rate;
    std::int64_t lowest = std::numeric_limits<std::int64_t>::max();
    for (int i = 0; i < count; ++i, ++s.position) {
        const std::int64_t j = s.position;
        // The segment that holds timeline sample j; none means silence.
        const TrackSegment *seg = nullptr;
        std::int64_t tStart = 0, sStart = 0, sEnd = 0;
        if (s.segments.empty()) {
            sStart = 0;
            sEnd = std::numeric_limits<std::int64_t>::max();
        } else {
            while (s.segment < s.segments.size()) {
                const TrackSegment &cand = s.segments[s.segment];
                const std::int64_t end =
                    samplesFor(cand.timelineStartMs + cand.timelineDurationMs, rate);
                if (j < end) break;
                ++s.segment;
            }
            if (s.segment < s.segments.size()) {
                const TrackSegment &cand = s.segments[s.segment];
                tStart = samplesFor(cand.timelineStartMs, rate);
                if (j >= tStart) {
                    seg = &cand;
                    sStart = samplesFor(cand.sourceStartMs, rate);
                    sEnd = samplesFor(cand.sourceEndMs, rate);
                }
            }
            if (!seg) {
                for (int c = 0; c < s.channels; ++c) planes[c][i] = 0;
                continue;
            }
        }
        const std::int64_t local = j - tStart;
        const double speed = seg ? seg->rate : 1.0;
        for (int c = 0; c < s.channels; ++c) {
            float value = 0;
            if (speed == 1.0) {
                const std::int64_t at = sStart + local;
                if (at < sEnd) {
                    auto v = s.sample(c, at);
                    if (!v) return v.error();
                    value = v.value();
                }
                lowest = std::min(lowest, at);
            } else {
                const double p = double(sStart) + double(local) * speed;
                const auto i0 = static_cast<std::int64_t>(std::floor(p));
                const double frac = p - double(i0);
                if (i0 < sEnd) {
                    auto a = s.sample(c, i0);
                    if (!a) return a.error();
                    auto b = i0 + 1 < sEnd ? s.sample(c, i0 + 1) : Result<float>(a.value());
                    if (!b) return b.error();
                    value = float(a.value() * (1 - frac) + b.value() * frac);
                }
                lowest = std::min(lowest, i0);
            }
            planes[c][i] = value * s.volume;
        }
    }
    if (lowest != std::numeric_limits<std::int64_t>::max()) s.dropBefore(lowest);
    return Ok{};
}

} // namespace qv::platform::media
