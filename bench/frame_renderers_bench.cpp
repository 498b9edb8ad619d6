// One whole frame through the frame pipeline at 1080p, drawn by the compositing pass and by the
// image-filter renderer (the same document with a blur mask active), in the same run.
#include "Compositor/engine/metal_video_compositor.h"
#include "Compositor/engine/scene_instruction.h"
#include "platform/media/frame_request.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace qv {
namespace {

using platform::PixelBuffer;
using platform::PixelBufferRef;
using platform::PixelFormat;

// A screen-like picture; `shift` makes each copy differ, so that no frame reuses the last one.
PixelBufferRef screenPicture(int w, int h, int shift) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y) {
        std::uint8_t *row = pb->row(y);
        for (int x = 0; x < w; ++x) {
            row[4 * x + 0] = static_cast<std::uint8_t>((x * 7 + y + shift) & 0xFF);
            row[4 * x + 1] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            row[4 * x + 2] = static_cast<std::uint8_t>(((x / 40) * 50 + (y / 30) * 20) & 0xFF);
            row[4 * x + 3] = 255;
        }
    }
    return pb;
}

// A framed 1080p scene with a zoom, a cursor and, with `blur`, a blur mask over a tenth of the
// screen active for the whole frame.
std::shared_ptr<const SceneInstruction> scene(bool blur) {
    Edits edits = Edits::defaults();
    edits.scene.backgroundKind = Edits::BackgroundKind::gradient;
    edits.scene.chromeStyle = Edits::ChromeStyle::browser;
    edits.scene.showBorder = true;
    edits.zooms.push_back({0, 10000, 1.6, 1, 0.5, 0.5});
    if (blur)
        edits.masks.push_back(
            {"secret", 0, 10000, Edits::MaskStyle::blur, {{0, 0.55, 0.2, 0.3, 0.3}}});
    const Size screen{1920, 1080};
    ZoomPath zoom(edits.zooms, screen);
    std::vector<CursorSample> path;
    for (int k = 0; k <= 100; ++k) path.push_back({k * 100, 400.0 + 10 * k, 300.0 + 5 * k});
    return std::make_shared<const SceneInstruction>(
        platform::media::TimeRange{{0, 1000}, {10000, 1000}}, 1, std::nullopt, edits,
        Size{1920, 1080}, screen, SegmentMap{}, std::move(zoom), std::move(path),
        std::vector<CursorKindSample>{}, std::vector<CursorSample>{}, std::vector<KeyChord>{}, true,
        nullptr, std::nullopt);
}

void drawFrames(benchmark::State &state, bool blur) {
    MetalVideoCompositor compositor;
    const auto instruction = scene(blur);
    const PixelBufferRef screens[2] = {screenPicture(1920, 1080, 0), screenPicture(1920, 1080, 1)};
    auto context = std::make_shared<platform::media::FixedSizeRenderContext>(1920, 1080);
    int n = 0;
    for (auto _ : state) {
        auto request = std::make_shared<platform::media::FrameRequest>(
            platform::media::Time{5000, 1000}, instruction, context,
            std::map<platform::media::TrackID, PixelBufferRef>{{1, screens[n++ % 2]}});
        compositor.startRequest(request);
        auto outcome = request->wait();
        if (!std::holds_alternative<PixelBufferRef>(outcome)) {
            state.SkipWithError("the frame was not drawn");
            break;
        }
    }
    const auto d = compositor.diagnostics();
    state.counters["pass_frames"] = d.gpuFrames;
    state.counters["filter_frames"] = d.fallbackFrames;
}

void BM_FramePass1080p(benchmark::State &state) {
    drawFrames(state, false);
}
void BM_FrameFilters1080p(benchmark::State &state) {
    drawFrames(state, true);
}
BENCHMARK(BM_FramePass1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameFilters1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace qv
