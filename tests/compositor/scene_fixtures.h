// Small builders shared by the compositor tests.
#pragma once

#include "Compositor/engine/metal_video_compositor.h"
#include "Compositor/engine/scene_instruction.h"
#include "platform/media/frame_request.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <ostream>

namespace qv {

// Readable rectangles, sizes and points in assertion messages.
inline void PrintTo(const Rect &r, std::ostream *os) {
    *os << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}
inline void PrintTo(const Size &s, std::ostream *os) {
    *os << s.width << " × " << s.height;
}
inline void PrintTo(const Point &p, std::ostream *os) {
    *os << "(" << p.x << ", " << p.y << ")";
}

} // namespace qv

namespace qv::testing {

// A document whose frame is drawn flat: solid background, no padding, no radius, no chrome.
inline Edits flatEdits(const char *background = "#102030") {
    Edits e = Edits::defaults();
    e.scene.backgroundKind = Edits::BackgroundKind::solid;
    e.scene.backgroundColor = background;
    e.scene.paddingPercent = 0;
    e.scene.frameRadius = 0;
    e.scene.chromeStyle = Edits::ChromeStyle::none;
    e.scene.showBorder = false;
    return e;
}

struct InstructionPlan {
    Edits edits = flatEdits();
    Size renderSize{64, 48};
    Size screenSize{64, 48};
    std::optional<WindowCrop> windowCrop{};
    std::optional<platform::media::TrackID> webcamTrackID{};
    platform::media::TrackID screenTrackID = 1;
    SegmentMap segmentMap{};
    std::vector<CursorSample> cursorPath{};
    std::vector<CursorKindSample> cursorKinds{};
    std::vector<CursorSample> clicks{};
    bool cursorSynthetic = true;
};

inline std::shared_ptr<const SceneInstruction> makeInstruction(InstructionPlan s) {
    ZoomPath zoom(s.edits.zooms, s.screenSize);
    return std::make_shared<const SceneInstruction>(
        platform::media::TimeRange{{0, 1000}, {60000, 1000}}, s.screenTrackID, s.webcamTrackID,
        std::move(s.edits), s.renderSize, s.screenSize, std::move(s.segmentMap), std::move(zoom),
        std::move(s.cursorPath), std::move(s.cursorKinds), std::move(s.clicks),
        std::vector<KeyChord>{}, s.cursorSynthetic, nullptr, std::move(s.windowCrop));
}

// A BGRA buffer filled with one opaque colour.
inline platform::PixelBufferRef solidBuffer(int w, int h, std::uint8_t r, std::uint8_t g,
                                            std::uint8_t b) {
    auto pb = platform::PixelBuffer::create(w, h, platform::PixelFormat::bgra8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t *p = pb->row(y) + 4 * x;
            p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
        }
    return pb;
}

inline std::array<int, 3> rgbAt(const platform::PixelBuffer &pb, int x, int y) {
    const std::uint8_t *p = pb.row(y) + 4 * x;
    return {p[2], p[1], p[0]};
}

// The pixel at (x, y) (row 0 at the top) is `want` within `tolerance` on every channel.
inline ::testing::AssertionResult rgbNear(const platform::PixelBuffer &pb, int x, int y,
                                          std::array<int, 3> want, int tolerance = 1) {
    const auto got = rgbAt(pb, x, y);
    for (int c = 0; c < 3; ++c)
        if (std::abs(got[c] - want[c]) > tolerance)
            return ::testing::AssertionFailure()
                   << "pixel (" << x << ", " << y << ") is (" << got[0] << ", " << got[1] << ", "
                   << got[2] << "), expected (" << want[0] << ", " << want[1] << ", " << want[2]
                   << ") within " << tolerance;
    return ::testing::AssertionSuccess();
}

// Each of x, y, width and height within `tol`.
inline ::testing::AssertionResult rectNear(const Rect &got, const Rect &want, double tol = 1e-9) {
    if (std::abs(got.x - want.x) <= tol && std::abs(got.y - want.y) <= tol &&
        std::abs(got.width - want.width) <= tol && std::abs(got.height - want.height) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << ::testing::PrintToString(got) << ", expected "
                                         << ::testing::PrintToString(want) << " within " << tol;
}

using Outcome = platform::media::FrameRequest::Outcome;

inline std::shared_ptr<platform::media::FrameRequest>
frameRequest(platform::media::InstructionRef instruction, std::int64_t ms,
             platform::PixelBufferRef screen, int w, int h) {
    std::map<platform::media::TrackID, platform::PixelBufferRef> sources;
    if (screen) sources[1] = std::move(screen);
    return std::make_shared<platform::media::FrameRequest>(
        platform::media::Time{ms, 1000}, std::move(instruction),
        std::make_shared<platform::media::FixedSizeRenderContext>(w, h), std::move(sources));
}

// Renders one frame and returns the output buffer, or null when the frame failed.
inline platform::PixelBufferRef renderFrame(MetalVideoCompositor &c,
                                            std::shared_ptr<const SceneInstruction> instruction,
                                            std::int64_t ms, platform::PixelBufferRef screen) {
    const int w = static_cast<int>(instruction->renderSize().width);
    const int h = static_cast<int>(instruction->renderSize().height);
    auto request = frameRequest(std::move(instruction), ms, std::move(screen), w, h);
    c.startRequest(request);
    auto outcome = request->wait();
    auto *frame = std::get_if<platform::PixelBufferRef>(&outcome);
    return frame ? *frame : nullptr;
}

} // namespace qv::testing
