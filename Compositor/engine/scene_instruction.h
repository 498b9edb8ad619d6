// SceneInstruction: everything the compositor needs to draw every frame of one output time
// range. Built once by whoever assembles the composition, then shared by every frame request.
// Thread safety: immutable after construction; read concurrently without locks.
// Lifetime: shared; the compositor keys its static-layer cache on the object's identity, so a
// changed document must come in a new instruction object.
#pragma once

#include "Compositor/engine/track_samples.h"
#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/segment_map.h"
#include "interfaces/persistence/window_crop.h"
#include "interfaces/persistence/zoom_path.h"
#include "platform/image/image.h"
#include "platform/media/video_compositing.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qv {

namespace SceneRenderer {
class FollowFilter;
}

class SceneInstruction final : public platform::media::VideoCompositionInstruction {
public:
    using TrackID = platform::media::TrackID;

    SceneInstruction(platform::media::TimeRange timeRange, TrackID screenTrackID,
                     std::optional<TrackID> webcamTrackID, Edits edits, Size renderSize,
                     Size screenSize, SegmentMap segmentMap, ZoomPath zoomPath,
                     std::vector<CursorSample> cursorPath,
                     std::vector<CursorKindSample> cursorKinds, std::vector<CursorSample> clicks,
                     std::vector<KeyChord> keyChords, bool cursorSynthetic,
                     platform::ImageRef backgroundImage, std::optional<WindowCrop> windowCrop);
    // The form for compositions of many instructions: the document, the time map, the zoom path
    // and the window crop are shared by all of them instead of copied into each (a document
    // with thousands of cuts would otherwise be copied thousands of times).
    SceneInstruction(platform::media::TimeRange timeRange, TrackID screenTrackID,
                     std::optional<TrackID> webcamTrackID, std::shared_ptr<const Edits> edits,
                     Size renderSize, Size screenSize, std::shared_ptr<const SegmentMap> segmentMap,
                     std::shared_ptr<const ZoomPath> zoomPath, std::vector<CursorSample> cursorPath,
                     std::vector<CursorKindSample> cursorKinds, std::vector<CursorSample> clicks,
                     std::vector<KeyChord> keyChords, bool cursorSynthetic,
                     platform::ImageRef backgroundImage,
                     std::shared_ptr<const WindowCrop> windowCrop);
    SceneInstruction() = delete;
    SceneInstruction(const SceneInstruction &) = delete;
    SceneInstruction &operator=(const SceneInstruction &) = delete;

    platform::media::TimeRange timeRange() const override { return timeRange_; }
    bool enablePostProcessing() const override { return enablePostProcessing_; }
    bool containsTweening() const override { return containsTweening_; }
    std::optional<std::vector<TrackID>> requiredSourceTrackIDs() const override {
        return requiredSourceTrackIDs_;
    }
    TrackID passthroughTrackID() const override { return passthroughTrackID_; }

    TrackID screenTrackID() const noexcept { return screenTrackID_; }
    const std::optional<TrackID> &webcamTrackID() const noexcept { return webcamTrackID_; }
    const Edits &edits() const noexcept { return *edits_; }
    const std::shared_ptr<const Edits> &sharedEdits() const noexcept { return edits_; }
    Size renderSize() const noexcept { return renderSize_; }
    Size screenSize() const noexcept { return screenSize_; }
    const SegmentMap &segmentMap() const noexcept { return *segmentMap_; }
    const ZoomPath &zoomPath() const noexcept { return *zoomPath_; }
    const std::vector<CursorSample> &cursorPath() const noexcept { return cursorPath_; }
    const std::vector<CursorKindSample> &cursorKinds() const noexcept { return cursorKinds_; }
    const std::vector<CursorSample> &clicks() const noexcept { return clicks_; }
    const std::vector<KeyChord> &keyChords() const noexcept { return keyChords_; }
    bool cursorSynthetic() const noexcept { return cursorSynthetic_; }
    const platform::ImageRef &backgroundImage() const noexcept { return backgroundImage_; }
    // Null for a recording of the whole screen.
    const WindowCrop *windowCrop() const noexcept { return windowCrop_.get(); }

    // The follow filter's saved states along cursorPath for the document's smoothing: derived
    // from the properties above, built once on first use (thread-safe).
    const SceneRenderer::FollowFilter &followFilter() const;

    ~SceneInstruction() override;

private:
    const platform::media::TimeRange timeRange_;
    const bool enablePostProcessing_;
    const bool containsTweening_;
    const std::optional<std::vector<TrackID>> requiredSourceTrackIDs_;
    const TrackID passthroughTrackID_;
    const TrackID screenTrackID_;
    const std::optional<TrackID> webcamTrackID_;
    const std::shared_ptr<const Edits> edits_;
    const Size renderSize_;
    const Size screenSize_;
    const std::shared_ptr<const SegmentMap> segmentMap_;
    const std::shared_ptr<const ZoomPath> zoomPath_;
    const std::vector<CursorSample> cursorPath_;
    const std::vector<CursorKindSample> cursorKinds_;
    const std::vector<CursorSample> clicks_;
    const std::vector<KeyChord> keyChords_;
    const bool cursorSynthetic_;
    const platform::ImageRef backgroundImage_;
    const std::shared_ptr<const WindowCrop> windowCrop_;

    mutable std::once_flag followOnce_;
    mutable std::unique_ptr<const SceneRenderer::FollowFilter> follow_;
};

using SceneInstructionRef = std::shared_ptr<const SceneInstruction>;

} // namespace qv
