#include "platform/media/video_source.h"

#include "platform/media/ffmpeg_support.h"
#include "platform/media/pixel_buffer_pool.h"
#include "platform/video/frame_ring.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace qv::platform::media {

namespace {

// Jumps longer than this seek to the nearest earlier key frame instead of decoding through.
constexpr double seekThresholdSeconds = 2.0;
// A file whose frames stop more than this before its stated length is taken as truncated.
constexpr double truncationToleranceSeconds = 0.25;

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

bool isFastLayout(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P ||
           format == AV_PIX_FMT_NV12;
}

ConstYuv420Planes planesOf(const AVFrame &f) {
    if (f.format == AV_PIX_FMT_NV12)
        return {f.data[0], f.linesize[0], f.data[1], f.linesize[1], nullptr, 0, true};
    return {f.data[0], f.linesize[0], f.data[1], f.linesize[1], f.data[2], f.linesize[2], false};
}

// Adds to `out` the columns (of `unit` bytes) where two rows of bytes differ: each run of
// differing 64-byte blocks, trimmed to its first and last differing byte.
void addDifferences(const std::uint8_t *a, const std::uint8_t *b, int n, int unit,
                    RowChanges &out) {
    if (std::memcmp(a, b, static_cast<std::size_t>(n)) == 0) return;
    constexpr int block = 64;
    auto differs = [&](int at) {
        return std::memcmp(a + at, b + at, static_cast<std::size_t>(std::min(block, n - at))) != 0;
    };
    for (int at = 0; at < n; at += block) {
        if (!differs(at)) continue;
        int end = at + block;
        while (end < n && differs(end)) end += block;
        end = std::min(end, n);
        int first = at, last = end;
        while (a[first] == b[first]) ++first;
        while (a[last - 1] == b[last - 1]) --last;
        out.add({first / unit, (last + unit - 1) / unit});
        at = end;
    }
}

// The BGRA columns, per row, where two decoded pictures differ (a row takes its chroma from
// row / 2, one chroma sample for two columns); nullopt when the pictures differ in layout or
// colours and cannot be compared.
std::optional<RowSpans> changedSpans(const AVFrame &a, const AVFrame &b) {
    if (a.format != b.format || a.width != b.width || a.height != b.height ||
        !isFastLayout(a.format) || !(ff::colorimetry(a) == ff::colorimetry(b)))
        return std::nullopt;
    const int w = a.width, h = a.height;
    const ConstYuv420Planes pa = planesOf(a), pb = planesOf(b);
    const int samples = (w + 1) / 2;
    RowSpans spans(static_cast<std::size_t>(h));
    for (int cy = 0; cy < (h + 1) / 2; ++cy) {
        RowChanges chroma; // in chroma samples
        if (pa.interleavedUV) {
            addDifferences(pa.u + cy * pa.uStride, pb.u + cy * pb.uStride, 2 * samples, 2, chroma);
        } else {
            addDifferences(pa.u + cy * pa.uStride, pb.u + cy * pb.uStride, samples, 1, chroma);
            addDifferences(pa.v + cy * pa.vStride, pb.v + cy * pb.vStride, samples, 1, chroma);
        }
        for (int y = 2 * cy; y < std::min(2 * cy + 2, h); ++y) {
            RowChanges &r = spans[y];
            addDifferences(pa.y + y * pa.yStride, pb.y + y * pb.yStride, w, 1, r);
            for (RowSpan c : chroma) r.add({2 * c.begin, std::min(2 * c.end, w)});
        }
    }
    return spans;
}

} // namespace

struct SequentialVideoSource::State {
    std::string name;
    ff::OpenedStream in;
    ff::Packet packet{av_packet_alloc()};
    ff::Frame current{av_frame_alloc()}, next{av_frame_alloc()};
    bool haveCurrent = false, haveNext = false, draining = false, ended = false;
    std::int64_t startPts = 0;
    // The time of the stream's first frame, once decoded: earlier times show that frame, so
    // nothing before it is ever sought.
    std::int64_t firstPts = AV_NOPTS_VALUE;
    std::int64_t lastPts = AV_NOPTS_VALUE;
    // The next frame decoded is the stream's first: true when opened and after going back to the
    // start, false after a seek forward.
    bool atStart = true;
    AVRational timeBase{1, 1};
    double frameSeconds = 1.0 / 30;
    double statedSeconds = 0;
    PixelBufferRef currentBgra;
    // The picture last converted and its decoded form: the next conversion redoes only the rows
    // that differ from it.
    PixelBufferRef lastBgra;
    ff::Frame lastYuv{av_frame_alloc()};
    // Converted pictures kept for reuse: one that nobody else holds any more is brought up to
    // date in place, by converting only what changed since it was made, instead of filling a
    // fresh buffer.
    FrameRing ring{3};
    PixelBufferPoolRef pool;
    SwsContext *sws = nullptr;

    ~State() { sws_freeContext(sws); }

    double toSeconds(std::int64_t pts) const { return double(pts - startPts) * av_q2d(timeBase); }

    // True when the frame starts before the end of the source millisecond.
    bool startsBefore(const AVFrame &f, std::int64_t ms) const {
        const __int128 lhs = __int128(f.pts - startPts) * timeBase.num * 1000;
        const __int128 rhs = __int128(ms + 1) * timeBase.den;
        return lhs < rhs;
    }

    // A decoder that cannot allocate marks frames corrupt or calls the data invalid: that is no
    // sign of a damaged file, so memory is checked before the data is blamed.
    Error damaged(double at, int rc) const {
        if (rc == AVERROR(ENOMEM) || ff::memoryRanOut())
            return Error{name + ": not enough memory to decode the video"};
        return Error{name + ": the video data is damaged near " + seconds(at) +
                     (rc < 0 ? ": " + ff::errorText(rc) : std::string())};
    }

    // One more frame into `into`: true when there was one, false at the end of the stream.
    Result<bool> decodeOne(AVFrame *into) {
        for (;;) {
            int rc = avcodec_receive_frame(in.decoder.get(), into);
            if (rc == 0) {
                if (into->flags & AV_FRAME_FLAG_CORRUPT) {
                    const double at = into->best_effort_timestamp != AV_NOPTS_VALUE
                                          ? toSeconds(into->best_effort_timestamp)
                                          : 0.0;
                    av_frame_unref(into);
                    return damaged(at, 0);
                }
                std::int64_t pts = into->best_effort_timestamp;
                if (pts == AV_NOPTS_VALUE)
                    pts = lastPts == AV_NOPTS_VALUE
                              ? startPts
                              : lastPts + std::int64_t(frameSeconds / av_q2d(timeBase));
                into->pts = pts;
                lastPts = pts;
                if (atStart && firstPts == AV_NOPTS_VALUE) firstPts = pts;
                atStart = false;
                return true;
            }
            if (rc == AVERROR_EOF) return false;
            if (rc != AVERROR(EAGAIN))
                return Error{name + ": cannot decode the video: " + ff::errorText(rc)};
            if (draining) return false;
            rc = av_read_frame(in.format.get(), packet.get());
            if (rc == AVERROR_EOF) {
                draining = true;
                avcodec_send_packet(in.decoder.get(), nullptr);
                continue;
            }
            if (rc < 0) return Error{name + ": cannot read the video: " + ff::errorText(rc)};
            if (packet->stream_index != in.streamIndex) {
                av_packet_unref(packet.get());
                continue;
            }
            const std::int64_t packetPts = packet->pts;
            rc = avcodec_send_packet(in.decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN))
                return damaged(packetPts != AV_NOPTS_VALUE ? toSeconds(packetPts) : 0.0, rc);
        }
    }

    // Seeks when the target lies beyond the next key frame after the current position, which
    // is the start of the file while nothing is decoded yet (a first frame far into the file).
    void maybeSeek(std::int64_t ms) {
        const double target = ms / 1000.0;
        const std::int64_t decodedPts = haveCurrent ? current->pts : startPts;
        if (target - toSeconds(decodedPts) < seekThresholdSeconds) return;
        AVStream *st = in.stream();
        const std::int64_t ts = startPts + std::int64_t(target / av_q2d(timeBase));
        const AVIndexEntry *key =
            avformat_index_get_entry_from_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
        // Only worth it when that key frame lies ahead of what is decoded already.
        if (!key || key->timestamp <= decodedPts) return;
        if (av_seek_frame(in.format.get(), in.streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) return;
        atStart = false;
        avcodec_flush_buffers(in.decoder.get());
        av_frame_unref(next.get());
        haveNext = false;
        draining = false;
        ended = false;
    }

    // Forgets what is decoded after the demuxer moved, so that the next frame decoded becomes
    // the current one.
    void restartDecoding() {
        avcodec_flush_buffers(in.decoder.get());
        av_frame_unref(current.get());
        av_frame_unref(next.get());
        haveCurrent = haveNext = draining = ended = false;
        currentBgra.reset();
    }

    // Goes back for a time before the current frame: to the key frame at or before it, or to the
    // start of the file when the index knows no such key frame.
    Status seekBack(std::int64_t ms, bool toStart) {
        AVStream *st = in.stream();
        std::int64_t ts = startPts;
        if (!toStart) {
            ts = startPts + std::int64_t(std::floor(ms / 1000.0 / av_q2d(timeBase)));
            const AVIndexEntry *key =
                avformat_index_get_entry_from_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
            ts = key ? key->timestamp : startPts;
        }
        int rc = av_seek_frame(in.format.get(), in.streamIndex, ts, AVSEEK_FLAG_BACKWARD);
        bool toFirst = ts <= startPts;
        if (rc < 0) {
            rc = avformat_seek_file(in.format.get(), -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BACKWARD);
            toFirst = true;
        }
        if (rc < 0) return Error{name + ": cannot go back in the video: " + ff::errorText(rc)};
        restartDecoding();
        atStart = toFirst;
        return Ok{};
    }

    // True when frame `f` lies after the source millisecond and is not the stream's first.
    bool isPast(const AVFrame &f, std::int64_t ms) const {
        return !startsBefore(f, ms) && f.pts != firstPts;
    }

    Result<PixelBufferRef> toBgra(const AVFrame &f) {
        std::optional<RowSpans> spans;
        if (lastBgra && lastBgra->lineage() && lastYuv && lastYuv->buf[0])
            spans = changedSpans(*lastYuv, f);
        if (spans && std::all_of(spans->begin(), spans->end(),
                                 [](const RowChanges &r) { return r.empty(); }))
            return lastBgra; // the same picture again: the same buffer, the same lineage
        auto lineage = std::make_shared<FrameLineage>();
        lineage->id = FrameLineage::newId();
        if (spans) {
            lineage->parent = lastBgra->lineage()->id;
            lineage->changed = std::move(*spans);
        }
        ring.record(lineage);
        PixelBufferRef out;
        if (isFastLayout(f.format)) {
            std::optional<FrameRing::Target> kept;
            if (lineage->parent)
                kept = ring.reusable(f.width, f.height, {lastBgra.get(), currentBgra.get()});
            if (kept) {
                out = kept->buffer;
            } else if (!lineage->parent && (out = ring.idle(f.width, f.height))) {
                // converted whole, over whatever it held
            } else {
                if (auto fresh = freshBuffer(f); fresh)
                    out = std::move(fresh.value());
                else
                    return fresh.error();
                ring.keep(out);
            }
            yuv420ToBgra(planesOf(f), ff::colorimetry(f), *out,
                         kept ? kept->spans.data() : nullptr);
        } else {
            auto fresh = freshBuffer(f);
            if (!fresh) return fresh.error();
            out = std::move(fresh.value());
            const YuvColorimetry colours = ff::colorimetry(f);
            sws = sws_getCachedContext(sws, f.width, f.height, AVPixelFormat(f.format), f.width,
                                       f.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                       nullptr);
            if (!sws) return Error{name + ": cannot convert its pixel format to BGRA"};
            sws_setColorspaceDetails(
                sws, sws_getCoefficients(ff::colourTags(colours.matrix).swsCoefficients),
                colours.fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                1 << 16);
            std::uint8_t *dst[4] = {out->baseAddress(), nullptr, nullptr, nullptr};
            int stride[4] = {static_cast<int>(out->bytesPerRow()), 0, 0, 0};
            sws_scale(sws, f.data, f.linesize, 0, f.height, dst, stride);
        }
        out->setLineage(std::move(lineage));
        av_frame_unref(lastYuv.get());
        if (av_frame_ref(lastYuv.get(), &f) < 0) av_frame_unref(lastYuv.get());
        lastBgra = out;
        return out;
    }

    // Decodes forward until the current frame is the last that starts before ms + 1, or the
    // first frame after a seek.
    Status advanceTo(std::int64_t ms) {
        while (!ended) {
            if (!haveNext) {
                auto got = decodeOne(next.get());
                if (!got) return got.error();
                if (!got.value()) {
                    ended = true;
                    break;
                }
                haveNext = true;
            }
            if (haveCurrent && !startsBefore(*next, ms)) break;
            std::swap(current, next);
            av_frame_unref(next.get());
            haveCurrent = true;
            haveNext = false;
            currentBgra.reset();
        }
        return Ok{};
    }

    Result<PixelBufferRef> freshBuffer(const AVFrame &f) {
        if (!pool || pool->width() != f.width || pool->height() != f.height)
            pool = PixelBufferPool::make(f.width, f.height, PixelFormat::bgra8);
        PixelBufferRef out = pool ? pool->get() : nullptr;
        if (!out)
            return Error{name + ": a frame of " + std::to_string(f.width) + "x" +
                         std::to_string(f.height) + " does not fit in memory"};
        return out;
    }
};

SequentialVideoSource::SequentialVideoSource(std::unique_ptr<State> s) : s_(std::move(s)) {
}
SequentialVideoSource::~SequentialVideoSource() = default;

Result<std::unique_ptr<SequentialVideoSource>>
SequentialVideoSource::open(const std::filesystem::path &file) {
    auto s = std::make_unique<State>();
    s->name = file.string();
    if (!s->packet || !s->current || !s->next || !s->lastYuv)
        return Error{s->name + ": not enough memory"};
    // Frame threads on every core: decoding runs beside the compositor and the encoder.
    if (auto problem = ff::openStream(s->name, AVMEDIA_TYPE_VIDEO, 0, s->in); !problem.empty())
        return Error{problem};
    AVStream *st = s->in.stream();
    s->timeBase = st->time_base;
    s->startPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) s->frameSeconds = av_q2d(av_inv_q(rate));
    if (st->duration > 0)
        s->statedSeconds = double(st->duration) * av_q2d(st->time_base);
    else if (s->in.format->duration > 0)
        s->statedSeconds = double(s->in.format->duration) / AV_TIME_BASE;
    return std::unique_ptr<SequentialVideoSource>(new SequentialVideoSource(std::move(s)));
}

Size SequentialVideoSource::size() const noexcept {
    return {double(s_->in.decoder->width), double(s_->in.decoder->height)};
}

Result<PixelBufferRef> SequentialVideoSource::frameAt(std::int64_t ms) {
    State &s = *s_;
    if (s.haveCurrent && s.isPast(*s.current, ms)) {
        if (auto st = s.seekBack(ms, false); !st) return st.error();
    } else {
        s.maybeSeek(ms);
    }
    if (auto st = s.advanceTo(ms); !st) return st.error();
    // A key frame the index placed too late: decode from the start instead.
    if (s.haveCurrent && s.isPast(*s.current, ms)) {
        if (auto st = s.seekBack(ms, true); !st) return st.error();
        if (auto st = s.advanceTo(ms); !st) return st.error();
    }
    if (!s.haveCurrent) return Error{s.name + ": contains no video frames"};
    if (s.ended) {
        const double lastEnd = s.toSeconds(s.current->pts) + s.frameSeconds;
        const double wanted = ms / 1000.0;
        if (wanted >= lastEnd && s.statedSeconds - lastEnd > truncationToleranceSeconds)
            return Error{s.name + ": the video stops at " + seconds(lastEnd) +
                         " although the file says it lasts " + seconds(s.statedSeconds) +
                         "; it may be truncated"};
    }
    if (!s.currentBgra) {
        auto converted = s.toBgra(*s.current);
        if (!converted) return converted.error();
        s.currentBgra = std::move(converted.value());
    }
    return s.currentBgra;
}

} // namespace qv::platform::media
