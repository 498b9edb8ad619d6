#include "platform/media/media_probe.h"

#include "platform/media/ffmpeg_support.h"

namespace qv::platform::media {

namespace {

double streamSeconds(const ff::OpenedStream &s) {
    const AVStream *st = s.stream();
    if (st->duration > 0) return double(st->duration) * av_q2d(st->time_base);
    if (s.format->duration > 0) return double(s.format->duration) / AV_TIME_BASE;
    return 0;
}

} // namespace

Result<VideoStreamInfo> probeVideo(const std::filesystem::path &file) {
    ff::OpenedStream s;
    if (auto problem = ff::openStream(file.string(), AVMEDIA_TYPE_VIDEO, 1, s); !problem.empty())
        return Error{problem};
    VideoStreamInfo info;
    info.size = {double(s.decoder->width), double(s.decoder->height)};
    if (!(info.size.width >= 1 && info.size.height >= 1))
        return Error{file.string() + ": the video has no picture size"};
    const AVStream *st = s.stream();
    // Screen recordings may have a variable rate; the average is what they were made at.
    AVRational rate = st->avg_frame_rate;
    if (!(rate.num > 0 && rate.den > 0 && av_q2d(rate) >= 1 && av_q2d(rate) <= 240))
        rate = st->r_frame_rate;
    if (!(rate.num > 0 && rate.den > 0 && av_q2d(rate) >= 1 && av_q2d(rate) <= 240))
        rate = AVRational{30, 1};
    int num = 0, den = 0;
    av_reduce(&num, &den, rate.den, rate.num, 1000000);
    info.frameDuration = Time{num, den};
    info.durationSeconds = streamSeconds(s);
    return info;
}

Result<AudioStreamInfo> probeAudio(const std::filesystem::path &file) {
    ff::OpenedStream s;
    if (auto problem = ff::openStream(file.string(), AVMEDIA_TYPE_AUDIO, 1, s); !problem.empty())
        return Error{problem};
    AudioStreamInfo info;
    info.channels = s.decoder->ch_layout.nb_channels;
    info.sampleRate = s.decoder->sample_rate;
    info.durationSeconds = streamSeconds(s);
    return info;
}

} // namespace qv::platform::media
