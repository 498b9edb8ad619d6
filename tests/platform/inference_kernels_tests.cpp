// Each operator of the segmentation runtime against a naive version written from its definition,
// on small random tensors, for the scalar and (where the CPU has it) the AVX2 kernel set. Sizes
// and channel counts include odd ones so that vector tails and padding edges are exercised.
#include "platform/inference/kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace qv::platform::inference {
namespace {

std::vector<float> randomValues(std::size_t n, unsigned seed, float scale = 1.0f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-scale, scale);
    std::vector<float> v(n);
    for (auto &x : v) x = d(rng);
    return v;
}

std::vector<const Kernels *> kernelSets() {
    std::vector<const Kernels *> sets{&scalarKernels()};
    if (avx2Kernels()) sets.push_back(avx2Kernels());
    return sets;
}

float reference(float x, Activation act) {
    switch (act) {
    case Activation::none:
        return x;
    case Activation::relu:
        return x > 0 ? x : 0;
    case Activation::relu6:
        return x < 0 ? 0 : (x > 6 ? 6 : x);
    case Activation::hardSwish:
        return x * (x + 3 < 0 ? 0 : (x + 3 > 6 ? 6 : x + 3)) / 6;
    case Activation::logistic:
        return static_cast<float>(1.0 / (1.0 + std::exp(-double{x})));
    }
    return x;
}

void expectNear(const std::vector<float> &want, const float *got, const std::string &label) {
    int reported = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const float tolerance = 2e-5f * (1.0f + std::fabs(want[i]));
        if (!(std::fabs(want[i] - got[i]) <= tolerance) && reported++ < 5)
            ADD_FAILURE() << label << ": element " << i << " is " << got[i] << ", expected "
                          << want[i];
    }
}

// Output size and padding of a k x k window along both axes, as the model format defines them:
// "same" gives ceil(in / stride) outputs with the overhang split, the smaller half before;
// "valid" only whole windows.
struct Placement {
    int oh, ow;
    Window2d win;
};
Placement place(int h, int w, int k, int stride, Padding p) {
    auto axis = [&](int in, int &out, int &pad) {
        out = p == Padding::same ? (in + stride - 1) / stride : (in - k) / stride + 1;
        pad = p == Padding::same ? std::max((out - 1) * stride + k - in, 0) / 2 : 0;
    };
    Placement r{0, 0, {k, k, stride, stride, 0, 0}};
    axis(h, r.oh, r.win.padTop);
    axis(w, r.ow, r.win.padLeft);
    return r;
}

struct ConvCase {
    int h, w, c, outC, k, stride;
    Padding padding;
    Activation act;
};

TEST(InferenceKernels, ConvolutionMatchesDefinition) {
    const ConvCase cases[] = {
        {9, 7, 3, 16, 3, 2, Padding::same, Activation::hardSwish}, // the models' first layer
        {8, 8, 16, 16, 1, 1, Padding::same, Activation::relu},     // pointwise
        {5, 6, 13, 10, 1, 1, Padding::valid, Activation::none},    // odd channels
        {6, 5, 4, 24, 3, 1, Padding::valid, Activation::relu6},
        {9, 7, 5, 33, 2, 2, Padding::same, Activation::none},
        {3, 11, 40, 72, 1, 1, Padding::same, Activation::logistic},
        {4, 4, 7, 1, 3, 1, Padding::same, Activation::none}, // one output channel
    };
    unsigned seed = 1;
    for (const auto &t : cases) {
        const auto [oh, ow, win] = place(t.h, t.w, t.k, t.stride, t.padding);
        const int pt = win.padTop, pl = win.padLeft;
        const auto in = randomValues(static_cast<std::size_t>(t.h) * t.w * t.c, seed++);
        const auto w = randomValues(static_cast<std::size_t>(t.outC) * t.k * t.k * t.c, seed++);
        const auto bias = randomValues(static_cast<std::size_t>(t.outC), seed++);
        std::vector<float> want(static_cast<std::size_t>(oh) * ow * t.outC);
        for (int oy = 0; oy < oh; ++oy)
            for (int ox = 0; ox < ow; ++ox)
                for (int o = 0; o < t.outC; ++o) {
                    double sum = bias[o];
                    for (int ky = 0; ky < t.k; ++ky)
                        for (int kx = 0; kx < t.k; ++kx) {
                            const int iy = oy * t.stride - pt + ky, ix = ox * t.stride - pl + kx;
                            if (iy < 0 || iy >= t.h || ix < 0 || ix >= t.w) continue;
                            for (int i = 0; i < t.c; ++i)
                                sum += double{in[(iy * t.w + ix) * t.c + i]} *
                                       w[((o * t.k + ky) * t.k + kx) * t.c + i];
                        }
                    want[(oy * ow + ox) * t.outC + o] = reference(static_cast<float>(sum), t.act);
                }
        const auto packed = packWeights(w.data(), bias.data(), t.outC, t.k * t.k * t.c);
        for (const Kernels *k : kernelSets()) {
            std::vector<float> got(want.size(), -99.0f), scratch;
            conv2d(*k,
                   {in.data(), {t.h, t.w, t.c}, &packed, win, got.data(), {oh, ow, t.outC}, t.act},
                   scratch);
            expectNear(want, got.data(),
                       std::string(k->name) + " conv " + std::to_string(&t - cases));
        }
    }
}

TEST(InferenceKernels, DepthwiseConvolutionMatchesDefinition) {
    const ConvCase cases[] = {
        {9, 9, 16, 16, 3, 2, Padding::same, Activation::relu},
        {7, 6, 96, 96, 5, 1, Padding::same, Activation::hardSwish},
        {6, 7, 20, 20, 3, 1, Padding::valid, Activation::none}, // 2 vectors and a tail
        {5, 5, 3, 3, 3, 2, Padding::same, Activation::relu6},
        {9, 16, 128, 128, 5, 2, Padding::same, Activation::none},
    };
    unsigned seed = 100;
    for (const auto &t : cases) {
        const auto [oh, ow, win] = place(t.h, t.w, t.k, t.stride, t.padding);
        const int pt = win.padTop, pl = win.padLeft;
        const auto in = randomValues(static_cast<std::size_t>(t.h) * t.w * t.c, seed++);
        const auto w = randomValues(static_cast<std::size_t>(t.k) * t.k * t.c, seed++);
        const auto bias = randomValues(static_cast<std::size_t>(t.c), seed++);
        std::vector<float> want(static_cast<std::size_t>(oh) * ow * t.c);
        for (int oy = 0; oy < oh; ++oy)
            for (int ox = 0; ox < ow; ++ox)
                for (int c = 0; c < t.c; ++c) {
                    double sum = bias[c];
                    for (int ky = 0; ky < t.k; ++ky)
                        for (int kx = 0; kx < t.k; ++kx) {
                            const int iy = oy * t.stride - pt + ky, ix = ox * t.stride - pl + kx;
                            if (iy >= 0 && iy < t.h && ix >= 0 && ix < t.w)
                                sum += double{in[(iy * t.w + ix) * t.c + c]} *
                                       w[(ky * t.k + kx) * t.c + c];
                        }
                    want[(oy * ow + ox) * t.c + c] = reference(static_cast<float>(sum), t.act);
                }
        for (const Kernels *k : kernelSets()) {
            std::vector<float> got(want.size(), -99.0f);
            k->depthwise({in.data(),
                          {t.h, t.w, t.c},
                          w.data(),
                          bias.data(),
                          win,
                          got.data(),
                          {oh, ow, t.c},
                          t.act});
            expectNear(want, got.data(),
                       std::string(k->name) + " depthwise " + std::to_string(&t - cases));
        }
    }
}

TEST(InferenceKernels, TransposedConvolutionMatchesDefinition) {
    struct Case {
        int h, w, c, outC, k, stride;
        Padding padding;
    };
    const Case cases[] = {
        {8, 8, 16, 1, 2, 2, Padding::same},  // the models' last layer
        {5, 7, 6, 3, 3, 2, Padding::same},   // overlapping windows, cropped
        {4, 3, 9, 10, 3, 1, Padding::valid}, // grows by k - 1
    };
    unsigned seed = 200;
    for (const auto &t : cases) {
        const int oh = t.padding == Padding::same ? t.h * t.stride : (t.h - 1) * t.stride + t.k;
        const int ow = t.padding == Padding::same ? t.w * t.stride : (t.w - 1) * t.stride + t.k;
        const int pt = std::max((t.h - 1) * t.stride + t.k - oh, 0) / 2;
        const int pl = std::max((t.w - 1) * t.stride + t.k - ow, 0) / 2;
        const Window2d win{t.k, t.k, t.stride, t.stride, pt, pl};
        const auto in = randomValues(static_cast<std::size_t>(t.h) * t.w * t.c, seed++);
        // [o][ky][kx][i], as the model stores it.
        const auto w = randomValues(static_cast<std::size_t>(t.outC) * t.k * t.k * t.c, seed++);
        const auto bias = randomValues(static_cast<std::size_t>(t.outC), seed++);
        std::vector<double> sum(static_cast<std::size_t>(oh) * ow * t.outC);
        for (int oy = 0; oy < oh; ++oy)
            for (int ox = 0; ox < ow; ++ox)
                for (int o = 0; o < t.outC; ++o) sum[(oy * ow + ox) * t.outC + o] = bias[o];
        for (int iy = 0; iy < t.h; ++iy)
            for (int ix = 0; ix < t.w; ++ix)
                for (int ky = 0; ky < t.k; ++ky)
                    for (int kx = 0; kx < t.k; ++kx) {
                        const int oy = iy * t.stride - pt + ky, ox = ix * t.stride - pl + kx;
                        if (oy < 0 || oy >= oh || ox < 0 || ox >= ow) continue;
                        for (int o = 0; o < t.outC; ++o)
                            for (int i = 0; i < t.c; ++i)
                                sum[(oy * ow + ox) * t.outC + o] +=
                                    double{in[(iy * t.w + ix) * t.c + i]} *
                                    w[((o * t.k + ky) * t.k + kx) * t.c + i];
                    }
        const std::vector<float> want(sum.begin(), sum.end());
        // The runtime's weight rows run over (ky, kx, o).
        std::vector<float> rows(w.size());
        for (int ky = 0; ky < t.k; ++ky)
            for (int kx = 0; kx < t.k; ++kx)
                for (int o = 0; o < t.outC; ++o)
                    for (int i = 0; i < t.c; ++i)
                        rows[((ky * t.k + kx) * t.outC + o) * t.c + i] =
                            w[((o * t.k + ky) * t.k + kx) * t.c + i];
        const auto packed = packWeights(rows.data(), nullptr, t.k * t.k * t.outC, t.c);
        for (const Kernels *k : kernelSets()) {
            std::vector<float> got(want.size(), -99.0f), scratch;
            transposeConv(*k,
                          {in.data(),
                           {t.h, t.w, t.c},
                           &packed,
                           bias.data(),
                           win,
                           got.data(),
                           {oh, ow, t.outC}},
                          scratch);
            expectNear(want, got.data(),
                       std::string(k->name) + " transposed " + std::to_string(&t - cases));
        }
    }
}

TEST(InferenceKernels, ElementwiseOperatorsMatchDefinition) {
    const std::size_t pixels = 37, channels = 13, n = pixels * channels; // tails everywhere
    const auto a = randomValues(n, 300, 8.0f);
    const auto b = randomValues(n, 301, 8.0f);
    const auto perChannel = randomValues(channels, 302);
    const Activation acts[] = {Activation::none, Activation::relu, Activation::relu6,
                               Activation::hardSwish, Activation::logistic};
    for (const Kernels *k : kernelSets()) {
        for (Activation act : acts) {
            const std::string label =
                std::string(k->name) + " activation " + std::to_string(static_cast<int>(act));
            std::vector<float> want(n), got(n);
            for (std::size_t i = 0; i < n; ++i) want[i] = reference(a[i], act);
            k->activate(a.data(), got.data(), n, act);
            expectNear(want, got.data(), label);

            for (std::size_t i = 0; i < n; ++i) want[i] = reference(a[i] + b[i], act);
            k->add(a.data(), b.data(), got.data(), n, act);
            expectNear(want, got.data(), label + " add");

            for (std::size_t i = 0; i < n; ++i) want[i] = reference(a[i] * b[i], act);
            k->mul(a.data(), b.data(), false, got.data(), pixels, channels, act);
            expectNear(want, got.data(), label + " mul");

            for (std::size_t i = 0; i < n; ++i)
                want[i] = reference(a[i] * perChannel[i % channels], act);
            k->mul(a.data(), perChannel.data(), true, got.data(), pixels, channels, act);
            expectNear(want, got.data(), label + " mul per channel");
        }
        // In place, as the runtime may run it.
        std::vector<float> x = a, want(n);
        for (std::size_t i = 0; i < n; ++i) want[i] = reference(a[i], Activation::hardSwish);
        k->activate(x.data(), x.data(), n, Activation::hardSwish);
        expectNear(want, x.data(), std::string(k->name) + " in place");
    }
}

TEST(InferenceKernels, PoolingAndMeanMatchDefinition) {
    struct Case {
        int h, w, c, f, stride;
        Padding padding;
    };
    const Case cases[] = {{16, 16, 24, 16, 16, Padding::valid}, // global, as in the models
                          {7, 5, 3, 3, 2, Padding::same},       // partial windows at the edges
                          {6, 6, 2, 2, 2, Padding::valid}};
    unsigned seed = 400;
    for (const auto &t : cases) {
        const auto [oh, ow, win] = place(t.h, t.w, t.f, t.stride, t.padding);
        const int pt = win.padTop, pl = win.padLeft;
        const auto in = randomValues(static_cast<std::size_t>(t.h) * t.w * t.c, seed++);
        std::vector<float> want(static_cast<std::size_t>(oh) * ow * t.c);
        for (int oy = 0; oy < oh; ++oy)
            for (int ox = 0; ox < ow; ++ox)
                for (int c = 0; c < t.c; ++c) {
                    double sum = 0;
                    int count = 0;
                    for (int y = oy * t.stride - pt; y < oy * t.stride - pt + t.f; ++y)
                        for (int x = ox * t.stride - pl; x < ox * t.stride - pl + t.f; ++x)
                            if (y >= 0 && y < t.h && x >= 0 && x < t.w) {
                                sum += in[(y * t.w + x) * t.c + c];
                                ++count;
                            }
                    want[(oy * ow + ox) * t.c + c] = static_cast<float>(sum / count);
                }
        std::vector<float> got(want.size());
        averagePool({in.data(), {t.h, t.w, t.c}, win, got.data(), {oh, ow, t.c}, Activation::none});
        expectNear(want, got.data(), "pool " + std::to_string(&t - cases));
    }
    const auto in = randomValues(9 * 16 * 32, 410);
    std::vector<float> want(32, 0.0f), got(32);
    for (std::size_t i = 0; i < in.size(); ++i) want[i % 32] += in[i] / (9 * 16);
    meanOverPixels(in.data(), {9, 16, 32}, got.data());
    expectNear(want, got.data(), "mean");
}

TEST(InferenceKernels, BilinearResizeMatchesDefinition) {
    struct Case {
        int h, w, c, oh, ow;
        bool alignCorners, halfPixel;
    };
    const Case cases[] = {{9, 16, 24, 18, 32, false, true}, // the models' upsampling
                          {4, 5, 3, 7, 3, false, true},
                          {4, 5, 2, 8, 10, false, false},
                          {3, 4, 2, 5, 7, true, false}};
    unsigned seed = 500;
    for (const auto &t : cases) {
        const auto in = randomValues(static_cast<std::size_t>(t.h) * t.w * t.c, seed++);
        // Source coordinate of an output index, clamped to the input.
        auto source = [&](int o, int inSize, int outSize) {
            double s;
            if (t.alignCorners)
                s = o * double(inSize - 1) / (outSize - 1);
            else if (t.halfPixel)
                s = (o + 0.5) * inSize / outSize - 0.5;
            else
                s = double(o) * inSize / outSize;
            return std::min(std::max(s, 0.0), double(inSize - 1));
        };
        std::vector<float> want(static_cast<std::size_t>(t.oh) * t.ow * t.c);
        for (int y = 0; y < t.oh; ++y)
            for (int x = 0; x < t.ow; ++x) {
                const double sy = source(y, t.h, t.oh), sx = source(x, t.w, t.ow);
                const int y0 = int(sy), x0 = int(sx);
                const int y1 = std::min(y0 + 1, t.h - 1), x1 = std::min(x0 + 1, t.w - 1);
                const double fy = sy - y0, fx = sx - x0;
                for (int c = 0; c < t.c; ++c) {
                    auto at = [&](int yy, int xx) { return double{in[(yy * t.w + xx) * t.c + c]}; };
                    want[(y * t.ow + x) * t.c + c] =
                        static_cast<float>((1 - fy) * ((1 - fx) * at(y0, x0) + fx * at(y0, x1)) +
                                           fy * ((1 - fx) * at(y1, x0) + fx * at(y1, x1)));
                }
            }
        std::vector<float> got(want.size());
        resizeBilinear(in.data(), {t.h, t.w, t.c}, got.data(), {t.oh, t.ow, t.c}, t.alignCorners,
                       t.halfPixel);
        expectNear(want, got.data(), "resize " + std::to_string(&t - cases));
    }
}

TEST(InferenceKernels, HalfPrecisionConversion) {
    struct Case {
        std::uint16_t bits;
        float value;
    };
    const Case cases[] = {{0x0000, 0.0f},
                          {0x3c00, 1.0f},
                          {0xc000, -2.0f},
                          {0x3555, 0.333251953125f},
                          {0x7bff, 65504.0f},
                          {0x0001, 5.9604644775390625e-8f},
                          {0x03ff, 6.097555160522461e-5f},
                          {0x8400, -6.103515625e-5f}};
    for (const auto &t : cases) EXPECT_EQ(halfToFloat(t.bits), t.value) << std::hex << t.bits;
    EXPECT_TRUE(std::isinf(halfToFloat(0x7c00)));
    EXPECT_TRUE(std::isnan(halfToFloat(0x7e00)));
}

} // namespace
} // namespace qv::platform::inference
