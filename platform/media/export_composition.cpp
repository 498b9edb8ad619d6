// The composition export: three stages that overlap, so that decoding, compositing and encoding
// keep both cores busy.
//   1. This thread decodes the source frames of each output time and hands a frame request to
//      the compositor (which holds at most two in flight and blocks the third).
//   2. The compositor finishes requests on its own threads; finished frames wait, by index,
//      for the encoder.
//   3. The encoder thread converts each frame to YUV, encodes it, and writes the audio of the
//      same stretch of timeline, so the file stays interleaved.
// At most `framesAhead` frames are between request and encoder, which bounds memory.
#include "platform/media/export_jobs.h"

#include "platform/core/log.h"
#include "platform/media/audio_timeline.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/movie_writer.h"
#include "platform/media/pixel_buffer_pool.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <variant>

namespace qv::platform::media {

namespace {

constexpr std::int64_t framesAhead = 4;
constexpr int sampleRate = 48000;
// Audio is written this far ahead of the video already encoded.
constexpr std::int64_t audioLeadMs = 500;
// A compositor that has not delivered a frame for this long is taken to be stuck.
constexpr auto frameTimeout = std::chrono::seconds(120);

class ExportRenderContext final : public RenderContext {
public:
    ExportRenderContext(int w, int h)
        : width_(w), height_(h), pool_(PixelBufferPool::make(w, h, PixelFormat::bgra8, 6)) {}
    Size size() const override { return {double(width_), double(height_)}; }
    PixelBufferRef newPixelBuffer() override { return pool_ ? pool_->get() : nullptr; }

private:
    int width_, height_;
    PixelBufferPoolRef pool_;
};

// Where finished frames wait for the encoder.
class FrameSink {
public:
    using Outcome = std::variant<PixelBufferRef, CompositionError>;

    void deliver(std::int64_t index, Outcome outcome) {
        {
            std::lock_guard lock(mutex_);
            frames_.emplace(index, std::move(outcome));
        }
        cv_.notify_all();
    }

    // Waits for frame `index`; nullopt on cancellation, failure elsewhere, or time-out
    // (`timedOut` tells which).
    std::optional<Outcome> take(std::int64_t index, const CancellationFlag &cancelled,
                                const bool &stop, bool &timedOut) {
        std::unique_lock lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + frameTimeout;
        for (;;) {
            auto it = frames_.find(index);
            if (it != frames_.end()) {
                Outcome o = std::move(it->second);
                frames_.erase(it);
                return o;
            }
            if (cancelled.isCancelled() || stop) return std::nullopt;
            if (std::chrono::steady_clock::now() >= deadline) {
                timedOut = true;
                return std::nullopt;
            }
            cv_.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    std::mutex &mutex() { return mutex_; }
    std::condition_variable &cv() { return cv_; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::int64_t, Outcome> frames_;
};

class ExportFrameRequest final : public VideoCompositionRequest {
public:
    ExportFrameRequest(Time time, InstructionRef instruction,
                       std::shared_ptr<ExportRenderContext> context,
                       std::map<TrackID, PixelBufferRef> sources, std::int64_t index,
                       std::shared_ptr<FrameSink> sink)
        : time_(time), instruction_(std::move(instruction)), context_(std::move(context)),
          sources_(std::move(sources)), index_(index), sink_(std::move(sink)) {}

    Time compositionTime() const override { return time_; }
    InstructionRef videoCompositionInstruction() const override { return instruction_; }
    RenderContext &renderContext() override { return *context_; }
    PixelBufferRef sourceFrame(TrackID trackID) const override {
        auto it = sources_.find(trackID);
        return it == sources_.end() ? nullptr : it->second;
    }
    void finish(PixelBufferRef frame) override {
        if (finished_.exchange(true)) return;
        if (frame)
            sink_->deliver(index_, std::move(frame));
        else
            sink_->deliver(index_, CompositionError{"com.quillvane.export", 1, "no frame"});
    }
    void finish(const CompositionError &error) override {
        if (finished_.exchange(true)) return;
        sink_->deliver(index_, error);
    }

private:
    Time time_;
    InstructionRef instruction_;
    std::shared_ptr<ExportRenderContext> context_;
    std::map<TrackID, PixelBufferRef> sources_;
    std::int64_t index_;
    std::shared_ptr<FrameSink> sink_;
    std::atomic<bool> finished_{false};
};

// The first error of either thread wins; later ones are consequences.
class FirstError {
public:
    void set(MediaError e) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::move(e);
    }
    std::optional<MediaError> get() const {
        std::lock_guard lock(mutex_);
        return error_;
    }
    bool isSet() const {
        std::lock_guard lock(mutex_);
        return error_.has_value();
    }

private:
    mutable std::mutex mutex_;
    std::optional<MediaError> error_;
};

} // namespace

std::optional<MediaError>
runCompositionExport(const Asset &asset, const VideoComposition &composition, const AudioMix *mix,
                     const ExportPresetSettings &settings, const std::filesystem::path &url,
                     FileType fileType, const CancellationFlag &cancelled,
                     const ProgressSink &progress) {
    const std::string name = url.string();
    const Time fd = composition.frameDuration;
    if (fd.value <= 0 || fd.timescale <= 0)
        return MediaError::failure(name + ": the video composition has no usable frame rate");
    if (!composition.customVideoCompositor || composition.instructions.empty())
        return MediaError::failure(name + ": the video composition has no compositor or no "
                                          "instructions");
    const double rw = composition.renderSize.width, rh = composition.renderSize.height;
    if (!(rw >= 2 && rh >= 2 && rw <= 16384 && rh <= 16384))
        return MediaError::failure(name + ": unusable render size");
    const int W = static_cast<int>(rw), H = static_cast<int>(rh);
    if (asset.durationMs <= 0) return MediaError::failure(name + ": there is nothing to export");

    std::unique_ptr<VideoCompositing> compositor = composition.customVideoCompositor();
    if (!compositor) return MediaError::failure(name + ": the compositor could not be created");
    auto context = std::make_shared<ExportRenderContext>(W, H);
    compositor->renderContextChanged(*context);
    // What the first frames share is made while the sources and the encoder open.
    compositor->prerollForRendering(composition.instruction({0, fd.timescale}), {rw, rh});
    auto opened = CompositionFrameSource::open(asset, composition, name);
    if (!opened) return MediaError::failure(opened.error().message);
    CompositionFrameSource &frames = *opened.value();

    const std::int64_t frameCount = frames.frameCount();
    auto sink = std::make_shared<FrameSink>();
    FirstError firstError;
    bool stop = false; // guarded by the sink's mutex
    std::int64_t encoded = 0;

    // Decodes the source frames of output frame i and hands its request to the compositor;
    // false when the export is to stop.
    auto requestFrame = [&](std::int64_t i) -> bool {
        {
            std::unique_lock lock(sink->mutex());
            // Wait for room ahead of the encoder; give up when it stopped or we are cancelled.
            while (i - encoded >= framesAhead && !stop && !cancelled.isCancelled())
                sink->cv().wait_for(lock, std::chrono::milliseconds(50));
            if (stop) return false;
        }
        if (cancelled.isCancelled() || firstError.isSet()) return false;
        auto frame = frames.frame(i);
        if (!frame) {
            firstError.set(MediaError::failure(frame.error().message));
            return false;
        }
        compositor->startRequest(
            std::make_shared<ExportFrameRequest>(frame->time, std::move(frame->instruction),
                                                 context, std::move(frame->sources), i, sink));
        return true;
    };

    // The first frame goes to the compositor before the encoder is set up: its background and
    // layers are drawn meanwhile.
    if (!requestFrame(0)) {
        compositor.reset();
        if (cancelled.isCancelled()) return MediaError::cancellation();
        if (auto error = firstError.get()) return error;
    }

    // Every audio track is mixed in, at the volume the audio mix gives it.
    std::vector<std::unique_ptr<AudioTimeline>> audio;
    for (const CompositionTrack *track : asset.tracksWithMediaType(MediaType::audio)) {
        double volume = 1;
        if (mix)
            for (const auto &p : mix->inputParameters)
                if (p.trackID == track->trackID) volume = p.volume;
        auto timeline = AudioTimeline::open(*track, sampleRate, 0, volume);
        if (!timeline) return MediaError::failure(timeline.error().message);
        audio.push_back(std::move(timeline.value()));
    }
    int channels = 0;
    for (const auto &a : audio) channels = std::max(channels, a->channels());

    MovieWriter::Settings ws;
    ws.fileType = fileType;
    ws.width = W;
    ws.height = H;
    ws.frameDuration = fd;
    ws.video = settings.video;
    if (!audio.empty()) ws.audio = settings.audio;
    ws.sampleRate = sampleRate;
    ws.audioChannels = std::max(channels, 1);
    auto created = MovieWriter::create(url, ws);
    if (!created) return MediaError::failure(created.error().message);
    std::unique_ptr<MovieWriter> writer = std::move(created.value());

    const std::int64_t totalSamples = AudioTimeline::samplesFor(asset.durationMs, sampleRate);
    std::vector<std::vector<float>> mixBuffer(ws.audioChannels), part(2);
    auto writeAudioUntil = [&](std::int64_t sample) -> Status {
        sample = std::min(sample, totalSamples);
        while (!audio.empty() && writer->audioSampleCount() < sample) {
            const int n = int(std::min<std::int64_t>(4096, sample - writer->audioSampleCount()));
            for (auto &b : mixBuffer) b.assign(n, 0.0f);
            for (auto &a : audio) {
                for (auto &p : part) p.resize(n);
                float *planes[2] = {part[0].data(), part[1].data()};
                if (auto st = a->read(planes, n); !st) return st;
                for (int c = 0; c < ws.audioChannels; ++c) {
                    const auto &from = part[std::min(c, a->channels() - 1)];
                    for (int i = 0; i < n; ++i) mixBuffer[c][i] += from[i];
                }
            }
            std::vector<const float *> planes;
            for (auto &b : mixBuffer) planes.push_back(b.data());
            if (auto st = writer->appendAudio(planes.data(), n); !st) return st;
        }
        return Ok{};
    };

    std::thread encoder([&] {
        try {
            for (std::int64_t i = 0; i < frameCount; ++i) {
                bool timedOut = false;
                auto outcome = sink->take(i, cancelled, stop, timedOut);
                if (!outcome) {
                    if (timedOut)
                        firstError.set(MediaError::failure(
                            name + ": the compositor did not deliver the frame at " +
                            frameClockText(frames.timeOf(i))));
                    break;
                }
                if (auto *error = std::get_if<CompositionError>(&*outcome)) {
                    firstError.set(
                        MediaError::failure("The frame at " + frameClockText(frames.timeOf(i)) +
                                            " could not be drawn: " + error->description));
                    break;
                }
                const PixelBufferRef frame = std::get<PixelBufferRef>(std::move(*outcome));
                if (auto st = writer->appendVideo(*frame); !st) {
                    firstError.set(MediaError::failure(st.error().message));
                    break;
                }
                const std::int64_t endMs = (i + 1) * fd.value * 1000 / fd.timescale;
                if (auto st =
                        writeAudioUntil(AudioTimeline::samplesFor(endMs + audioLeadMs, sampleRate));
                    !st) {
                    firstError.set(MediaError::failure(st.error().message));
                    break;
                }
                {
                    std::lock_guard lock(sink->mutex());
                    encoded = i + 1;
                }
                sink->cv().notify_all();
                if (progress) progress(double(i + 1) / double(frameCount) * 0.99);
            }
        } catch (...) {
            // Out of memory in the encoder: the export fails with that, not with an abort.
            firstError.set(currentExceptionAsError());
        }
        {
            std::lock_guard lock(sink->mutex());
            stop = true;
        }
        sink->cv().notify_all();
    });

    for (std::int64_t i = 1; i < frameCount; ++i)
        if (!requestFrame(i)) break;
    {
        std::lock_guard lock(sink->mutex());
        if (cancelled.isCancelled() || firstError.isSet()) stop = true;
    }
    sink->cv().notify_all();
    encoder.join();
    // Frames still with the compositor finish into the sink, which outlives them.
    compositor.reset();

    if (cancelled.isCancelled()) {
        writer->abandon();
        return MediaError::cancellation();
    }
    if (auto error = firstError.get()) {
        writer->abandon();
        return error;
    }
    if (auto st = writeAudioUntil(totalSamples); !st) {
        writer->abandon();
        return MediaError::failure(st.error().message);
    }
    if (auto st = writer->finish(); !st) {
        writer->abandon();
        return MediaError::failure(st.error().message);
    }
    if (progress) progress(1.0);
    return std::nullopt;
}

} // namespace qv::platform::media
