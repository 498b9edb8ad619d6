// The webcam picture of one output frame: where it goes on the canvas, its shape, its opacity
// (animated when a camera block changes the layout), and for a bubble floating in a corner the
// soft halo under it and the thin outline over it. Rectangles are canvas pixels, y-up.
// Thread safety: pure functions; the halo and outline images come from the process-wide
// ChromeCache, which has its own lock (one render per geometry even under concurrent calls).
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <optional>
#include <utility>

namespace qv {
class SceneInstruction;
}

namespace qv::SceneRenderer {

// Draw codes of WebcamFrame::shape (not the order of Edits::WebcamShape).
inline constexpr int kWebcamSquare = 0;
inline constexpr int kWebcamRoundedSquare = 1;
inline constexpr int kWebcamCircle = 2;
inline constexpr int kWebcamTriangle = 3;

struct WebcamFrame {
    Rect dest;                 // canvas pixels, y-up
    int shape = 0;             // 0 square, 1 rounded square, 2 circle, 3 triangle
    double cornerRadius = 0;   // codes 0 to 2 are rounded rectangles with this radius
    double alpha = 1;          // in (0.001, 1]
    bool removeBg = false;     // multiply by the person mask
    bool floating = false;     // in a corner: only then are shadow and hairline made
    Size camExtent;            // pixel size of the webcam frame
    platform::ImageRef shadow; // canvas-sized halo, premultiplied; null when absent
    platform::ImageRef
        hairline; // outline placed at dest's origin (its extent there); null when absent
};

// One layout of the webcam. `paddingPercent` is the scene's padding, which the side-by-side
// column follows; corners and "full" ignore it.
struct WebcamConfig {
    Edits::WebcamPosition position = Edits::WebcamPosition::cornerBR;
    Edits::WebcamShape shape = Edits::WebcamShape::circle;
    double size = 0.22;
    double paddingPercent = 0;
};

// The layout at source time `tMs` (not clamped): the first camera block with
// startMs ≤ tMs ≤ endMs, else the scene's defaults.
WebcamConfig webcamConfigAt(const Edits &edits, std::int64_t tMs) noexcept;

// (rect, hidden): where the configuration puts the picture on the canvas. Corners are
// min(W, H) × size squares 24 pixels from both edges (size unclamped); the sides are the
// side-by-side split's webcam column; "full" is a centred W·f × H·f rectangle with
// f = clamp(size / 0.4, 0.05, 1) (a size that is not a number takes the lower bound, as the
// side column does). Hidden for "hidden", for a corner whose size is not a finite number, and
// on a canvas without area: nothing sensible could be placed there.
std::pair<Rect, bool> webcamRect(const WebcamConfig &config, Size canvas) noexcept;

// The draw code of a shape, and its corner radius on `dest` (circle half, rounded square 0.18
// of the shorter side; square and triangle 0).
int webcamShapeCode(Edits::WebcamShape shape) noexcept;
double webcamCornerRadius(Edits::WebcamShape shape, const Rect &dest) noexcept;

// The layout in force at `atMs` (source milliseconds, below 0 counts as 0), with the transition
// from the one before it: after each camera block boundary the rectangle moves (and a picture
// that appears or disappears grows from or shrinks into its centre while fading) along a
// smoothstep over webcamTransitionMs. Absent when hidden or at opacity 0.001 or less.
struct WebcamLayout {
    Rect rect;
    Edits::WebcamShape shape = Edits::WebcamShape::circle;
    double alpha = 1;
    Edits::WebcamPosition position = Edits::WebcamPosition::cornerBR;
};
std::optional<WebcamLayout> webcamLayout(const Edits &edits, Size canvas,
                                         std::int64_t atMs) noexcept;

// The halo of a floating bubble: two blurred white copies of its silhouette (blur 26, opacity
// 0.26, 7 pixels down; under blur 7, opacity 0.32, 2 down) on a transparent canvas-sized image
// at the origin. Cached per rounded dest, shape and canvas; null when nothing can be drawn.
platform::ImageRef webcamHalo(const Rect &dest, Edits::WebcamShape shape, Size canvas);
// The bubble's outline: white at opacity 0.18, max(0.004 × width, 1) wide, on a bitmap of
// dest's rounded size placed at dest's origin. Cached per size and shape; null under 1 pixel.
platform::ImageRef webcamHairline(const Rect &dest, Edits::WebcamShape shape);

// The webcam of one frame at source time `atMs`; absent without a webcam frame, when hidden, or
// when faded out.
std::optional<WebcamFrame> webcamFrame(const SceneInstruction &instruction,
                                       const platform::PixelBufferRef &webcamPB, std::int64_t atMs);

} // namespace qv::SceneRenderer
