#include "Compositor/engine/sprite_reduction.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv {

namespace {

struct Tap {
    int index;
    float weight;
};

// For each of n destination cells over `size` source cells, the source cells it covers and
// their weights (summing to 1).
std::vector<std::vector<Tap>> boxTaps(int size, int n) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(n));
    const double step = static_cast<double>(size) / n;
    for (int i = 0; i < n; ++i) {
        const double lo = i * step, hi = (i + 1) * step;
        const int first = static_cast<int>(std::floor(lo));
        const int last = std::min(size - 1, static_cast<int>(std::ceil(hi)) - 1);
        for (int j = first; j <= last; ++j) {
            const double inside = std::min(hi, j + 1.0) - std::max(lo, double(j));
            if (inside > 0)
                taps[static_cast<std::size_t>(i)].push_back({j, static_cast<float>(inside / step)});
        }
    }
    return taps;
}

} // namespace

int reducedSize(int size, int level) noexcept {
    return static_cast<int>((static_cast<long long>(size) + (1LL << level) - 1) >> level);
}

int reductionLevel(int w, int h, double drawnW, double drawnH) noexcept {
    if (!(drawnW > 0 && drawnH > 0 && std::isfinite(drawnW) && std::isfinite(drawnH))) return 0;
    int level = 0;
    while (level < 16 && reducedSize(w, level + 1) >= drawnW &&
           reducedSize(h, level + 1) >= drawnH && reducedSize(w, level + 1) < reducedSize(w, level))
        ++level;
    return level;
}

void areaReduce(const platform::PixelBuffer &src, platform::PixelBuffer &dst) {
    const int sw = src.width(), sh = src.height(), dw = dst.width(), dh = dst.height();
    if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;
    const auto cols = boxTaps(sw, dw), rows = boxTaps(sh, dh);
    // Horizontal pass into floats, then the vertical one into bytes.
    std::vector<float> wide(static_cast<std::size_t>(sh) * dw * 4, 0.0f);
    for (int y = 0; y < sh; ++y) {
        const std::uint8_t *in = src.row(y);
        float *out = wide.data() + static_cast<std::size_t>(y) * dw * 4;
        for (int x = 0; x < dw; ++x)
            for (const Tap &t : cols[static_cast<std::size_t>(x)])
                for (int c = 0; c < 4; ++c) out[4 * x + c] += t.weight * in[4 * t.index + c];
    }
    std::vector<float> acc(static_cast<std::size_t>(dw) * 4);
    for (int y = 0; y < dh; ++y) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (const Tap &t : rows[static_cast<std::size_t>(y)]) {
            const float *in = wide.data() + static_cast<std::size_t>(t.index) * dw * 4;
            for (int i = 0; i < dw * 4; ++i) acc[static_cast<std::size_t>(i)] += t.weight * in[i];
        }
        std::uint8_t *out = dst.row(y);
        for (int i = 0; i < dw * 4; ++i)
            out[i] = static_cast<std::uint8_t>(
                std::clamp(std::lround(acc[static_cast<std::size_t>(i)]), 0L, 255L));
    }
}

platform::PixelBufferRef reducedSprite(const platform::PixelBufferRef &bitmap, int level) {
    if (!bitmap || level <= 0) return bitmap;
    auto reduced = platform::PixelBuffer::create(reducedSize(bitmap->width(), level),
                                                 reducedSize(bitmap->height(), level),
                                                 platform::PixelFormat::bgra8);
    if (reduced) areaReduce(*bitmap, *reduced);
    return reduced;
}

} // namespace qv
