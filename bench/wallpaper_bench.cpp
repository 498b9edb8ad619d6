// Rendering a wallpaper (generator plus rasterising, as the wallpaper cache does on a miss),
// per generator kind and per built-in preset. Compare with BM_CanvasCopy of the same size.
#include "Compositor/scene/background.h"
#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/wallpaper_generators.h"
#include "interfaces/persistence/edits.h"

#include <benchmark/benchmark.h>

#include <string>

namespace qv {
namespace {

void renderWallpaper(benchmark::State &state, const Edits::WallpaperPreset &preset, int W, int H) {
    const Size size{double(W), double(H)};
    for (auto _ : state) {
        auto img = SceneRenderer::bakeContext().createImage(
            SceneRenderer::wallpaperImage(preset, size), {0, 0, size.width, size.height});
        benchmark::DoNotOptimize(img.get());
    }
    state.SetItemsProcessed(state.iterations());
}

// BM_Wallpaper/<kind>/W/H uses the first preset of each kind; BM_WallpaperPreset/<id>/W/H
// covers every preset.
const int registered = [] {
    constexpr int sizes[][2] = {{1920, 1080}, {3840, 2160}};
    bool seen[4] = {};
    for (const auto &p : Edits::wallpaperPresets()) {
        const auto kind = SceneRenderer::wallpaperKind(p.kind);
        const bool first = !seen[int(kind)];
        seen[int(kind)] = true;
        for (const auto &s : sizes) {
            const std::string dims = "/" + std::to_string(s[0]) + "/" + std::to_string(s[1]);
            if (first)
                benchmark::RegisterBenchmark(
                    ("BM_Wallpaper/" + std::string(SceneRenderer::wallpaperKindName(kind)) + dims)
                        .c_str(),
                    [p, s](benchmark::State &st) { renderWallpaper(st, p, s[0], s[1]); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            benchmark::RegisterBenchmark(
                ("BM_WallpaperPreset/" + p.id + dims).c_str(),
                [p, s](benchmark::State &st) { renderWallpaper(st, p, s[0], s[1]); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    return 0;
}();

} // namespace
} // namespace qv
