// The export session: writes a composed asset to a movie file with the encoder settings it is
// given. With a video composition, every output frame is decoded from the source tracks,
// drawn by the composition's compositor (two frames in flight), converted and encoded, and the
// audio is cut along the same time map; the passthrough preset copies the streams unchanged.
//
// Thread safety: every member may be called from any thread. The export runs on the session's
// own threads; its completion handler runs on one of them.
// Lifetime: destroying a session cancels a running export and waits for its threads.
#pragma once

#include "platform/core/executor.h"
#include "platform/media/asset.h"
#include "platform/media/media_error.h"
#include "platform/media/movie_writer.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qv::platform::media {

// What an export writes: encoders and their settings, or a stream copy. The presets that users
// choose from, and the settings behind each, are the caller's.
struct ExportPresetSettings {
    std::string name; // the session preset's name, for messages
    bool passthrough = false;
    VideoEncoderSettings video;
    AudioEncoderSettings audio;
};

class AssetExportSession : public std::enable_shared_from_this<AssetExportSession> {
public:
    enum class Status { unknown, waiting, exporting, completed, failed, cancelled };

    // One element of the state sequence.
    struct State {
        enum class Kind { pending, waiting, exporting };
        Kind kind = Kind::pending;
        double fractionCompleted = 0; // for `exporting`
        friend bool operator==(const State &, const State &) = default;
    };

    // A running subscription to the state sequence; cancel() ends it.
    class StatesTask {
    public:
        virtual ~StatesTask() = default;
        virtual void cancel() = 0;
        virtual bool isFinished() const = 0;
    };

    using Completion = std::function<void(std::optional<MediaError>)>;

    // Null when this machine's FFmpeg lacks one of the settings' encoders, or when the asset has
    // no video track.
    static std::shared_ptr<AssetExportSession> make(std::shared_ptr<const Asset> asset,
                                                    ExportPresetSettings settings);
    ~AssetExportSession();
    AssetExportSession(const AssetExportSession &) = delete;
    AssetExportSession &operator=(const AssetExportSession &) = delete;

    const std::string &presetName() const noexcept { return settings_.name; }
    // Set before the export starts; later changes are ignored by a running export.
    void setVideoComposition(std::shared_ptr<const VideoComposition> composition);
    void setAudioMix(std::shared_ptr<const AudioMix> mix);
    std::shared_ptr<const VideoComposition> videoComposition() const;
    std::shared_ptr<const AudioMix> audioMix() const;

    // Starts writing the movie; `completion` gets nothing on success, or the error (a
    // cancellation error after cancelExport). The file appears at `url` only when complete; an
    // existing file there is replaced then. A session exports once.
    void exportAsynchronously(std::filesystem::path url, FileType fileType, Completion completion);
    // Stops a running export soon; its completion then reports cancellation.
    void cancelExport();

    Status status() const;
    double progress() const; // fraction of the output written, 0 to 1
    std::optional<MediaError> error() const;

    // Calls `onState` on the executor every `updateInterval` with the current state, until
    // the export has ended (no call after that) or the task is cancelled or dropped. The task
    // keeps the session alive.
    std::shared_ptr<StatesTask> states(Executor &executor, std::chrono::milliseconds updateInterval,
                                       std::function<void(const State &)> onState);

private:
    struct Job;
    AssetExportSession(std::shared_ptr<const Asset> asset, ExportPresetSettings settings);
    void run(std::filesystem::path url, FileType fileType, Completion completion);

    const std::shared_ptr<const Asset> asset_;
    const ExportPresetSettings settings_;
    const CancellationFlagRef cancelled_ = std::make_shared<CancellationFlag>();

    mutable std::mutex mutex_;
    std::shared_ptr<const VideoComposition> videoComposition_;
    std::shared_ptr<const AudioMix> audioMix_;
    Status status_ = Status::unknown;
    double progress_ = 0;
    std::optional<MediaError> error_;
    bool started_ = false;
    std::thread thread_;
};

} // namespace qv::platform::media
