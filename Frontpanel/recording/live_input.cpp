#include "Frontpanel/recording/live_input.h"

#include "platform/core/clock.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <algorithm>
#include <mutex>
#include <thread>

namespace qv::frontpanel {

std::string avErrorText(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

void registerCaptureDevices() {
    static std::once_flag devices;
    std::call_once(devices, [] { avdevice_register_all(); });
}

int LiveInput::interrupted(void *self) {
    return static_cast<LiveInput *>(self)->stop_.load() ? 1 : 0;
}

Result<std::unique_ptr<LiveInput>> LiveInput::open(const CaptureInput &input, AVMediaType type,
                                                   std::string label) {
    registerCaptureDevices();
    std::unique_ptr<LiveInput> in(new LiveInput);
    in->label_ = std::move(label);
    const std::string name = in->label_ + " (" +
                             (input.format.empty() ? std::string() : input.format + " ") +
                             input.url + ")";
    const AVInputFormat *format = nullptr;
    if (!input.format.empty()) {
        format = av_find_input_format(input.format.c_str());
        if (!format) return Error{name + ": FFmpeg has no input format " + input.format};
    }
    in->format_ = avformat_alloc_context();
    if (!in->format_) return Error{name + ": not enough memory"};
    in->format_->interrupt_callback = {&LiveInput::interrupted, in.get()};
    AVDictionary *options = nullptr;
    for (const auto &[key, value] : input.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    int rc = avformat_open_input(&in->format_, input.url.c_str(), format, &options);
    av_dict_free(&options);
    if (rc < 0) return Error{name + ": cannot open: " + avErrorText(rc)};
    // A device describes its stream when opened. Probing it would read (and keep) packets
    // whose stamps are already old when the recording starts.
    const bool described =
        in->format_->nb_streams > 0 &&
        std::all_of(in->format_->streams, in->format_->streams + in->format_->nb_streams,
                    [](const AVStream *st) {
                        const AVCodecParameters *p = st->codecpar;
                        return p->codec_id != AV_CODEC_ID_NONE &&
                               ((p->width > 0 && p->height > 0) ||
                                (p->sample_rate > 0 && p->ch_layout.nb_channels > 0));
                    });
    if (!described && (rc = avformat_find_stream_info(in->format_, nullptr)) < 0)
        return Error{name + ": cannot read: " + avErrorText(rc)};
    const int index = av_find_best_stream(in->format_, type, -1, -1, nullptr, 0);
    if (index < 0)
        return Error{name + ": has no " +
                     (type == AVMEDIA_TYPE_VIDEO ? std::string("video") : std::string("sound"))};
    in->stream_ = in->format_->streams[index];
    return in;
}

Result<AVCodecContext *> LiveInput::openDecoder() const {
    const AVCodec *codec = avcodec_find_decoder(stream_->codecpar->codec_id);
    if (!codec) return Error{label_ + ": FFmpeg cannot decode what it delivers"};
    AVCodecContext *decoder = avcodec_alloc_context3(codec);
    if (!decoder) return Error{label_ + ": not enough memory"};
    int rc = avcodec_parameters_to_context(decoder, stream_->codecpar);
    if (rc >= 0) rc = avcodec_open2(decoder, codec, nullptr);
    if (rc < 0) {
        avcodec_free_context(&decoder);
        return Error{label_ + ": cannot open its decoder: " + avErrorText(rc)};
    }
    return decoder;
}

LiveInput::~LiveInput() {
    if (format_) avformat_close_input(&format_);
}

Result<bool> LiveInput::read(AVPacket *packet, std::int64_t *hostNs) {
    for (;;) {
        if (stop_) return false;
        const int rc = av_read_frame(format_, packet);
        if (rc == AVERROR_EOF || (rc < 0 && stop_)) return false;
        if (rc == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if (rc < 0) return Error{label_ + ": cannot read: " + avErrorText(rc)};
        if (packet->stream_index != stream_->index) {
            av_packet_unref(packet);
            continue;
        }
        const std::int64_t arrivalNs = platform::hostTimeNs();
        const std::int64_t wallNs = wallTimeNs();
        const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const std::int64_t stampNs =
            pts == AV_NOPTS_VALUE
                ? arrivalNs
                : av_rescale_q(pts, stream_->time_base, AVRational{1, 1000000000});
        if (first_) {
            first_ = false;
            const StampMatch match = matchStamp(stampNs, arrivalNs, wallNs);
            clock_ = match.clock;
            firstLatencyNs_ = match.latencyNs;
            firstStampNs_ = stampNs;
            firstArrivalNs_ = arrivalNs;
        }
        switch (clock_.load()) {
        case StampClock::monotonic:
            *hostNs = stampNs;
            break;
        case StampClock::wallClock:
            *hostNs = stampNs - (wallNs - arrivalNs);
            break;
        case StampClock::none: {
            // A file or a generator delivers as fast as it is read: play it out in real time.
            const std::int64_t due = firstArrivalNs_ + (stampNs - firstStampNs_);
            while (!stop_ && platform::hostTimeNs() < due)
                std::this_thread::sleep_for(std::chrono::nanoseconds(
                    std::min<std::int64_t>(due - platform::hostTimeNs(), 20'000'000)));
            *hostNs = std::max(due, arrivalNs);
            break;
        }
        }
        return true;
    }
}

} // namespace qv::frontpanel
