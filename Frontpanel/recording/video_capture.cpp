#include "Frontpanel/recording/video_capture.h"

#include "platform/media/movie_writer.h"
#include "platform/video/pixel_buffer.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace qv::frontpanel {

namespace media = platform::media;
using platform::PixelBuffer;
using platform::PixelBufferRef;
using platform::PixelFormat;

namespace {

struct Stamped {
    AVPacket *packet = nullptr;
    std::int64_t hostNs = 0;
};

// Four frames of slack: enough to ride out a slow keyframe, little enough that a lagging
// encoder drops frames rather than memory.
constexpr std::size_t queueLimit = 4;

} // namespace

struct VideoCapture::State {
    VideoCaptureSettings settings;
    SessionClock *clock = nullptr;
    std::unique_ptr<LiveInput> input;
    AVCodecContext *decoder = nullptr;
    AVFrame *frame = nullptr;
    SwsContext *sws = nullptr;
    PixelBufferRef converted;
    std::unique_ptr<media::MovieWriter> writer;
    int width = 0, height = 0;
    FrameSlots slots{30};

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Stamped> queue;
    bool readerDone = false;
    std::int64_t queueDropped = 0;
    std::optional<Error> failure;
    std::function<void(const Error &)> onFailure;
    Figures published;

    std::thread reader, encoder;

    ~State() {
        for (Stamped &s : queue) av_packet_free(&s.packet);
        sws_freeContext(sws);
        av_frame_free(&frame);
        avcodec_free_context(&decoder);
    }

    void fail(Error e) {
        std::function<void(const Error &)> report;
        {
            std::lock_guard guard(lock);
            if (failure) return;
            failure = e;
            report = onFailure;
        }
        if (input) input->requestStop();
        if (report) report(e);
    }

    void reportEnd() {
        std::function<void(const Error &)> report;
        {
            std::lock_guard guard(lock);
            report = onFailure;
        }
        if (report) report(Error{settings.label + ": its input ended"});
    }

    void readLoop() {
        for (;;) {
            AVPacket *packet = av_packet_alloc();
            if (!packet) {
                fail(Error{settings.label + ": not enough memory"});
                break;
            }
            std::int64_t hostNs = 0;
            const auto got = input->read(packet, &hostNs);
            if (!got || !*got) {
                av_packet_free(&packet);
                if (!got)
                    fail(got.error());
                else if (!input->stopRequested())
                    // What was captured is good; the session still has to end, since the
                    // stream would be missing from here on.
                    reportEnd();
                break;
            }
            if (settings.setsOrigin) clock->setOrigin(hostNs);
            std::lock_guard guard(lock);
            if (queue.size() >= queueLimit) {
                ++queueDropped;
                av_packet_free(&packet);
                continue;
            }
            queue.push_back({packet, hostNs});
            changed.notify_one();
        }
        std::lock_guard guard(lock);
        readerDone = true;
        changed.notify_one();
    }

    // The decoded frame as BGRA of the movie's size: the frame's own memory when it already is.
    Result<PixelBufferRef> toBgra() {
        const auto format = AVPixelFormat(frame->format);
        if ((format == AV_PIX_FMT_BGR0 || format == AV_PIX_FMT_BGRA) && frame->width == width &&
            frame->height == height)
            return PixelBuffer::wrap(width, height, PixelFormat::bgra8, frame->data[0],
                                     std::size_t(frame->linesize[0]), nullptr);
        sws = sws_getCachedContext(sws, frame->width, frame->height, format, width, height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws) return Error{settings.label + ": cannot convert its frames"};
        if (!converted) converted = PixelBuffer::create(width, height, PixelFormat::bgra8);
        if (!converted) return Error{settings.label + ": not enough memory"};
        std::uint8_t *planes[4] = {converted->baseAddress(), nullptr, nullptr, nullptr};
        const int strides[4] = {int(converted->bytesPerRow()), 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        return converted;
    }

    Status encodeFrame(std::int64_t hostNs) {
        const auto t = clock->recordingNs(hostNs);
        if (!t) return Ok{}; // before the origin or inside a pause
        const auto slot = slots.place(*t);
        if (!slot) return Ok{};
        auto picture = toBgra();
        if (!picture) return picture.error();
        if (auto st = writer->appendVideo(**picture, *slot); !st) return st;
        if (settings.onFrame) settings.onFrame(*slot, slots.timeNs(*slot));
        std::lock_guard guard(lock);
        published.frames = slots.written();
        published.dropped = slots.dropped() + queueDropped;
        published.lastFrame = *slot;
        return Ok{};
    }

    Status decode(AVPacket *packet, std::int64_t hostNs) {
        int rc = avcodec_send_packet(decoder, packet);
        if (rc < 0 && rc != AVERROR(EAGAIN))
            return Error{settings.label + ": cannot decode: " + avErrorText(rc)};
        for (;;) {
            rc = avcodec_receive_frame(decoder, frame);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return Ok{};
            if (rc < 0) return Error{settings.label + ": cannot decode: " + avErrorText(rc)};
            const Status st = encodeFrame(hostNs);
            av_frame_unref(frame);
            if (!st) return st;
        }
    }

    void encodeLoop() {
        for (;;) {
            Stamped next;
            {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] { return !queue.empty() || readerDone; });
                if (queue.empty()) return;
                next = queue.front();
                queue.pop_front();
            }
            const Status st = decode(next.packet, next.hostNs);
            av_packet_free(&next.packet);
            if (!st) {
                fail(st.error());
                // Keep emptying the queue so the reader never waits on a stopped encoder.
            }
        }
    }

    void stopThreads() {
        if (input) input->requestStop();
        if (reader.joinable()) reader.join();
        if (encoder.joinable()) encoder.join();
    }
};

Result<std::unique_ptr<VideoCapture>> VideoCapture::open(VideoCaptureSettings settings,
                                                         SessionClock &clock) {
    auto s = std::make_unique<State>();
    s->clock = &clock;
    s->slots = FrameSlots(settings.framesPerSecond);
    auto input = LiveInput::open(settings.input, AVMEDIA_TYPE_VIDEO, settings.label);
    if (!input) return input.error();
    s->input = std::move(input).value();
    const AVCodecParameters *par = s->input->stream()->codecpar;
    const std::string &label = settings.label;
    auto decoder = s->input->openDecoder();
    if (!decoder) return decoder.error();
    s->decoder = *decoder;
    s->frame = av_frame_alloc();
    if (!s->frame) return Error{label + ": not enough memory"};
    // H.264 in 4:2:0 needs an even size: an odd last row or column is left out.
    s->width = par->width & ~1;
    s->height = par->height & ~1;
    if (s->width < 2 || s->height < 2)
        return Error{label + ": frames of " + std::to_string(par->width) + "x" +
                     std::to_string(par->height) + " are too small to record"};

    media::MovieWriter::Settings out;
    out.width = s->width;
    out.height = s->height;
    out.frameDuration = media::Time{1, settings.framesPerSecond};
    out.video.codec = RecordingEncoder::codec;
    out.video.pixelFormat = "nv12";
    out.video.options = {
        {"preset", RecordingEncoder::preset},
        {"crf", RecordingEncoder::crf},
        {"g", std::to_string(RecordingEncoder::keyframeSeconds * settings.framesPerSecond)}};
    auto writer = media::MovieWriter::create(settings.destination, out);
    if (!writer) return writer.error();
    s->writer = std::move(writer).value();
    s->settings = std::move(settings);
    return std::unique_ptr<VideoCapture>(new VideoCapture(std::move(s)));
}

VideoCapture::VideoCapture(std::unique_ptr<State> s) : s_(std::move(s)) {
}

VideoCapture::~VideoCapture() {
    s_->stopThreads();
}

int VideoCapture::width() const noexcept {
    return s_->width;
}
int VideoCapture::height() const noexcept {
    return s_->height;
}

void VideoCapture::start(std::function<void(const Error &)> onFailure) {
    State &s = *s_;
    s.onFailure = std::move(onFailure);
    s.encoder = std::thread([&s] { s.encodeLoop(); });
    s.reader = std::thread([&s] { s.readLoop(); });
}

Status VideoCapture::finish() {
    State &s = *s_;
    s.stopThreads();
    if (s.failure) {
        s.writer->abandon();
        return *s.failure;
    }
    if (s.slots.written() == 0) {
        s.writer->abandon();
        return Error{s.settings.label + ": no frame was captured"};
    }
    return s.writer->finish();
}

void VideoCapture::abandon() noexcept {
    s_->stopThreads();
    s_->writer->abandon();
}

VideoCapture::Figures VideoCapture::figures() const noexcept {
    std::lock_guard guard(s_->lock);
    Figures f = s_->published;
    f.dropped = std::max(f.dropped, s_->queueDropped);
    return f;
}

StampClock VideoCapture::stampClock() const noexcept {
    return s_->input->clock();
}
std::int64_t VideoCapture::firstLatencyNs() const noexcept {
    return s_->input->firstLatencyNs();
}

} // namespace qv::frontpanel
