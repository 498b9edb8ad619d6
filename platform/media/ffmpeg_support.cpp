#include "platform/media/ffmpeg_support.h"

namespace qv::platform::media::ff {

std::string openStream(const std::string &file, AVMediaType type, int decoderThreads,
                       OpenedStream &out) {
    AVFormatContext *raw = nullptr;
    int rc = avformat_open_input(&raw, file.c_str(), nullptr, nullptr);
    if (rc < 0) return file + ": cannot open: " + errorText(rc);
    out.format.reset(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0)
        return file + ": cannot read its streams: " + errorText(rc);
    const AVCodec *codec = nullptr;
    out.streamIndex = av_find_best_stream(raw, type, -1, -1, &codec, 0);
    const char *kind = type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    if (out.streamIndex < 0 || !codec)
        return file + ": has no " + kind + " stream that can be decoded";
    out.decoder.reset(avcodec_alloc_context3(codec));
    if (!out.decoder) return file + ": out of memory";
    AVStream *st = raw->streams[out.streamIndex];
    if ((rc = avcodec_parameters_to_context(out.decoder.get(), st->codecpar)) < 0)
        return file + ": unusable " + kind + " parameters: " + errorText(rc);
    out.decoder->pkt_timebase = st->time_base;
    out.decoder->thread_count = decoderThreads;
    if ((rc = avcodec_open2(out.decoder.get(), codec, nullptr)) < 0)
        return file + ": cannot open the " + kind + " decoder: " + errorText(rc);
    return {};
}

} // namespace qv::platform::media::ff
