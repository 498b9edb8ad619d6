// The cursor of one frame at the end of a long pointer track against a one-second one: the
// follow filter's saved states keep the cost per frame independent of the track's length.
#include "Compositor/engine/scene_instruction.h"
#include "Compositor/scene/cursor_frame.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace qv {
namespace {

std::shared_ptr<const SceneInstruction> trackOf(std::int64_t durationMs) {
    std::vector<CursorSample> path;
    for (std::int64_t t = 0; t <= durationMs; t += 1000 / 60)
        path.push_back({t, 0.5 + 0.4 * std::sin(t / 700.0), 0.5 + 0.4 * std::cos(t / 900.0)});
    Edits edits = Edits::defaults();
    edits.scene.cursorSmoothing = 0.5;
    edits.scene.clickEffect = Edits::ClickEffect::ring;
    const Size screen{2880, 1800};
    return std::make_shared<const SceneInstruction>(
        platform::media::TimeRange{}, 1, std::nullopt, edits, Size{1920, 1080}, screen,
        SegmentMap{}, ZoomPath{}, std::move(path), std::vector<CursorKindSample>{{0, "arrow"}},
        std::vector<CursorSample>{{1000, 0.5, 0.5}}, std::vector<KeyChord>{}, true, nullptr,
        std::nullopt);
}

// The last millisecond before the final sample: the filter runs over the whole track (at the
// final sample itself the position is simply that sample).
void BM_CursorFrame(benchmark::State &state, std::int64_t durationMs) {
    const auto I = trackOf(durationMs);
    const std::int64_t at = I->cursorPath().back().tMs - 1;
    SceneRenderer::cursorFrame(*I, at, {4, 4}); // sprite and filter states made once
    for (auto _ : state) benchmark::DoNotOptimize(SceneRenderer::cursorFrame(*I, at, {4, 4}));
}
BENCHMARK_CAPTURE(BM_CursorFrame, 1s, 1000);
BENCHMARK_CAPTURE(BM_CursorFrame, 60min, 60 * 60 * 1000);

} // namespace
} // namespace qv
