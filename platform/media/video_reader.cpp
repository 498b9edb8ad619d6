#include "platform/media/video_reader.h"

#include "platform/media/ffmpeg_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>

namespace qv::platform::media {

namespace {
std::string avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

int swsColorspace(AVColorSpace cs) {
    switch (cs) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return SWS_CS_ITU601;
    }
}
} // namespace

struct VideoFrameReader::State {
    std::string name;
    AVFormatContext *fmt = nullptr;
    AVCodecContext *dec = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    SwsContext *sws = nullptr;
    int stream = -1;

    ~State() {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }

    double seconds(std::int64_t pts) const { return pts * av_q2d(fmt->streams[stream]->time_base); }

    Result<PixelBufferRef> toBGRA(const AVFrame *f) {
        auto out = PixelBuffer::create(f->width, f->height, PixelFormat::bgra8);
        if (!out) return Error{name + ": frame of unusable size"};
        sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), f->width,
                                   f->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                   nullptr);
        if (!sws) return Error{name + ": cannot convert its pixel format to BGRA"};
        // Read the source's own matrix and range instead of assuming them.
        const int *coeffs = sws_getCoefficients(swsColorspace(f->colorspace));
        const int srcFull = f->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        sws_setColorspaceDetails(sws, coeffs, srcFull, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
        std::uint8_t *dst[4] = {out->baseAddress(), nullptr, nullptr, nullptr};
        int stride[4] = {static_cast<int>(out->bytesPerRow()), 0, 0, 0};
        sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
        return out;
    }
};

VideoFrameReader::VideoFrameReader(std::unique_ptr<State> s) : s_(std::move(s)) {
}
VideoFrameReader::~VideoFrameReader() = default;

Result<std::unique_ptr<VideoFrameReader>>
VideoFrameReader::open(const std::filesystem::path &file) {
    auto s = std::make_unique<State>();
    s->name = file.string();
    if (std::string problem = ff::openInput(s->name, &s->fmt); !problem.empty())
        return Error{problem};
    int rc = 0;
    if ((rc = avformat_find_stream_info(s->fmt, nullptr)) < 0)
        return Error{s->name + ": cannot read stream info: " + avError(rc)};
    const AVCodec *codec = nullptr;
    s->stream = av_find_best_stream(s->fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (s->stream < 0 || !codec) return Error{s->name + ": no decodable video stream"};
    s->dec = avcodec_alloc_context3(codec);
    s->frame = av_frame_alloc();
    s->packet = av_packet_alloc();
    if (!s->dec || !s->frame || !s->packet) return Error{s->name + ": not enough memory"};
    avcodec_parameters_to_context(s->dec, s->fmt->streams[s->stream]->codecpar);
    s->dec->pkt_timebase = s->fmt->streams[s->stream]->time_base;
    if ((rc = avcodec_open2(s->dec, codec, nullptr)) < 0)
        return Error{s->name + ": cannot open decoder: " + avError(rc)};
    return std::unique_ptr<VideoFrameReader>(new VideoFrameReader(std::move(s)));
}

Size VideoFrameReader::size() const noexcept {
    return {double(s_->dec->width), double(s_->dec->height)};
}

double VideoFrameReader::durationSeconds() const noexcept {
    const AVStream *st = s_->fmt->streams[s_->stream];
    if (st->duration > 0) return s_->seconds(st->duration);
    return s_->fmt->duration > 0 ? s_->fmt->duration / double(AV_TIME_BASE) : 0;
}

Result<PixelBufferRef> VideoFrameReader::frameAt(double seconds) {
    State &s = *s_;
    const AVStream *st = s.fmt->streams[s.stream];
    const auto target = static_cast<std::int64_t>(std::floor(seconds / av_q2d(st->time_base)));
    av_seek_frame(s.fmt, s.stream, target, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(s.dec);

    AVFrame *kept = av_frame_alloc();
    if (!kept) return Error{s.name + ": not enough memory"};
    bool haveKept = false, done = false, draining = false;
    while (!done) {
        int rc = draining ? AVERROR_EOF : av_read_frame(s.fmt, s.packet);
        if (rc == AVERROR_EOF && !draining) {
            draining = true;
            avcodec_send_packet(s.dec, nullptr);
        } else if (rc < 0 && !draining) {
            av_frame_free(&kept);
            return Error{s.name + ": read error: " + avError(rc)};
        } else if (!draining) {
            if (s.packet->stream_index == s.stream) avcodec_send_packet(s.dec, s.packet);
            av_packet_unref(s.packet);
        }
        while ((rc = avcodec_receive_frame(s.dec, s.frame)) >= 0) {
            const std::int64_t pts = s.frame->best_effort_timestamp;
            if (haveKept && pts != AV_NOPTS_VALUE && pts > target) {
                done = true;
                av_frame_unref(s.frame);
                break;
            }
            av_frame_unref(kept);
            av_frame_move_ref(kept, s.frame);
            haveKept = true;
        }
        if (draining && rc == AVERROR_EOF) done = true;
        if (draining && rc < 0 && rc != AVERROR(EAGAIN)) done = true;
    }
    Result<PixelBufferRef> out =
        haveKept ? s.toBGRA(kept)
                 : Result<PixelBufferRef>(
                       Error{s.name + ": no frame at " + std::to_string(seconds) + " s"});
    av_frame_free(&kept);
    return out;
}

} // namespace qv::platform::media
