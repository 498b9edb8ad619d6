#include "platform/media/export_session.h"

#include "platform/media/export_jobs.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>

namespace qv::platform::media {

namespace {

// A job's failure as the session reports it: a job that failed after a cancel was cancelled.
std::optional<MediaError> asMediaError(const qv::Status &status,
                                       const CancellationFlag &cancelled) {
    if (status) return std::nullopt;
    if (cancelled.isCancelled()) return MediaError::cancellation();
    return MediaError::failure(status.error().message);
}

bool encoderExists(const std::string &name) {
    return avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

// The state sequence as a repeating timer on the executor. The task owns the session (so the
// sequence can report to the end); the timer holds the task only weakly, so that cancelling the
// timer, which the executor may do under its own lock, never destroys a session.
class TimerStatesTask final : public AssetExportSession::StatesTask {
public:
    TimerStatesTask(Executor &executor, std::shared_ptr<AssetExportSession> session,
                    std::function<void(const AssetExportSession::State &)> onState)
        : executor_(executor), session_(std::move(session)), onState_(std::move(onState)) {}
    ~TimerStatesTask() override { cancel(); }

    void start(TimerId id) {
        std::lock_guard lock(mutex_);
        id_ = id;
        if (finished_) executor_.cancelTimer(id_);
    }
    void cancel() override {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        if (id_) executor_.cancelTimer(id_);
    }
    bool isFinished() const override {
        std::lock_guard lock(mutex_);
        return finished_;
    }

    // One tick, on the executor.
    void tick() {
        if (isFinished()) return;
        using Status = AssetExportSession::Status;
        AssetExportSession::State state;
        switch (session_->status()) {
        case Status::unknown:
            state.kind = AssetExportSession::State::Kind::pending;
            break;
        case Status::waiting:
            state.kind = AssetExportSession::State::Kind::waiting;
            break;
        case Status::exporting:
            state.kind = AssetExportSession::State::Kind::exporting;
            state.fractionCompleted = session_->progress();
            break;
        case Status::completed:
        case Status::failed:
        case Status::cancelled:
            cancel(); // the sequence ends with the export
            return;
        }
        if (onState_) onState_(state);
    }

private:
    Executor &executor_;
    const std::shared_ptr<AssetExportSession> session_;
    const std::function<void(const AssetExportSession::State &)> onState_;
    mutable std::mutex mutex_;
    TimerId id_ = 0;
    bool finished_ = false;
};

} // namespace

AssetExportSession::AssetExportSession(std::shared_ptr<const Asset> asset,
                                       ExportPresetSettings settings)
    : asset_(std::move(asset)), settings_(std::move(settings)) {
}

std::shared_ptr<AssetExportSession> AssetExportSession::make(std::shared_ptr<const Asset> asset,
                                                             ExportPresetSettings settings) {
    if (!asset || asset->tracksWithMediaType(MediaType::video).empty()) return nullptr;
    if (!settings.passthrough &&
        (!encoderExists(settings.video.codec) || !encoderExists(settings.audio.codec)))
        return nullptr;
    return std::shared_ptr<AssetExportSession>(
        new AssetExportSession(std::move(asset), std::move(settings)));
}

AssetExportSession::~AssetExportSession() {
    cancelled_->cancel();
    if (thread_.joinable()) thread_.join();
}

void AssetExportSession::setVideoComposition(std::shared_ptr<const VideoComposition> c) {
    std::lock_guard lock(mutex_);
    videoComposition_ = std::move(c);
}

void AssetExportSession::setAudioMix(std::shared_ptr<const AudioMix> mix) {
    std::lock_guard lock(mutex_);
    audioMix_ = std::move(mix);
}

std::shared_ptr<const VideoComposition> AssetExportSession::videoComposition() const {
    std::lock_guard lock(mutex_);
    return videoComposition_;
}

std::shared_ptr<const AudioMix> AssetExportSession::audioMix() const {
    std::lock_guard lock(mutex_);
    return audioMix_;
}

void AssetExportSession::exportAsynchronously(std::filesystem::path url, FileType fileType,
                                              Completion completion) {
    // Shared, so that the completion survives a thread that could not be started.
    auto done = std::make_shared<Completion>(std::move(completion));
    std::optional<MediaError> refused;
    {
        std::lock_guard lock(mutex_);
        if (started_) {
            refused = MediaError::failure("This export session has already been used; make a new "
                                          "one for another export.");
        } else {
            started_ = true;
            status_ = Status::waiting;
            try {
                thread_ = std::thread([this, url = std::move(url), fileType, done]() mutable {
                    run(std::move(url), fileType, std::move(*done));
                });
            } catch (...) {
                status_ = Status::failed;
                error_ = currentExceptionAsError();
                refused = error_;
            }
        }
    }
    if (refused && *done) (*done)(refused);
}

void AssetExportSession::cancelExport() {
    cancelled_->cancel();
}

AssetExportSession::Status AssetExportSession::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

double AssetExportSession::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

std::optional<MediaError> AssetExportSession::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void AssetExportSession::run(std::filesystem::path url, FileType fileType, Completion completion) {
    std::shared_ptr<const VideoComposition> composition;
    std::shared_ptr<const AudioMix> mix;
    {
        std::lock_guard lock(mutex_);
        status_ = Status::exporting;
        composition = videoComposition_;
        mix = audioMix_;
    }
    auto progress = [this](double fraction) {
        std::lock_guard lock(mutex_);
        progress_ = std::max(progress_, fraction);
    };
    std::optional<MediaError> result;
    try {
        if (cancelled_->isCancelled()) {
            result = MediaError::cancellation();
        } else if (settings_.passthrough) {
            result = asMediaError(
                runPassthroughExport(*asset_, url, fileType, *cancelled_, progress), *cancelled_);
        } else if (!composition) {
            result = MediaError::failure(url.string() + ": the preset " + settings_.name +
                                         " needs a video composition");
        } else {
            result = asMediaError(runCompositionExport(*asset_, *composition, mix.get(), settings_,
                                                       url, fileType, *cancelled_, progress),
                                  *cancelled_);
        }
    } catch (...) {
        // The writer's partial file went with the unwinding; the destination is untouched.
        result = currentExceptionAsError();
    }
    {
        std::lock_guard lock(mutex_);
        if (!result)
            status_ = Status::completed;
        else
            status_ = result->isCancellation() ? Status::cancelled : Status::failed;
        error_ = result;
    }
    if (completion) completion(result);
}

std::shared_ptr<AssetExportSession::StatesTask>
AssetExportSession::states(Executor &executor, std::chrono::milliseconds updateInterval,
                           std::function<void(const State &)> onState) {
    auto task = std::make_shared<TimerStatesTask>(executor, shared_from_this(), std::move(onState));
    std::weak_ptr<TimerStatesTask> weak = task;
    task->start(executor.scheduleRepeating(updateInterval, [weak] {
        if (auto t = weak.lock()) t->tick();
    }));
    return task;
}

} // namespace qv::platform::media
