// Person segmentation of one 1280 x 720 camera frame on one thread. "landscape" is what such a
// frame gets (wider than 4:3); "square" forces the square model on the same frame, the cost a
// 4:3 or portrait camera pays. The frame's pixels do not change the work done.
#include "platform/inference/person_segmenter.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

using qv::platform::PersonSegmenter;

void BM_Segmentation(benchmark::State &state, PersonSegmenter::ModelChoice choice) {
    auto segmenter = PersonSegmenter::open();
    if (!segmenter) {
        state.SkipWithError(segmenter.error().message.c_str());
        return;
    }
    auto frame = qv::platform::PixelBuffer::create(1280, 720, qv::platform::PixelFormat::bgra8);
    for (int y = 0; y < frame->height(); ++y)
        for (int x = 0; x < frame->width(); ++x) {
            std::uint8_t *p = frame->row(y) + 4 * x;
            p[0] = static_cast<std::uint8_t>(x * 7 + y);
            p[1] = static_cast<std::uint8_t>(x ^ y);
            p[2] = static_cast<std::uint8_t>(y * 3);
            p[3] = 255;
        }
    for (auto _ : state) {
        auto mask = (*segmenter)->segment(*frame, choice);
        if (!mask) {
            state.SkipWithError(mask.error().message.c_str());
            return;
        }
        benchmark::DoNotOptimize(mask->get());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_Segmentation, square, PersonSegmenter::ModelChoice::square)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Segmentation, landscape, PersonSegmenter::ModelChoice::landscape)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
