// The passthrough export: the recording's streams are copied packet for packet into the new
// container, without decoding. Only tracks that play their whole file unchanged can be copied.
#include "platform/media/export_jobs.h"

#include "platform/media/ffmpeg_support.h"
#include "platform/media/movie_writer.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace qv::platform::media {

namespace {

struct CopiedStream {
    std::string name;
    ff::InputFormat input;
    int inIndex = -1;
    AVStream *out = nullptr;
    ff::Packet pending{av_packet_alloc()};
    bool havePending = false, ended = false;

    // Reads the next packet of the copied stream into `pending`.
    Status fill() {
        while (!havePending && !ended) {
            const int rc = av_read_frame(input.get(), pending.get());
            if (rc == AVERROR_EOF) {
                ended = true;
                break;
            }
            if (rc < 0) return Error{name + ": cannot read: " + ff::errorText(rc)};
            if (pending->stream_index != inIndex) {
                av_packet_unref(pending.get());
                continue;
            }
            havePending = true;
        }
        return Ok{};
    }

    // The pending packet's decoding time in seconds, for interleaving.
    double time() const {
        const AVStream *st = input->streams[inIndex];
        const std::int64_t ts = pending->dts != AV_NOPTS_VALUE ? pending->dts : pending->pts;
        if (ts == AV_NOPTS_VALUE) return 0;
        const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        return double(ts - start) * av_q2d(st->time_base);
    }
};

} // namespace

Status runPassthroughExport(const Asset &asset, const std::filesystem::path &url, FileType fileType,
                            const CancellationFlag &cancelled, const ProgressSink &progress) {
    const std::string name = url.string();
    std::vector<const CompositionTrack *> tracks;
    const auto videos = asset.tracksWithMediaType(MediaType::video);
    if (videos.empty()) return Error{name + ": the asset has no video track"};
    // The first video track is the picture; further ones (a webcam) are not shown when nothing
    // is composed, so they are not copied either.
    tracks.push_back(videos.front());
    for (const CompositionTrack *a : asset.tracksWithMediaType(MediaType::audio))
        tracks.push_back(a);
    for (const CompositionTrack *t : tracks)
        if (!t->isUnedited())
            return Error{name + ": " + t->file.string() +
                         " is edited, so it cannot be copied unchanged"};

    auto created = PartialFile::create(url);
    if (!created) return Error{created.error().message};
    PartialFile partial = std::move(created).value();
    const std::filesystem::path temp = partial.path();
    AVFormatContext *out = nullptr;
    std::vector<CopiedStream> streams(tracks.size());
    auto cleanUp = [&] {
        if (out) {
            if (out->pb) avio_closep(&out->pb);
            avformat_free_context(out);
            out = nullptr;
        }
        partial.discard();
    };
    auto failure = [&](std::string message) {
        cleanUp();
        return Error{std::move(message)};
    };

    int rc = avformat_alloc_output_context2(
        &out, nullptr, fileType == FileType::mpeg4 ? "mp4" : "mov", temp.c_str());
    if (rc < 0 || !out)
        return failure(name + ": cannot set up the container: " + ff::errorText(rc));
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        CopiedStream &s = streams[k];
        s.name = tracks[k]->file.string();
        if (!s.pending) return failure(name + ": not enough memory");
        AVFormatContext *raw = nullptr;
        if (std::string problem = ff::openInput(s.name, &raw); !problem.empty())
            return failure(problem);
        s.input.reset(raw);
        if ((rc = avformat_find_stream_info(raw, nullptr)) < 0)
            return failure(s.name + ": cannot read its streams: " + ff::errorText(rc));
        const AVMediaType type =
            tracks[k]->mediaType == MediaType::video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
        s.inIndex = av_find_best_stream(raw, type, -1, -1, nullptr, 0);
        if (s.inIndex < 0)
            return failure(s.name + ": has no " + (type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") +
                           " stream");
        s.out = avformat_new_stream(out, nullptr);
        if (!s.out) return failure(name + ": not enough memory");
        const AVStream *in = raw->streams[s.inIndex];
        if ((rc = avcodec_parameters_copy(s.out->codecpar, in->codecpar)) < 0)
            return failure(name + ": cannot copy the stream: " + ff::errorText(rc));
        s.out->codecpar->codec_tag = 0; // the new container picks its own tag
        s.out->time_base = in->time_base;
    }
    if ((rc = avio_open(&out->pb, temp.c_str(), AVIO_FLAG_WRITE)) < 0)
        return failure(name + ": cannot create the file: " + ff::errorText(rc));
    AVDictionary *options = nullptr;
    if (fileType == FileType::mpeg4) av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(out, &options);
    av_dict_free(&options);
    if (rc < 0)
        return failure(name +
                       ": the streams cannot be copied into this container: " + ff::errorText(rc));

    const double total = asset.durationMs > 0 ? asset.durationMs / 1000.0 : 0;
    for (;;) {
        if (cancelled.isCancelled()) {
            cleanUp();
            return Error{cancelledText};
        }
        CopiedStream *next = nullptr;
        for (CopiedStream &s : streams) {
            if (auto st = s.fill(); !st) {
                cleanUp();
                return st;
            }
            if (s.havePending && (!next || s.time() < next->time())) next = &s;
        }
        if (!next) break;
        const double at = next->time();
        AVPacket *p = next->pending.get();
        av_packet_rescale_ts(p, next->input->streams[next->inIndex]->time_base,
                             next->out->time_base);
        p->stream_index = next->out->index;
        p->pos = -1;
        rc = av_interleaved_write_frame(out, p);
        av_packet_unref(p);
        next->havePending = false;
        if (rc < 0) return failure(name + ": cannot write the movie: " + ff::errorText(rc));
        if (progress && total > 0) progress(std::min(0.99, at / total));
    }
    if ((rc = av_write_trailer(out)) < 0)
        return failure(name + ": cannot complete the movie: " + ff::errorText(rc));
    if ((rc = avio_closep(&out->pb)) < 0)
        return failure(name + ": cannot write the movie: " + ff::errorText(rc));
    avformat_free_context(out);
    out = nullptr;
    if (auto st = partial.commit(); !st) {
        cleanUp();
        return Error{st.error().message};
    }
    if (progress) progress(1.0);
    return Ok{};
}

} // namespace qv::platform::media
