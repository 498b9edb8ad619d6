// The live preview's picture path on a 1920 × 1080 recording: the composition built for the
// export, its frame source and compositor, and the hand-off of each frame as a QImage (what the
// preview's render thread does per frame, without painting).
//
//   BM_PreviewPlayback: every frame in order, as playback asks for them; items/s is frames/s.
//   BM_PreviewPlaybackReadAhead: the same with the next frame decoded while one is composed.
//   BM_PreviewSeek: single frames at scattered times, as the scrubber asks for them; the time
//   per iteration is one seek.
//
// The recording is the bundled demo, written once by `quillvane demo` into a temporary folder.
#include "Frontpanel/views/frame_renderer.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace qv {
namespace {

namespace fs = std::filesystem;

const fs::path &demoRecording() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "qv-preview-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        const fs::path root = pattern;
        const std::string command = std::string(QUILLVANE_BIN) + " demo -o " + root.string() +
                                    " --recording-only --size 1920x1080 --seconds 10 --fps 30" +
                                    " > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("quillvane demo failed");
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(demoRecording().parent_path(), ec);
        });
        return root / "recording";
    }();
    return folder;
}

std::unique_ptr<ui::FrameRenderer> openRenderer(benchmark::State &state) {
    auto renderer = ui::FrameRenderer::open(demoRecording(), std::nullopt, Size{1920, 1080});
    if (!renderer) {
        state.SkipWithError(renderer.error().message.c_str());
        return nullptr;
    }
    return std::move(*renderer);
}

void BM_PreviewPlayback(benchmark::State &state) {
    auto renderer = openRenderer(state);
    if (!renderer) return;
    std::int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        renderer = openRenderer(state); // from the start, as when play is pressed
        state.ResumeTiming();
        for (std::int64_t i = 0; i < renderer->frameCount(); ++i) {
            auto frame = renderer->render(i);
            if (!frame) {
                state.SkipWithError(frame.error().message.c_str());
                return;
            }
            QImage image = ui::FrameRenderer::toImage(**frame);
            benchmark::DoNotOptimize(image.constBits());
            ++frames;
        }
    }
    state.SetItemsProcessed(frames);
    state.counters["width"] = renderer->width();
    state.counters["height"] = renderer->height();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peakRSS_MB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_PreviewPlayback)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// What the preview's render thread does while playing: frame i + 1 is decoded and handed to the
// compositor before frame i's picture is waited for.
void BM_PreviewPlaybackReadAhead(benchmark::State &state) {
    auto renderer = openRenderer(state);
    if (!renderer) return;
    std::int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        renderer = openRenderer(state);
        state.ResumeTiming();
        auto pending = renderer->start(0);
        for (std::int64_t i = 0; i < renderer->frameCount() && pending; ++i) {
            auto current = std::move(*pending);
            if (i + 1 < renderer->frameCount()) pending = renderer->start(i + 1);
            auto frame = ui::FrameRenderer::finish(current);
            if (!frame) {
                state.SkipWithError(frame.error().message.c_str());
                return;
            }
            QImage image = ui::FrameRenderer::toImage(**frame);
            benchmark::DoNotOptimize(image.constBits());
            ++frames;
        }
    }
    state.SetItemsProcessed(frames);
}
BENCHMARK(BM_PreviewPlaybackReadAhead)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_PreviewSeek(benchmark::State &state) {
    auto renderer = openRenderer(state);
    if (!renderer) return;
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int64_t> pick(0, renderer->frameCount() - 1);
    for (auto _ : state) {
        auto frame = renderer->render(pick(random));
        if (!frame) {
            state.SkipWithError(frame.error().message.c_str());
            return;
        }
        QImage image = ui::FrameRenderer::toImage(**frame);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PreviewSeek)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

} // namespace
} // namespace qv
