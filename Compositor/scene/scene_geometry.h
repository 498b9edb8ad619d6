// Where the parts of one frame go: the privacy masks and the zoom at a source time, and how the
// recorded screen's pixels map into content space. Both renderers (the compositing pass and the
// image-filter renderer) take their geometry from here, so they cannot drift apart.
// Rectangles are content pixels, y-up, from the crop origin. Pure functions.
#pragma once

#include "Compositor/scene/screen_placement.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv {
class SceneInstruction;
}

namespace qv::SceneRenderer {

// A mask active at the time, with its rectangle in content pixels. One of one pixel or less in
// width or height is not drawn (`drawn` false).
struct ActiveMask {
    const Edits::Mask *mask = nullptr;
    Rect rect;
    bool drawn = false;
};
// In document order.
std::vector<ActiveMask> activeMasks(const SceneInstruction &instruction, std::int64_t atMs,
                                    Size contentSize);

// The zoom at the time, when it is more than 1.001: the scale and the content point that the
// screen rectangle's centre shows (clamped so that the view stays inside the content).
struct ZoomView {
    double scale = 1;
    double focusX = 0, focusY = 0;
};
std::optional<ZoomView> zoomView(const SceneInstruction &instruction, std::int64_t atMs,
                                 const ScreenPlacement &placement);

// Where the canonical screen comes from in the captured picture at the time: the live window of
// a window recording (y-up, capture pixels), or the whole capture.
struct ScreenWindow {
    double captureW = 0, captureH = 0; // the capture's size
    double x = 0, y = 0, width = 0, height = 0;
    // The window sits at the top-left of the canonical screen at its own size ("maxObserved");
    // otherwise it is stretched over the whole screen.
    bool letterbox = false;
};
ScreenWindow screenWindow(const SceneInstruction &instruction, std::int64_t atMs);

} // namespace qv::SceneRenderer
