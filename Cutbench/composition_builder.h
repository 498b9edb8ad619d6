// The editor component's composition builder: turns a recording folder, its
// metadata and its edit document into the composition that an export session plays. The
// source files are the screen video, an optional webcam video and optional microphone sound
// (names in RecordingFiles, formats in docs/formats.md); frames are drawn by
// MetalVideoCompositor from SceneInstruction values built here.
//
// Thread safety: build() may be called from any thread; its completion runs on the executor
// it is given. The composition's parts are immutable and shared.
// Lifetime: a Task must not outlive the executor it delivers to; destroying it cancels the
// build and waits for its thread.
#pragma once

#include "Compositor/engine/track_samples.h"
#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/recording.h"
#include "interfaces/persistence/zoom_path.h"
#include "platform/core/executor.h"
#include "platform/media/asset.h"
#include "platform/media/media_error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

namespace qv {

namespace RecordingFiles {
inline constexpr const char *screen = "screen.mp4";
inline constexpr const char *webcam = "webcam.mp4";
inline constexpr const char *microphone = "mic.m4a";
} // namespace RecordingFiles

// Track IDs of the composed asset.
namespace CompositionTrackID {
inline constexpr platform::media::TrackID screen = 1;
inline constexpr platform::media::TrackID webcam = 2;
inline constexpr platform::media::TrackID microphone = 3;
} // namespace CompositionTrackID

struct EditorComposition {
    std::shared_ptr<const platform::media::Asset> asset;
    std::shared_ptr<const platform::media::VideoComposition> videoComposition;
    std::shared_ptr<const platform::media::AudioMix> audioMix;
    std::int64_t sourceDurationMs = 0;
    ZoomPath zoomPath;
};

namespace CompositionBuilder {

using Outcome = std::variant<EditorComposition, platform::media::MediaError>;

// A build running on its own thread.
class Task {
public:
    ~Task();
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;
    // The build then reports a cancellation error, unless its outcome has already been
    // delivered.
    void cancel();

private:
    friend std::shared_ptr<Task> build(std::filesystem::path, RecordingMeta, Edits,
                                       platform::Executor &, std::function<void(Outcome)>);
    Task() = default;
    // Shared with the delivery on the executor, which checks it once more before reporting.
    std::shared_ptr<platform::media::CancellationFlag> cancelled_ =
        std::make_shared<platform::media::CancellationFlag>();
    std::thread thread_;
};

// Builds on a thread of its own and delivers the outcome on `deliverOn`. A failure names the
// file and the problem; a cancelled build reports a cancellation error.
std::shared_ptr<Task> build(std::filesystem::path recordingDirectory, RecordingMeta meta,
                            Edits edits, platform::Executor &deliverOn,
                            std::function<void(Outcome)> completion);

// The same work on the calling thread. `canvas` replaces the render size that the source would
// get (a still or a preview at a size of its own); the scene is laid out for that canvas.
Outcome buildNow(const std::filesystem::path &recordingDirectory, const RecordingMeta &meta,
                 const Edits &edits, const platform::media::CancellationFlag &cancelled = {},
                 std::optional<Size> canvas = std::nullopt);

// The output canvas for a source (the window's size for window recordings): the source size,
// scaled down to fit 3840 × 2160 (2160 × 3840 upright) with its aspect kept, each side rounded
// down to an even number of pixels, at least 2.
Size renderSize(Size source);

// Automatic zooms (source 0) get their centre from the pointer: the time-weighted mean of the
// pointer positions (fractions of the source) while the zoom lasts, or the last position before
// it when the pointer did not move. Zooms made by hand, and automatic ones without any pointer
// sample up to their end, keep their centre.
std::vector<Edits::Zoom> centredZooms(const std::vector<Edits::Zoom> &zooms,
                                      const std::vector<CursorSample> &cursorPath);

} // namespace CompositionBuilder

} // namespace qv
