// The compositing pass against the cheapest thing a frame could cost: one copy of the canvas.
#include "Compositor/engine/scene_pass_kernel.h"
#include "Compositor/engine/scene_pass_setup.h"
#include "Compositor/engine/scene_uniforms.h"
#include "Compositor/scene/scene_renderer.h"
#include "platform/gfx/device.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace qv {
namespace {

using platform::PixelBuffer;
using platform::PixelFormat;
using namespace platform::gfx;

// Stripes and blocks, so that the screen is not a flat colour the caches could exploit.
platform::PixelBufferRef screenLike(int w, int h) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y) {
        std::uint8_t *row = pb->row(y);
        for (int x = 0; x < w; ++x) {
            row[4 * x + 0] = static_cast<std::uint8_t>((x * 7 + y) & 0xFF);
            row[4 * x + 1] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            row[4 * x + 2] = static_cast<std::uint8_t>(((x / 40) * 50 + (y / 30) * 20) & 0xFF);
            row[4 * x + 3] = 255;
        }
    }
    return pb;
}

// A canvas-sized layer that is transparent except for the given rectangle (y-up).
TextureRef bandLayer(int W, int H, Rect r, std::uint8_t value, bool ringOnly) {
    auto pb = PixelBuffer::create(W, H, PixelFormat::bgra8);
    for (int j = 0; j < H; ++j) {
        const double y = H - j - 0.5;
        for (int i = 0; i < W; ++i) {
            const double x = i + 0.5;
            const bool inside = x >= r.x && x < r.maxX() && y >= r.y && y < r.maxY();
            const bool ring =
                inside && (x < r.x + 2 || x >= r.maxX() - 2 || y < r.y + 2 || y >= r.maxY() - 2);
            if (ringOnly ? ring : inside) std::memset(pb->row(j) + 4 * i, value, 4);
        }
    }
    auto t = std::make_shared<Texture>(pb);
    // As the compositor does for its cached static layers.
    t->setContentRuns(computeContentRuns(*pb));
    return t;
}

struct PassFixture {
    std::shared_ptr<Device> device = Device::systemDefault();
    CommandQueueRef queue = device->makeCommandQueue();
    RenderPipelineRef pipeline;
    ScenePassParameters params;
    std::array<TextureRef, sceneSlotCount> tex;
    TextureRef target;

    PassFixture(int W, int H) {
        registerScenePassProgram();
        std::string error;
        pipeline = device->makeRenderPipeline(scenePipelineDescriptor(), &error);
        Edits edits = Edits::defaults();
        edits.scene.backgroundKind = Edits::BackgroundKind::gradient;
        edits.scene.frameRadius = 24;
        edits.scene.chromeStyle = Edits::ChromeStyle::browser;
        edits.zooms.push_back({0, 10000, 2, 1, 0.6, 0.4});
        for (int k = 0; k < 3; ++k) {
            Edits::Mask m;
            m.startMs = 0, m.endMs = 10000;
            m.keyframes.push_back({0, 0.1 + 0.25 * k, 0.3, 0.15, 0.1});
            edits.masks.push_back(m);
        }
        const Size screen{2880, 1800};
        ZoomPath zoom(edits.zooms, screen);
        SceneInstruction I({}, 1, std::nullopt, edits, {double(W), double(H)}, screen, {}, zoom, {},
                           {}, {}, {}, true, nullptr, std::nullopt);
        const auto geometry = *sceneGeometry(I, 5000);
        ScenePassLayers layers;
        layers.radius = 24;
        layers.hasScreen = true;
        params = fillSceneUniforms(I, 5000, geometry, layers);

        auto bg = SceneRenderer::buildBackground(edits.scene, {double(W), double(H)}, nullptr);
        tex[slotBehind] = std::make_shared<Texture>(bg->bitmapRef());
        tex[slotScreen] = std::make_shared<Texture>(screenLike(2880, 1800));
        const auto &P = geometry.placement;
        tex[slotChrome] = bandLayer(
            W, H, {P.target.x, P.target.maxY() - P.barH, P.target.width, P.barH}, 230, false);
        tex[slotBorder] = bandLayer(W, H, P.target, 90, true);
        for (int s = slotCursor; s < sceneSlotCount; ++s) tex[s] = tex[slotBorder];
        target =
            device->makeTexture({PixelFormat::bgra8, W, H, usageRenderTarget | usageShaderRead});
    }

    void draw() {
        auto cb = queue->makeCommandBuffer();
        auto enc = cb->makeRenderCommandEncoder({target, true, {0, 0, 0, 1}});
        enc->setRenderPipelineState(pipeline);
        enc->setFragmentBytes(&params.uniforms, sizeof params.uniforms, 0);
        enc->setFragmentBytes(params.masks.data(), params.masks.size() * sizeof(MaskRect), 1);
        for (int s = 0; s < sceneSlotCount; ++s) enc->setFragmentTexture(tex[s], s);
        enc->drawFullCanvasTriangle();
        enc->endEncoding();
        cb->commit();
        cb->waitUntilCompleted();
    }
};

void BM_ScenePass(benchmark::State &state) {
    PassFixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) f.draw();
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1) * 4);
}
BENCHMARK(BM_ScenePass)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CanvasCopy(benchmark::State &state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * state.range(1) * 4;
    std::vector<std::uint8_t> a(bytes, 1), b(bytes, 0);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_CanvasCopy)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace qv
