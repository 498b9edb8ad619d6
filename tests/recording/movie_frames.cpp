#include "recording/movie_frames.h"

#include <cmath>
#include <functional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace qv::testing {

namespace {

// Decodes the movie's first stream of the type, calling `onFrame` for each frame in order.
// False when the file or the stream cannot be opened.
bool decodeStream(
    const std::filesystem::path &movie, AVMediaType type,
    const std::function<void(const AVStream &, const AVCodecContext &, const AVFrame &)> &onFrame) {
    AVFormatContext *in = nullptr;
    if (avformat_open_input(&in, movie.c_str(), nullptr, nullptr) < 0) return false;
    avformat_find_stream_info(in, nullptr);
    const int index = av_find_best_stream(in, type, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&in);
        return false;
    }
    AVStream *st = in->streams[index];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const auto take = [&] {
        while (avcodec_receive_frame(dec, frame) >= 0) {
            onFrame(*st, *dec, *frame);
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
    return true;
}

} // namespace

std::vector<FrameLuma> readCentreLuma(const std::filesystem::path &movie) {
    std::vector<FrameLuma> frames;
    decodeStream(movie, AVMEDIA_TYPE_VIDEO,
                 [&](const AVStream &st, const AVCodecContext &, const AVFrame &frame) {
                     const std::int64_t start = st.start_time != AV_NOPTS_VALUE ? st.start_time : 0;
                     const int y = frame.height / 2, x = frame.width / 2;
                     frames.push_back(
                         {double(frame.best_effort_timestamp - start) * av_q2d(st.time_base) * 1000,
                          frame.data[0][y * frame.linesize[0] + x], frame.key_frame != 0});
                 });
    return frames;
}

SoundTrack readSound(const std::filesystem::path &movie) {
    SoundTrack sound;
    decodeStream(movie, AVMEDIA_TYPE_AUDIO,
                 [&](const AVStream &, const AVCodecContext &dec, const AVFrame &frame) {
                     sound.rate = dec.sample_rate;
                     // The AAC decoder gives planar floats.
                     const auto *first = reinterpret_cast<const float *>(frame.data[0]);
                     sound.samples.insert(sound.samples.end(), first, first + frame.nb_samples);
                 });
    return sound;
}

std::vector<double> soundOnsets(const SoundTrack &sound, float threshold, double silenceMs) {
    std::vector<double> onsets;
    const auto quiet = std::size_t(silenceMs * sound.rate / 1000);
    std::size_t quietFor = quiet; // the start counts as silence
    for (std::size_t i = 0; i < sound.samples.size(); ++i) {
        if (std::abs(sound.samples[i]) < threshold) {
            ++quietFor;
            continue;
        }
        if (quietFor >= quiet) onsets.push_back(double(i) * 1000 / sound.rate);
        quietFor = 0;
    }
    return onsets;
}

} // namespace qv::testing
