#include "platform/media/movie_writer.h"

#include "platform/media/ffmpeg_support.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace qv::platform::media {

namespace fs = std::filesystem;

struct MovieWriter::State {
    std::string name; // the destination, for messages
    fs::path destination;
    std::optional<PartialFile> partial; // the movie while it is written
    Settings settings;
    AVFormatContext *out = nullptr;
    ff::CodecContext video, audio;
    AVStream *videoStream = nullptr, *audioStream = nullptr;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    SwsContext *sws = nullptr;
    // Frames handed to the encoder come from a pool: a fresh allocation per frame would cost
    // page faults on every frame.
    AVBufferPool *framePool = nullptr;
    int frameBytes = 0;
    // The last picture converted, and the lineage id of the frame it came from: a frame that
    // descends from it converts only its changed rows.
    ff::Frame picture{av_frame_alloc()};
    std::uint64_t pictureId = 0;
    ff::Packet packet{av_packet_alloc()};
    std::int64_t frames = 0;
    std::int64_t audioSamples = 0;
    int audioFrameSize = 1024;
    std::vector<std::vector<float>> pending; // sound waiting for a full encoder frame
    bool finished = false;
    bool abandoned = false;

    ~State() {
        if (!finished) abandon();
        sws_freeContext(sws);
        av_buffer_pool_uninit(&framePool);
        if (out) {
            if (out->pb) avio_closep(&out->pb);
            avformat_free_context(out);
        }
    }

    void abandon() noexcept {
        if (out && out->pb) avio_closep(&out->pb);
        partial.reset();
    }

    Error fail(const std::string &what, int rc) const {
        return Error{name + ": " + what + ": " + ff::errorText(rc)};
    }

    // Moves whatever the encoder has finished into the file.
    Status drain(AVCodecContext *enc, AVStream *st) {
        for (;;) {
            int rc = avcodec_receive_packet(enc, packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return Ok{};
            if (rc < 0) return fail("cannot encode", rc);
            av_packet_rescale_ts(packet.get(), enc->time_base, st->time_base);
            packet->stream_index = st->index;
            rc = av_interleaved_write_frame(out, packet.get());
            av_packet_unref(packet.get());
            if (rc < 0) return fail("cannot write the movie", rc);
        }
    }

    Status openVideo() {
        const VideoEncoderSettings &v = settings.video;
        const AVCodec *codec = avcodec_find_encoder_by_name(v.codec.c_str());
        if (!codec) return Error{name + ": the video encoder " + v.codec + " is not available"};
        pixelFormat = av_get_pix_fmt(v.pixelFormat.c_str());
        if (pixelFormat == AV_PIX_FMT_NONE)
            return Error{name + ": unknown pixel format " + v.pixelFormat};
        video.reset(avcodec_alloc_context3(codec));
        if (!video) return Error{name + ": not enough memory"};
        AVCodecContext *c = video.get();
        c->width = settings.width;
        c->height = settings.height;
        c->time_base =
            AVRational{int(settings.frameDuration.value), settings.frameDuration.timescale};
        c->framerate = av_inv_q(c->time_base);
        c->pix_fmt = pixelFormat;
        c->thread_count = v.threads;
        const ff::ColourTags tags = ff::colourTags(settings.colorimetry.matrix);
        c->colorspace = tags.matrix;
        c->color_primaries = tags.primaries;
        c->color_trc = tags.transfer;
        c->color_range = ff::rangeTag(settings.colorimetry.fullRange);
        if (out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *options = nullptr;
        for (const auto &[key, value] : v.options)
            av_dict_set(&options, key.c_str(), value.c_str(), 0);
        int rc = avcodec_open2(c, codec, &options);
        const AVDictionaryEntry *unused = av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        const std::string unusedKey = unused ? unused->key : "";
        av_dict_free(&options);
        if (rc < 0) return fail("cannot open the video encoder " + v.codec, rc);
        if (!unusedKey.empty())
            return Error{name + ": the video encoder " + v.codec + " has no option " + unusedKey};
        videoStream = avformat_new_stream(out, nullptr);
        if (!videoStream) return Error{name + ": not enough memory"};
        videoStream->time_base = c->time_base;
        videoStream->avg_frame_rate = c->framerate;
        if ((rc = avcodec_parameters_from_context(videoStream->codecpar, c)) < 0)
            return fail("cannot set up the video stream", rc);
        if (v.codecTag.size() == 4)
            videoStream->codecpar->codec_tag =
                MKTAG(v.codecTag[0], v.codecTag[1], v.codecTag[2], v.codecTag[3]);
        return Ok{};
    }

    Status openAudio() {
        const AudioEncoderSettings &a = *settings.audio;
        const AVCodec *codec = avcodec_find_encoder_by_name(a.codec.c_str());
        if (!codec) return Error{name + ": the audio encoder " + a.codec + " is not available"};
        audio.reset(avcodec_alloc_context3(codec));
        if (!audio) return Error{name + ": not enough memory"};
        AVCodecContext *c = audio.get();
        c->sample_fmt = a.codec == "pcm_s16le" ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
        c->sample_rate = settings.sampleRate;
        av_channel_layout_default(&c->ch_layout, settings.audioChannels);
        c->bit_rate = a.bitRate;
        c->time_base = AVRational{1, settings.sampleRate};
        if (out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int rc = avcodec_open2(c, codec, nullptr);
        if (rc < 0) return fail("cannot open the audio encoder " + a.codec, rc);
        audioFrameSize = c->frame_size > 0 ? c->frame_size : 1024;
        audioStream = avformat_new_stream(out, nullptr);
        if (!audioStream) return Error{name + ": not enough memory"};
        audioStream->time_base = c->time_base;
        if ((rc = avcodec_parameters_from_context(audioStream->codecpar, c)) < 0)
            return fail("cannot set up the audio stream", rc);
        pending.assign(settings.audioChannels, {});
        return Ok{};
    }

    Status encodeAudio(int count) {
        ff::Frame f(av_frame_alloc());
        if (!f) return Error{name + ": not enough memory"};
        AVCodecContext *c = audio.get();
        f->nb_samples = count;
        f->format = c->sample_fmt;
        f->sample_rate = c->sample_rate;
        av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        int rc = av_frame_get_buffer(f.get(), 0);
        if (rc < 0) return fail("not enough memory for sound", rc);
        const int channels = settings.audioChannels;
        if (c->sample_fmt == AV_SAMPLE_FMT_FLTP) {
            for (int ch = 0; ch < channels; ++ch)
                std::copy_n(pending[ch].begin(), count, reinterpret_cast<float *>(f->data[ch]));
        } else {
            auto *dst = reinterpret_cast<std::int16_t *>(f->data[0]);
            for (int i = 0; i < count; ++i)
                for (int ch = 0; ch < channels; ++ch) {
                    const float v = std::clamp(pending[ch][i], -1.0f, 1.0f);
                    dst[i * channels + ch] = static_cast<std::int16_t>(std::lrint(v * 32767.0f));
                }
        }
        for (auto &p : pending) p.erase(p.begin(), p.begin() + count);
        f->pts = audioSamples;
        audioSamples += count;
        if ((rc = avcodec_send_frame(c, f.get())) < 0) return fail("cannot encode the sound", rc);
        return drain(c, audioStream);
    }

    bool convertsRowwise() const {
        return pixelFormat == AV_PIX_FMT_NV12 || pixelFormat == AV_PIX_FMT_YUV420P;
    }

    // `spans` limits the work to what changed (row-wise formats only).
    Status convert(const PixelBuffer &src, AVFrame &f, const RowChanges *spans) {
        if (convertsRowwise()) {
            const bool nv12 = pixelFormat == AV_PIX_FMT_NV12;
            bgraToYuv420(src,
                         {f.data[0], f.linesize[0], f.data[1], f.linesize[1],
                          nv12 ? nullptr : f.data[2], nv12 ? 0 : f.linesize[2], nv12},
                         settings.colorimetry, spans);
            return Ok{};
        }
        sws = sws_getCachedContext(sws, src.width(), src.height(), AV_PIX_FMT_BGRA, f.width,
                                   f.height, pixelFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws) return Error{name + ": cannot convert frames to " + settings.video.pixelFormat};
        const int matrix = ff::colourTags(settings.colorimetry.matrix).swsCoefficients;
        sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(matrix),
                                 settings.colorimetry.fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
        const std::uint8_t *planes[4] = {src.baseAddress(), nullptr, nullptr, nullptr};
        const int strides[4] = {static_cast<int>(src.bytesPerRow()), 0, 0, 0};
        sws_scale(sws, planes, strides, 0, src.height(), f.data, f.linesize);
        return Ok{};
    }
};

MovieWriter::MovieWriter(std::unique_ptr<State> s) : s_(std::move(s)) {
}
MovieWriter::~MovieWriter() = default;

Result<std::unique_ptr<MovieWriter>> MovieWriter::create(const fs::path &destination,
                                                         const Settings &settings) {
    auto s = std::make_unique<State>();
    s->name = destination.string();
    s->destination = destination;
    s->settings = settings;
    if (!s->packet) return Error{s->name + ": not enough memory"};
    if (!settings.video.codec.empty() &&
        (settings.width < 2 || settings.height < 2 || settings.width % 2 || settings.height % 2))
        return Error{s->name + ": a movie needs an even size of at least 2x2, not " +
                     std::to_string(settings.width) + "x" + std::to_string(settings.height)};
    if (settings.frameDuration.value <= 0 || settings.frameDuration.timescale <= 0 ||
        settings.frameDuration.value > INT32_MAX)
        return Error{s->name + ": unusable frame duration"};
    if (settings.audio && (settings.audioChannels < 1 || settings.audioChannels > 2))
        return Error{s->name + ": sound needs one or two channels"};

    auto partial = PartialFile::create(destination);
    if (!partial) return partial.error();
    s->partial.emplace(std::move(partial).value());
    const char *format = settings.fileType == FileType::mpeg4 ? "mp4" : "mov";
    int rc = avformat_alloc_output_context2(&s->out, nullptr, format, s->partial->path().c_str());
    if (rc < 0 || !s->out) return s->fail("cannot set up the container", rc);
    if (settings.video.codec.empty() && !settings.audio)
        return Error{s->name + ": a movie needs video or sound"};
    if (!settings.video.codec.empty())
        if (auto st = s->openVideo(); !st) return st.error();
    if (settings.audio) {
        if (auto st = s->openAudio(); !st) return st.error();
    }
    if ((rc = avio_open(&s->out->pb, s->partial->path().c_str(), AVIO_FLAG_WRITE)) < 0)
        return s->fail("cannot create the file", rc);
    AVDictionary *options = nullptr;
    // MPEG-4 files get their index at the front, so players can start before the end arrives.
    if (settings.fileType == FileType::mpeg4) av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(s->out, &options);
    av_dict_free(&options);
    if (rc < 0) return s->fail("cannot write the movie header", rc);
    return std::unique_ptr<MovieWriter>(new MovieWriter(std::move(s)));
}

Status MovieWriter::appendVideo(const PixelBuffer &frame) {
    return appendVideo(frame, s_->frames);
}

Status MovieWriter::appendVideo(const PixelBuffer &frame, std::int64_t frameNumber) {
    State &s = *s_;
    if (frameNumber < s.frames)
        return Error{s.name + ": frame " + std::to_string(frameNumber) + " comes after frame " +
                     std::to_string(s.frames - 1)};
    if (s.finished) return Error{s.name + ": the movie is already complete"};
    if (!s.video) return Error{s.name + ": the movie has no video"};
    if (frame.width() != s.settings.width || frame.height() != s.settings.height ||
        frame.format() != PixelFormat::bgra8)
        return Error{s.name + ": a frame of " + std::to_string(frame.width()) + "x" +
                     std::to_string(frame.height()) + " does not fit the movie"};
    if (!s.picture) return Error{s.name + ": not enough memory"};
    const FrameLineageRef &lineage = frame.lineage();
    int rc = 0;
    const auto changes = s.convertsRowwise()
                             ? FrameLineage::changesSince(lineage, s.pictureId, frame.height())
                             : nullptr;
    if (changes) {
        // The encoder may still hold the last picture; then it is copied before the update.
        if ((rc = av_frame_make_writable(s.picture.get())) < 0)
            return s.fail("not enough memory for a frame", rc);
        if (auto st = s.convert(frame, *s.picture, changes->data()); !st) return st;
    } else {
        av_frame_unref(s.picture.get());
        AVFrame *p = s.picture.get();
        p->format = s.pixelFormat;
        p->width = s.settings.width;
        p->height = s.settings.height;
        if (!s.framePool) {
            s.frameBytes = av_image_get_buffer_size(s.pixelFormat, p->width, p->height, 64);
            if (s.frameBytes > 0) s.framePool = av_buffer_pool_init(s.frameBytes + 64, nullptr);
        }
        if (s.framePool) p->buf[0] = av_buffer_pool_get(s.framePool);
        if (!p->buf[0]) return Error{s.name + ": not enough memory for a frame"};
        rc = av_image_fill_arrays(p->data, p->linesize, p->buf[0]->data, s.pixelFormat, p->width,
                                  p->height, 64);
        if (rc < 0) return s.fail("cannot lay out a frame", rc);
        if (auto st = s.convert(frame, *p, nullptr); !st) return st;
    }
    s.pictureId = lineage ? lineage->id : 0;
    ff::Frame f(av_frame_clone(s.picture.get()));
    if (!f) return Error{s.name + ": not enough memory"};
    // Some encoders (ProRes) write the colour description from each frame, not the context.
    f->colorspace = s.video->colorspace;
    f->color_primaries = s.video->color_primaries;
    f->color_trc = s.video->color_trc;
    f->color_range = s.video->color_range;
    f->pts = frameNumber;
    s.frames = frameNumber + 1;
    if ((rc = avcodec_send_frame(s.video.get(), f.get())) < 0)
        return s.fail("cannot encode the video", rc);
    return s.drain(s.video.get(), s.videoStream);
}

Status MovieWriter::appendAudio(const float *const *planes, int count) {
    State &s = *s_;
    if (!s.audio || count <= 0) return Ok{};
    if (s.finished) return Error{s.name + ": the movie is already complete"};
    for (int ch = 0; ch < s.settings.audioChannels; ++ch)
        s.pending[ch].insert(s.pending[ch].end(), planes[ch], planes[ch] + count);
    while (int(s.pending[0].size()) >= s.audioFrameSize)
        if (auto st = s.encodeAudio(s.audioFrameSize); !st) return st;
    return Ok{};
}

std::int64_t MovieWriter::videoFrameCount() const noexcept {
    return s_->frames;
}
std::int64_t MovieWriter::audioSampleCount() const noexcept {
    return s_->audioSamples + (s_->pending.empty() ? 0 : std::int64_t(s_->pending[0].size()));
}
bool MovieWriter::hasAudio() const noexcept {
    return s_->audio != nullptr;
}

Status MovieWriter::finish() {
    State &s = *s_;
    if (s.abandoned) return Error{s.name + ": the movie was abandoned"};
    if (s.finished) return Ok{};
    if (s.video && s.frames == 0) return Error{s.name + ": a movie needs at least one frame"};
    if (s.audio) {
        if (!s.pending[0].empty())
            if (auto st = s.encodeAudio(int(s.pending[0].size())); !st) return st;
        avcodec_send_frame(s.audio.get(), nullptr);
        if (auto st = s.drain(s.audio.get(), s.audioStream); !st) return st;
    }
    if (s.video) {
        avcodec_send_frame(s.video.get(), nullptr);
        if (auto st = s.drain(s.video.get(), s.videoStream); !st) return st;
    }
    int rc = av_write_trailer(s.out);
    if (rc < 0) return s.fail("cannot complete the movie", rc);
    if ((rc = avio_closep(&s.out->pb)) < 0) return s.fail("cannot write the movie", rc);
    if (auto st = s.partial->commit(); !st) return st;
    s.partial.reset();
    s.finished = true;
    return Ok{};
}

void MovieWriter::abandon() noexcept {
    s_->abandon();
    s_->abandoned = true;
    s_->finished = true;
}

} // namespace qv::platform::media
