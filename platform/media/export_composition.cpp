// The composition export: three stages that overlap, so that decoding, compositing and encoding
// keep both cores busy.
//   1. The decode stage, on this thread, decodes the sources of each output frame and hands its
//      request to the compositor (which holds at most two in flight and blocks the third).
//   2. The compositor finishes requests on its own threads into the frame queue.
//   3. The encode stage, on a thread of its own, takes the frames in order, encodes them and
//      writes the sound beside them.
// The frame queue's bound is what keeps memory flat: at most `framesAhead` frames are between
// request and encoder. A cancel or a failure on either side closes the queue, which wakes both.
#include "platform/media/export_jobs.h"

#include "platform/media/audio_interleaver.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/export_decode_stage.h"
#include "platform/media/export_encode_stage.h"
#include "platform/media/export_frame_queue.h"
#include "platform/media/movie_writer.h"

#include <limits>
#include <mutex>
#include <thread>

namespace qv::platform::media {

namespace {

constexpr std::int64_t framesAhead = 4;
constexpr int sampleRate = 48000;

// The first error of either stage wins; later ones are its consequences.
class FirstError {
public:
    void set(Error e) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::move(e);
    }
    std::optional<Error> get() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<Error> error_;
};

} // namespace

Status runCompositionExport(const Asset &asset, const VideoComposition &composition,
                            const AudioMix *mix, const ExportPresetSettings &settings,
                            const std::filesystem::path &url, FileType fileType,
                            const CancellationFlag &cancelled, const ProgressSink &progress) {
    const std::string name = url.string();
    const Time fd = composition.frameDuration;
    if (fd.value <= 0 || fd.timescale <= 0)
        return Error{name + ": the video composition has no usable frame rate"};
    if (!composition.customVideoCompositor || composition.instructions.empty())
        return Error{name + ": the video composition has no compositor or no "
                            "instructions"};
    const double rw = composition.renderSize.width, rh = composition.renderSize.height;
    if (!(rw >= 2 && rh >= 2 && rw <= 16384 && rh <= 16384))
        return Error{name + ": unusable render size"};
    const int W = static_cast<int>(rw), H = static_cast<int>(rh);
    if (asset.durationMs <= 0) return Error{name + ": there is nothing to export"};

    std::unique_ptr<VideoCompositing> compositor = composition.customVideoCompositor();
    if (!compositor) return Error{name + ": the compositor could not be created"};
    auto context = std::make_shared<ExportRenderContext>(W, H);
    compositor->renderContextChanged(*context);
    // What the first frames share is made while the sources and the encoder open.
    compositor->prerollForRendering(composition.instruction({0, fd.timescale}), {rw, rh});
    auto frames = CompositionFrameSource::open(asset, composition, name);
    if (!frames) return Error{frames.error().message};
    const std::int64_t frameCount = frames.value()->frameCount();

    auto queue = std::make_shared<ExportFrameQueue>(framesAhead);
    const auto wakeUp = cancelled.onCancel([&queue = *queue] { queue.close(); });
    ExportDecodeStage decode(*frames.value(), *compositor, context, queue);
    FirstError firstError;
    // Frames still with the compositor finish into the queue, which outlives them; the
    // compositor waits for them when it goes.
    auto fail = [&](Error error) {
        firstError.set(std::move(error));
        queue->close();
    };

    // The first frame goes to the compositor before the encoder is set up: its background and
    // layers are drawn meanwhile.
    if (auto st = decode.request(0, 1); !st) return Error{st.error().message};
    if (cancelled.isCancelled()) return Error{cancelledText};

    auto audio = AudioInterleaver::open(asset, mix, sampleRate);
    if (!audio) return Error{audio.error().message};
    MovieWriter::Settings ws;
    ws.fileType = fileType;
    ws.width = W;
    ws.height = H;
    ws.frameDuration = fd;
    ws.video = settings.video;
    if (audio.value()->hasSound()) ws.audio = settings.audio;
    ws.sampleRate = sampleRate;
    ws.audioChannels = audio.value()->channels();
    auto created = MovieWriter::create(url, ws);
    if (!created) return Error{created.error().message};
    MovieWriter &writer = *created.value();

    ExportEncodeStage encode(*queue, writer, *audio.value(), {fd, sampleRate}, name);
    std::thread encoder([&] {
        try {
            if (auto st = encode.run(frameCount, progress); !st) fail(st.error());
        } catch (...) {
            // Out of memory in the encoder: the export fails with that, not with an abort.
            fail(Error{currentExceptionAsError().localizedDescription});
        }
    });
    try {
        if (auto st = decode.request(1, frameCount); !st) fail(Error{st.error().message});
    } catch (...) {
        fail(Error{currentExceptionAsError().localizedDescription});
    }
    encoder.join();
    compositor.reset();

    if (cancelled.isCancelled()) {
        writer.abandon();
        return Error{cancelledText};
    }
    if (auto error = firstError.get()) {
        writer.abandon();
        return *error;
    }
    if (auto st = audio.value()->writeUntil(writer, std::numeric_limits<std::int64_t>::max());
        !st) {
        writer.abandon();
        return Error{st.error().message};
    }
    if (auto st = writer.finish(); !st) {
        writer.abandon();
        return Error{st.error().message};
    }
    if (progress) progress(1.0);
    return Ok{};
}

} // namespace qv::platform::media
