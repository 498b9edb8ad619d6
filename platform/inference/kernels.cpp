#include "platform/inference/kernels.h"

#include "platform/core/cpu_features.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qv::platform::inference {

// The AVX2 set, compiled with its own flags (see platform/CMakeLists.txt).
const Kernels &avx2KernelTable() noexcept;

namespace {

float activateOne(float x, Activation act) noexcept {
    switch (act) {
    case Activation::none:
        return x;
    case Activation::relu:
        return std::max(x, 0.0f);
    case Activation::relu6:
        return std::min(std::max(x, 0.0f), 6.0f);
    case Activation::hardSwish:
        return x * (std::min(std::max(x + 3.0f, 0.0f), 6.0f) / 6.0f);
    case Activation::logistic:
        return 1.0f / (1.0f + std::exp(-x));
    }
    return x;
}

void gemmScalar(const GemmArgs &g) {
    const PackedWeights &w = *g.w;
    for (int m = 0; m < g.m; ++m) {
        const float *a = g.a + g.lda * static_cast<std::size_t>(m);
        float *out = g.out + g.ldo * static_cast<std::size_t>(m);
        for (int n = 0; n < w.n; ++n) {
            float sum = w.bias[static_cast<std::size_t>(n)];
            for (int k = 0; k < w.k; ++k)
                sum += a[k] * w.w[static_cast<std::size_t>(k) * w.nPadded + n];
            out[n] = activateOne(sum, g.act);
        }
    }
}

void depthwiseScalar(const DepthwiseArgs &d) {
    const int c = d.inShape.c;
    for (int oy = 0; oy < d.outShape.h; ++oy) {
        for (int ox = 0; ox < d.outShape.w; ++ox) {
            float *out = d.out + (static_cast<std::size_t>(oy) * d.outShape.w + ox) * c;
            for (int ch = 0; ch < c; ++ch) out[ch] = d.bias[ch];
            for (int ky = 0; ky < d.win.kh; ++ky) {
                const int iy = oy * d.win.strideH - d.win.padTop + ky;
                if (iy < 0 || iy >= d.inShape.h) continue;
                for (int kx = 0; kx < d.win.kw; ++kx) {
                    const int ix = ox * d.win.strideW - d.win.padLeft + kx;
                    if (ix < 0 || ix >= d.inShape.w) continue;
                    const float *in = d.in + (static_cast<std::size_t>(iy) * d.inShape.w + ix) * c;
                    const float *wt =
                        d.weights + (static_cast<std::size_t>(ky) * d.win.kw + kx) * c;
                    for (int ch = 0; ch < c; ++ch) out[ch] += in[ch] * wt[ch];
                }
            }
            for (int ch = 0; ch < c; ++ch) out[ch] = activateOne(out[ch], d.act);
        }
    }
}

void activateScalar(const float *in, float *out, std::size_t count, Activation act) {
    for (std::size_t i = 0; i < count; ++i) out[i] = activateOne(in[i], act);
}

void addScalar(const float *a, const float *b, float *out, std::size_t count, Activation act) {
    for (std::size_t i = 0; i < count; ++i) out[i] = activateOne(a[i] + b[i], act);
}

void mulScalar(const float *a, const float *b, bool bPerChannel, float *out, std::size_t pixels,
               int channels, Activation act) {
    const auto c = static_cast<std::size_t>(channels);
    for (std::size_t p = 0; p < pixels; ++p)
        for (std::size_t ch = 0; ch < c; ++ch)
            out[p * c + ch] = activateOne(a[p * c + ch] * b[bPerChannel ? ch : p * c + ch], act);
}

constexpr Kernels kScalar{"scalar",       gemmScalar, depthwiseScalar,
                          activateScalar, addScalar,  mulScalar};

} // namespace

const Kernels &scalarKernels() noexcept {
    return kScalar;
}

const Kernels *avx2Kernels() noexcept {
    return cpuHasAvx2Fma() ? &avx2KernelTable() : nullptr;
}

const Kernels &kernels() noexcept {
    static const Kernels &best = avx2Kernels() ? *avx2Kernels() : scalarKernels();
    return best;
}

PackedWeights packWeights(const float *weights, const float *bias, int n, int k) {
    PackedWeights p;
    p.k = k;
    p.n = n;
    p.nPadded = (n + 7) / 8 * 8;
    p.w.assign(static_cast<std::size_t>(k) * p.nPadded, 0.0f);
    p.bias.assign(static_cast<std::size_t>(p.nPadded), 0.0f);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < k; ++i)
            p.w[static_cast<std::size_t>(i) * p.nPadded + j] =
                weights[static_cast<std::size_t>(j) * k + i];
        if (bias) p.bias[static_cast<std::size_t>(j)] = bias[j];
    }
    return p;
}

Window windowFor(Padding padding, int in, int filter, int stride) noexcept {
    if (padding == Padding::valid) return {(in - filter) / stride + 1, 0};
    const int out = (in + stride - 1) / stride;
    const int total = std::max((out - 1) * stride + filter - in, 0);
    return {out, total / 2};
}

void conv2d(const Kernels &k, const ConvArgs &c, std::vector<float> &scratch) {
    const Shape &in = c.inShape;
    const Shape &out = c.outShape;
    const std::size_t ldo = static_cast<std::size_t>(out.c);
    if (c.win.kh == 1 && c.win.kw == 1 && c.win.strideH == 1 && c.win.strideW == 1 &&
        c.win.padTop == 0 && c.win.padLeft == 0 && in.h == out.h && in.w == out.w) {
        k.gemm({c.in, out.h * out.w, static_cast<std::size_t>(in.c), c.w, c.out, ldo, c.act});
        return;
    }
    const std::size_t patch = static_cast<std::size_t>(c.win.kh) * c.win.kw * in.c;
    scratch.resize(patch * out.w);
    const std::size_t rowBytes = sizeof(float) * static_cast<std::size_t>(in.c);
    for (int oy = 0; oy < out.h; ++oy) {
        for (int ox = 0; ox < out.w; ++ox) {
            float *dst = scratch.data() + patch * ox;
            for (int ky = 0; ky < c.win.kh; ++ky) {
                const int iy = oy * c.win.strideH - c.win.padTop + ky;
                for (int kx = 0; kx < c.win.kw; ++kx, dst += in.c) {
                    const int ix = ox * c.win.strideW - c.win.padLeft + kx;
                    if (iy < 0 || iy >= in.h || ix < 0 || ix >= in.w)
                        std::memset(dst, 0, rowBytes);
                    else
                        std::memcpy(dst, c.in + (static_cast<std::size_t>(iy) * in.w + ix) * in.c,
                                    rowBytes);
                }
            }
        }
        k.gemm({scratch.data(), out.w, patch, c.w,
                c.out + static_cast<std::size_t>(oy) * out.w * out.c, ldo, c.act});
    }
}

void transposeConv(const Kernels &k, const TransposeConvArgs &t, std::vector<float> &scratch) {
    const Shape &in = t.inShape;
    const Shape &out = t.outShape;
    const auto oc = static_cast<std::size_t>(out.c);
    for (std::size_t p = 0; p < out.size() / oc; ++p)
        std::memcpy(t.out + p * oc, t.bias, oc * sizeof(float));
    const auto n = static_cast<std::size_t>(t.w->n);
    scratch.resize(n * in.w);
    for (int iy = 0; iy < in.h; ++iy) {
        k.gemm({t.in + static_cast<std::size_t>(iy) * in.w * in.c, in.w,
                static_cast<std::size_t>(in.c), t.w, scratch.data(), n, Activation::none});
        for (int ky = 0; ky < t.win.kh; ++ky) {
            const int oy = iy * t.win.strideH - t.win.padTop + ky;
            if (oy < 0 || oy >= out.h) continue;
            for (int ix = 0; ix < in.w; ++ix) {
                for (int kx = 0; kx < t.win.kw; ++kx) {
                    const int ox = ix * t.win.strideW - t.win.padLeft + kx;
                    if (ox < 0 || ox >= out.w) continue;
                    const float *src = scratch.data() + n * ix +
                                       (static_cast<std::size_t>(ky) * t.win.kw + kx) * oc;
                    float *dst = t.out + (static_cast<std::size_t>(oy) * out.w + ox) * oc;
                    for (std::size_t o = 0; o < oc; ++o) dst[o] += src[o];
                }
            }
        }
    }
}

void averagePool(const PoolArgs &p) {
    const int c = p.inShape.c;
    for (int oy = 0; oy < p.outShape.h; ++oy) {
        const int y0 = std::max(oy * p.win.strideH - p.win.padTop, 0);
        const int y1 = std::min(oy * p.win.strideH - p.win.padTop + p.win.kh, p.inShape.h);
        for (int ox = 0; ox < p.outShape.w; ++ox) {
            const int x0 = std::max(ox * p.win.strideW - p.win.padLeft, 0);
            const int x1 = std::min(ox * p.win.strideW - p.win.padLeft + p.win.kw, p.inShape.w);
            float *out = p.out + (static_cast<std::size_t>(oy) * p.outShape.w + ox) * c;
            std::fill(out, out + c, 0.0f);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    const float *in = p.in + (static_cast<std::size_t>(y) * p.inShape.w + x) * c;
                    for (int ch = 0; ch < c; ++ch) out[ch] += in[ch];
                }
            const int count = std::max((y1 - y0) * (x1 - x0), 1);
            for (int ch = 0; ch < c; ++ch)
                out[ch] = activateOne(out[ch] / static_cast<float>(count), p.act);
        }
    }
}

void meanOverPixels(const float *in, Shape inShape, float *out) {
    const auto c = static_cast<std::size_t>(inShape.c);
    const std::size_t pixels = inShape.size() / c;
    std::fill(out, out + c, 0.0f);
    for (std::size_t p = 0; p < pixels; ++p)
        for (std::size_t ch = 0; ch < c; ++ch) out[ch] += in[p * c + ch];
    for (std::size_t ch = 0; ch < c; ++ch) out[ch] /= static_cast<float>(pixels);
}

namespace {

// Source position of output index `o`: the lower neighbour, the upper one and the weight of the
// upper one.
struct Tap {
    int lo;
    int hi;
    float t;
};

Tap sourceTap(int o, int inSize, int outSize, bool alignCorners, bool halfPixelCenters) {
    float src;
    if (alignCorners && outSize > 1) {
        src = static_cast<float>(o) * static_cast<float>(inSize - 1) /
              static_cast<float>(outSize - 1);
    } else {
        const float scale = static_cast<float>(inSize) / static_cast<float>(outSize);
        src = halfPixelCenters ? (static_cast<float>(o) + 0.5f) * scale - 0.5f
                               : static_cast<float>(o) * scale;
    }
    src = std::max(src, 0.0f);
    const int lo = std::min(static_cast<int>(src), inSize - 1);
    return {lo, std::min(lo + 1, inSize - 1), src - static_cast<float>(lo)};
}

} // namespace

void resizeBilinear(const float *in, Shape inShape, float *out, Shape outShape, bool alignCorners,
                    bool halfPixelCenters) {
    const auto c = static_cast<std::size_t>(inShape.c);
    std::vector<Tap> xs(static_cast<std::size_t>(outShape.w));
    for (int x = 0; x < outShape.w; ++x)
        xs[static_cast<std::size_t>(x)] =
            sourceTap(x, inShape.w, outShape.w, alignCorners, halfPixelCenters);
    for (int y = 0; y < outShape.h; ++y) {
        const Tap ty = sourceTap(y, inShape.h, outShape.h, alignCorners, halfPixelCenters);
        const float *r0 = in + static_cast<std::size_t>(ty.lo) * inShape.w * c;
        const float *r1 = in + static_cast<std::size_t>(ty.hi) * inShape.w * c;
        float *dst = out + static_cast<std::size_t>(y) * outShape.w * c;
        for (const Tap &tx : xs) {
            const float *a = r0 + tx.lo * c, *b = r0 + tx.hi * c;
            const float *d = r1 + tx.lo * c, *e = r1 + tx.hi * c;
            for (std::size_t ch = 0; ch < c; ++ch) {
                const float top = a[ch] + (b[ch] - a[ch]) * tx.t;
                const float bottom = d[ch] + (e[ch] - d[ch]) * tx.t;
                dst[ch] = top + (bottom - top) * ty.t;
            }
            dst += c;
        }
    }
}

float halfToFloat(std::uint16_t h) noexcept {
    const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
    std::uint32_t exponent = (h >> 10) & 0x1fu;
    std::uint32_t mantissa = h & 0x3ffu;
    std::uint32_t bits;
    if (exponent == 0x1f) {
        bits = sign | 0x7f800000u | (mantissa << 13); // infinity or NaN
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        bits = sign;
    } else {
        // Subnormal: shift the mantissa up until its leading one is the implicit bit.
        exponent = 113;
        while ((mantissa & 0x400u) == 0) {
            mantissa <<= 1;
            --exponent;
        }
        bits = sign | (exponent << 23) | ((mantissa & 0x3ffu) << 13);
    }
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace qv::platform::inference
