#include "recording/movie_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace qv::testing {

std::vector<FrameLuma> readCentreLuma(const std::filesystem::path &movie) {
    std::vector<FrameLuma> frames;
    AVFormatContext *in = nullptr;
    if (avformat_open_input(&in, movie.c_str(), nullptr, nullptr) < 0) return frames;
    avformat_find_stream_info(in, nullptr);
    const int index = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&in);
        return frames;
    }
    AVStream *st = in->streams[index];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const auto take = [&] {
        while (avcodec_receive_frame(dec, frame) >= 0) {
            const std::int64_t pts = frame->best_effort_timestamp;
            const int y = frame->height / 2, x = frame->width / 2;
            frames.push_back({double(pts - start) * av_q2d(st->time_base) * 1000,
                              frame->data[0][y * frame->linesize[0] + x]});
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == index) avcodec_send_packet(dec, packet);
        av_packet_unref(packet);
        take();
    }
    avcodec_send_packet(dec, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);
    avformat_close_input(&in);
    return frames;
}

} // namespace qv::testing
