#include "Frontpanel/recording/audio_capture.h"

#include "platform/media/movie_writer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace qv::frontpanel {

namespace media = platform::media;

SoundPlacement placeSound(std::int64_t writtenSamples, std::int64_t packetStart,
                          std::int64_t slack) noexcept {
    const std::int64_t gap = packetStart - writtenSamples;
    if (gap > slack) return {gap, 0};
    if (-gap > slack) return {0, -gap};
    return {};
}

SoundPlacement SoundPlacer::place(std::int64_t writtenSamples, std::int64_t packetStart) {
    if (!anchored_) {
        anchored_ = true;
        offsets_.clear();
        return placeSound(writtenSamples, packetStart, slack_);
    }
    offsets_.push_back(packetStart - writtenSamples);
    if (offsets_.size() < window_) return {};
    std::vector<std::int64_t> sorted = offsets_;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                     sorted.end());
    const std::int64_t median = sorted[sorted.size() / 2];
    offsets_.erase(offsets_.begin());
    if (std::abs(median) <= slack_) return {};
    offsets_.clear();
    return median > 0 ? SoundPlacement{median, 0} : SoundPlacement{0, -median};
}

struct AudioCapture::State {
    AudioCaptureSettings settings;
    SessionClock *clock = nullptr;
    std::unique_ptr<LiveInput> input;
    AVCodecContext *decoder = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    std::unique_ptr<media::MovieWriter> writer;
    int rate = 48000, channels = 1;
    std::vector<std::vector<float>> planes;
    // 10 ms of slack, judged over the last half second of 20 ms packets.
    SoundPlacer placer{480, 25};
    std::atomic<std::int64_t> written{0};
    std::atomic<double> level{NAN};
    std::optional<Error> failure;
    std::function<void(const Error &)> onFailure;
    std::thread thread;

    ~State() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&decoder);
    }

    // The frame's sound as float planes; false for a sample format the recorder cannot read.
    bool toPlanes() {
        const int n = frame->nb_samples;
        for (auto &p : planes) p.resize(std::size_t(n));
        const auto format = AVSampleFormat(frame->format);
        for (int ch = 0; ch < channels; ++ch) {
            float *out = planes[ch].data();
            for (int i = 0; i < n; ++i) {
                switch (format) {
                case AV_SAMPLE_FMT_S16:
                    out[i] =
                        reinterpret_cast<const std::int16_t *>(frame->data[0])[i * channels + ch] /
                        32768.0f;
                    break;
                case AV_SAMPLE_FMT_S16P:
                    out[i] = reinterpret_cast<const std::int16_t *>(frame->data[ch])[i] / 32768.0f;
                    break;
                case AV_SAMPLE_FMT_FLT:
                    out[i] = reinterpret_cast<const float *>(frame->data[0])[i * channels + ch];
                    break;
                case AV_SAMPLE_FMT_FLTP:
                    out[i] = reinterpret_cast<const float *>(frame->data[ch])[i];
                    break;
                default:
                    return false;
                }
            }
        }
        return true;
    }

    Status writeSilence(std::int64_t count) {
        std::vector<float> zeros(std::size_t(std::min<std::int64_t>(count, rate)), 0.0f);
        std::vector<const float *> ptrs(std::size_t(channels), zeros.data());
        while (count > 0) {
            const int n = int(std::min<std::int64_t>(count, std::int64_t(zeros.size())));
            if (auto st = writer->appendAudio(ptrs.data(), n); !st) return st;
            count -= n;
            written += n;
        }
        return Ok{};
    }

    Status place(std::int64_t hostNs) {
        if (!toPlanes()) return Error{"microphone: unsupported sample format"};
        const int n = frame->nb_samples;
        float peak = 0;
        for (const auto &p : planes)
            for (int i = 0; i < n; ++i) peak = std::max(peak, std::fabs(p[i]));
        level = peak > 0 ? 20.0 * std::log10(peak) : -120.0;
        const auto t = clock->continuousNs(hostNs);
        if (!t) return Ok{}; // no origin yet: nothing to place it against
        // Sound inside a pause is left out, like the frames.
        if (*t >= 0 && !clock->recordingNs(hostNs)) {
            placer.reset();
            return Ok{};
        }
        const std::int64_t start = std::int64_t(std::floor(double(*t) * rate / 1e9));
        const SoundPlacement where = placer.place(written, start);
        if (where.skip >= n) return Ok{};
        if (where.silence > 0)
            if (auto st = writeSilence(where.silence); !st) return st;
        std::vector<const float *> ptrs;
        for (const auto &p : planes) ptrs.push_back(p.data() + where.skip);
        const int count = n - int(where.skip);
        if (auto st = writer->appendAudio(ptrs.data(), count); !st) return st;
        written += count;
        return Ok{};
    }

    void loop() {
        for (;;) {
            std::int64_t hostNs = 0;
            const auto got = input->read(packet, &hostNs);
            if (!got) {
                report(got.error());
                return;
            }
            if (!*got) return;
            int rc = avcodec_send_packet(decoder, packet);
            av_packet_unref(packet);
            if (rc < 0) {
                report(Error{"microphone: cannot decode: " + avErrorText(rc)});
                return;
            }
            // Later frames of one packet follow the first without a gap.
            std::int64_t at = hostNs;
            while ((rc = avcodec_receive_frame(decoder, frame)) >= 0) {
                const Status st = place(at);
                at += std::int64_t(frame->nb_samples) * 1'000'000'000 / rate;
                av_frame_unref(frame);
                if (!st) {
                    report(st.error());
                    return;
                }
            }
        }
    }

    void report(Error e) {
        failure = e;
        if (onFailure) onFailure(e);
    }
};

Result<std::unique_ptr<AudioCapture>> AudioCapture::open(AudioCaptureSettings settings,
                                                         SessionClock &clock) {
    auto s = std::make_unique<State>();
    s->clock = &clock;
    auto input = LiveInput::open(settings.input, AVMEDIA_TYPE_AUDIO, "microphone");
    if (!input) return input.error();
    s->input = std::move(input).value();
    auto decoder = s->input->openDecoder();
    if (!decoder) return decoder.error();
    s->decoder = *decoder;
    s->frame = av_frame_alloc();
    s->packet = av_packet_alloc();
    if (!s->frame || !s->packet) return Error{"microphone: not enough memory"};
    s->rate = s->decoder->sample_rate;
    s->channels = s->decoder->ch_layout.nb_channels;
    if (s->rate <= 0 || s->channels < 1 || s->channels > 2)
        return Error{"microphone: " + std::to_string(s->channels) + " channels at " +
                     std::to_string(s->rate) + " Hz cannot be recorded (one or two channels)"};
    s->planes.assign(std::size_t(s->channels), {});
    s->placer = SoundPlacer(s->rate / 100, 25);

    media::MovieWriter::Settings out;
    out.audio = media::AudioEncoderSettings{"aac", 160'000};
    out.sampleRate = s->rate;
    out.audioChannels = s->channels;
    auto writer = media::MovieWriter::create(settings.destination, out);
    if (!writer) return writer.error();
    s->writer = std::move(writer).value();
    s->settings = std::move(settings);
    return std::unique_ptr<AudioCapture>(new AudioCapture(std::move(s)));
}

AudioCapture::AudioCapture(std::unique_ptr<State> s) : s_(std::move(s)) {
}

AudioCapture::~AudioCapture() {
    s_->input->requestStop();
    if (s_->thread.joinable()) s_->thread.join();
}

void AudioCapture::start(std::function<void(const Error &)> onFailure) {
    s_->onFailure = std::move(onFailure);
    s_->thread = std::thread([s = s_.get()] { s->loop(); });
}

Status AudioCapture::finish(std::int64_t durationNs) {
    State &s = *s_;
    s.input->requestStop();
    if (s.thread.joinable()) s.thread.join();
    if (s.failure) {
        s.writer->abandon();
        return *s.failure;
    }
    // The sound lasts as long as the recording, so the file ends with the screen.
    const std::int64_t total = durationNs * s.rate / 1'000'000'000;
    if (total > s.written)
        if (auto st = s.writeSilence(total - s.written); !st) return st;
    return s.writer->finish();
}

void AudioCapture::abandon() noexcept {
    s_->input->requestStop();
    if (s_->thread.joinable()) s_->thread.join();
    s_->writer->abandon();
}

std::optional<double> AudioCapture::levelDb() const noexcept {
    const double v = s_->level.load();
    if (std::isnan(v)) return std::nullopt;
    return v;
}

std::int64_t AudioCapture::samples() const noexcept {
    return s_->written.load();
}
StampClock AudioCapture::stampClock() const noexcept {
    return s_->input->clock();
}
std::int64_t AudioCapture::firstLatencyNs() const noexcept {
    return s_->input->firstLatencyNs();
}

} // namespace qv::frontpanel
