#include "Compositor/engine/scene_instruction.h"

#include "Compositor/scene/cursor_path.h"

namespace qv {

namespace {
// Screen first, webcam second: the order the frame pipeline reads them in.
std::vector<platform::media::TrackID>
requiredTracks(platform::media::TrackID screen,
               const std::optional<platform::media::TrackID> &cam) {
    std::vector<platform::media::TrackID> ids{screen};
    if (cam) ids.push_back(*cam);
    return ids;
}
} // namespace

SceneInstruction::SceneInstruction(platform::media::TimeRange timeRange, TrackID screenTrackID,
                                   std::optional<TrackID> webcamTrackID, Edits edits,
                                   Size renderSize, Size screenSize, SegmentMap segmentMap,
                                   ZoomPath zoomPath, std::vector<CursorSample> cursorPath,
                                   std::vector<CursorKindSample> cursorKinds,
                                   std::vector<CursorSample> clicks,
                                   std::vector<KeyChord> keyChords, bool cursorSynthetic,
                                   platform::ImageRef backgroundImage,
                                   std::optional<WindowCrop> windowCrop)
    : SceneInstruction(
          timeRange, screenTrackID, webcamTrackID, std::make_shared<const Edits>(std::move(edits)),
          renderSize, screenSize, std::make_shared<const SegmentMap>(std::move(segmentMap)),
          std::make_shared<const ZoomPath>(std::move(zoomPath)), std::move(cursorPath),
          std::move(cursorKinds), std::move(clicks), std::move(keyChords), cursorSynthetic,
          std::move(backgroundImage),
          windowCrop ? std::make_shared<const WindowCrop>(std::move(*windowCrop)) : nullptr) {
}

SceneInstruction::SceneInstruction(
    platform::media::TimeRange timeRange, TrackID screenTrackID,
    std::optional<TrackID> webcamTrackID, std::shared_ptr<const Edits> edits, Size renderSize,
    Size screenSize, std::shared_ptr<const SegmentMap> segmentMap,
    std::shared_ptr<const ZoomPath> zoomPath, std::vector<CursorSample> cursorPath,
    std::vector<CursorKindSample> cursorKinds, std::vector<CursorSample> clicks,
    std::vector<KeyChord> keyChords, bool cursorSynthetic, platform::ImageRef backgroundImage,
    std::shared_ptr<const WindowCrop> windowCrop)
    : timeRange_(timeRange), enablePostProcessing_(false), containsTweening_(true),
      requiredSourceTrackIDs_(requiredTracks(screenTrackID, webcamTrackID)),
      passthroughTrackID_(platform::media::invalidTrackID), screenTrackID_(screenTrackID),
      webcamTrackID_(webcamTrackID),
      edits_(edits ? std::move(edits) : std::make_shared<const Edits>(Edits::defaults())),
      renderSize_(renderSize), screenSize_(screenSize),
      segmentMap_(segmentMap ? std::move(segmentMap) : std::make_shared<const SegmentMap>()),
      zoomPath_(zoomPath ? std::move(zoomPath) : std::make_shared<const ZoomPath>()),
      cursorPath_(std::move(cursorPath)), cursorKinds_(std::move(cursorKinds)),
      clicks_(std::move(clicks)), keyChords_(std::move(keyChords)),
      cursorSynthetic_(cursorSynthetic), backgroundImage_(std::move(backgroundImage)),
      windowCrop_(std::move(windowCrop)) {
}

SceneInstruction::~SceneInstruction() = default;

const SceneRenderer::FollowFilter &SceneInstruction::followFilter() const {
    std::call_once(followOnce_, [this] {
        follow_ = std::make_unique<const SceneRenderer::FollowFilter>(
            cursorPath_, edits_->effectiveScene().cursorSmoothing);
    });
    return *follow_;
}

} // namespace qv
