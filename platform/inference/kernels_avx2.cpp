// The AVX2 + FMA kernel set. This file is compiled with -mavx2 -mfma and must only be entered
// through avx2Kernels(), which checks the processor first.
#include "platform/inference/kernels.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace qv::platform::inference {

const Kernels &avx2KernelTable() noexcept;

namespace {

// Lanes below `valid` (0..8) set.
__m256i laneMask(int valid) noexcept {
    const __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(valid), index);
}

// e^x for x in the range a logistic needs (clamped to +-88): 2^(x log2 e) split into an integer
// power, built in the exponent bits, and a degree-5 polynomial for the fraction.
__m256 expApprox(__m256 x) noexcept {
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-88.0f)), _mm256_set1_ps(88.0f));
    const __m256 t = _mm256_mul_ps(x, _mm256_set1_ps(1.44269504f));
    const __m256 whole = _mm256_floor_ps(t);
    const __m256 f = _mm256_sub_ps(t, whole);
    __m256 p = _mm256_set1_ps(1.8775767e-3f);
    p = _mm256_fmadd_ps(p, f, _mm256_set1_ps(8.9893397e-3f));
    p = _mm256_fmadd_ps(p, f, _mm256_set1_ps(5.5826318e-2f));
    p = _mm256_fmadd_ps(p, f, _mm256_set1_ps(2.4015361e-1f));
    p = _mm256_fmadd_ps(p, f, _mm256_set1_ps(6.9315308e-1f));
    p = _mm256_fmadd_ps(p, f, _mm256_set1_ps(9.9999994e-1f));
    const __m256i bits =
        _mm256_slli_epi32(_mm256_add_epi32(_mm256_cvtps_epi32(whole), _mm256_set1_epi32(127)), 23);
    return _mm256_mul_ps(p, _mm256_castsi256_ps(bits));
}

__m256 activate(__m256 x, Activation act) noexcept {
    switch (act) {
    case Activation::none:
        return x;
    case Activation::relu:
        return _mm256_max_ps(x, _mm256_setzero_ps());
    case Activation::relu6:
        return _mm256_min_ps(_mm256_max_ps(x, _mm256_setzero_ps()), _mm256_set1_ps(6.0f));
    case Activation::hardSwish: {
        const __m256 r = _mm256_min_ps(
            _mm256_max_ps(_mm256_add_ps(x, _mm256_set1_ps(3.0f)), _mm256_setzero_ps()),
            _mm256_set1_ps(6.0f));
        return _mm256_mul_ps(x, _mm256_div_ps(r, _mm256_set1_ps(6.0f)));
    }
    case Activation::logistic: {
        const __m256 e = expApprox(_mm256_sub_ps(_mm256_setzero_ps(), x));
        return _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_add_ps(_mm256_set1_ps(1.0f), e));
    }
    }
    return x;
}

// One tile of the product: MR rows by NV vectors of 8 columns. The weight vectors of a k step
// stay in registers while each row's value is broadcast against them: MR * NV accumulators plus
// NV weights fit the 16 vector registers for the (MR, NV) pairs used below.
template <int MR, int NV>
inline void gemmTile(const float *a, std::size_t lda, const float *w, int nPadded, int k,
                     const float *bias, float *out, std::size_t ldo, int valid, Activation act) {
    __m256 acc[MR][NV];
    for (int v = 0; v < NV; ++v) {
        const __m256 b = _mm256_loadu_ps(bias + 8 * v);
        for (int r = 0; r < MR; ++r) acc[r][v] = b;
    }
    for (int kk = 0; kk < k; ++kk) {
        __m256 wv[NV];
        for (int v = 0; v < NV; ++v)
            wv[v] = _mm256_loadu_ps(w + static_cast<std::size_t>(kk) * nPadded + 8 * v);
        for (int r = 0; r < MR; ++r) {
            const __m256 x = _mm256_broadcast_ss(a + lda * r + kk);
            for (int v = 0; v < NV; ++v) acc[r][v] = _mm256_fmadd_ps(x, wv[v], acc[r][v]);
        }
    }
    for (int r = 0; r < MR; ++r) {
        float *o = out + ldo * r;
        for (int v = 0; v < NV; ++v) {
            const __m256 y = activate(acc[r][v], act);
            if (8 * (v + 1) <= valid)
                _mm256_storeu_ps(o + 8 * v, y);
            else
                _mm256_maskstore_ps(o + 8 * v, laneMask(valid - 8 * v), y);
        }
    }
}

template <int MR, int NV> void gemmColumns(const GemmArgs &g, int n0, int valid) {
    const PackedWeights &p = *g.w;
    const float *w = p.w.data() + n0;
    const float *bias = p.bias.data() + n0;
    int m = 0;
    for (; m + MR <= g.m; m += MR)
        gemmTile<MR, NV>(g.a + g.lda * m, g.lda, w, p.nPadded, p.k, bias, g.out + g.ldo * m + n0,
                         g.ldo, valid, g.act);
    for (; m < g.m; ++m)
        gemmTile<1, NV>(g.a + g.lda * m, g.lda, w, p.nPadded, p.k, bias, g.out + g.ldo * m + n0,
                        g.ldo, valid, g.act);
}

void gemmAvx2(const GemmArgs &g) {
    const int n = g.w->n;
    int n0 = 0;
    for (; n - n0 > 16; n0 += 24) gemmColumns<4, 3>(g, n0, std::min(n - n0, 24));
    if (n - n0 > 8)
        gemmColumns<6, 2>(g, n0, n - n0);
    else if (n - n0 > 0)
        gemmColumns<8, 1>(g, n0, n - n0);
}

void depthwiseAvx2(const DepthwiseArgs &d) {
    const int c = d.inShape.c;
    const int vectors = c / 8;
    for (int oy = 0; oy < d.outShape.h; ++oy) {
        const int ky0 = std::max(d.win.padTop - oy * d.win.strideH, 0);
        const int ky1 = std::min(d.win.kh, d.inShape.h + d.win.padTop - oy * d.win.strideH);
        for (int ox = 0; ox < d.outShape.w; ++ox) {
            const int kx0 = std::max(d.win.padLeft - ox * d.win.strideW, 0);
            const int kx1 = std::min(d.win.kw, d.inShape.w + d.win.padLeft - ox * d.win.strideW);
            float *out = d.out + (static_cast<std::size_t>(oy) * d.outShape.w + ox) * c;
            // The window's first row and column may lie outside the input (padding); only
            // the in-bounds taps [ky0, ky1) x [kx0, kx1) are read.
            const std::ptrdiff_t origin =
                (static_cast<std::ptrdiff_t>(oy * d.win.strideH - d.win.padTop) * d.inShape.w +
                 (ox * d.win.strideW - d.win.padLeft)) *
                c;
            // Four channel vectors at a time keep four independent chains of multiply-adds.
            int v = 0;
            for (; v + 4 <= vectors; v += 4) {
                __m256 acc[4];
                for (int j = 0; j < 4; ++j) acc[j] = _mm256_loadu_ps(d.bias + 8 * (v + j));
                for (int ky = ky0; ky < ky1; ++ky)
                    for (int kx = kx0; kx < kx1; ++kx) {
                        const float *in =
                            d.in +
                            (origin + (static_cast<std::ptrdiff_t>(ky) * d.inShape.w + kx) * c);
                        const float *wt = d.weights + (ky * d.win.kw + kx) * c;
                        for (int j = 0; j < 4; ++j)
                            acc[j] = _mm256_fmadd_ps(_mm256_loadu_ps(in + 8 * (v + j)),
                                                     _mm256_loadu_ps(wt + 8 * (v + j)), acc[j]);
                    }
                for (int j = 0; j < 4; ++j)
                    _mm256_storeu_ps(out + 8 * (v + j), activate(acc[j], d.act));
            }
            for (; v < vectors; ++v) {
                __m256 acc = _mm256_loadu_ps(d.bias + 8 * v);
                for (int ky = ky0; ky < ky1; ++ky)
                    for (int kx = kx0; kx < kx1; ++kx) {
                        const float *in =
                            d.in +
                            (origin + (static_cast<std::ptrdiff_t>(ky) * d.inShape.w + kx) * c);
                        acc = _mm256_fmadd_ps(
                            _mm256_loadu_ps(in + 8 * v),
                            _mm256_loadu_ps(d.weights + (ky * d.win.kw + kx) * c + 8 * v), acc);
                    }
                _mm256_storeu_ps(out + 8 * v, activate(acc, d.act));
            }
            for (int ch = 8 * vectors; ch < c; ++ch) {
                float sum = d.bias[ch];
                for (int ky = ky0; ky < ky1; ++ky)
                    for (int kx = kx0; kx < kx1; ++kx)
                        sum += d.in[origin +
                                    (static_cast<std::ptrdiff_t>(ky) * d.inShape.w + kx) * c + ch] *
                               d.weights[(ky * d.win.kw + kx) * c + ch];
                float one[8] = {sum};
                _mm256_maskstore_ps(out + ch, laneMask(1), activate(_mm256_loadu_ps(one), d.act));
            }
        }
    }
}

// Applies f(a, b) to whole vectors and the masked tail.
template <class F>
inline void elementwise(const float *a, const float *b, float *out, std::size_t count, F f) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm256_storeu_ps(out + i, f(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
    if (i < count) {
        const __m256i mask = laneMask(static_cast<int>(count - i));
        _mm256_maskstore_ps(out + i, mask,
                            f(_mm256_maskload_ps(a + i, mask), _mm256_maskload_ps(b + i, mask)));
    }
}

void activateAvx2(const float *in, float *out, std::size_t count, Activation act) {
    elementwise(in, in, out, count, [act](__m256 x, __m256) { return activate(x, act); });
}

void addAvx2(const float *a, const float *b, float *out, std::size_t count, Activation act) {
    elementwise(a, b, out, count,
                [act](__m256 x, __m256 y) { return activate(_mm256_add_ps(x, y), act); });
}

void mulAvx2(const float *a, const float *b, bool bPerChannel, float *out, std::size_t pixels,
             int channels, Activation act) {
    const auto mul = [act](__m256 x, __m256 y) { return activate(_mm256_mul_ps(x, y), act); };
    const auto c = static_cast<std::size_t>(channels);
    if (!bPerChannel) {
        elementwise(a, b, out, pixels * c, mul);
        return;
    }
    for (std::size_t p = 0; p < pixels; ++p) elementwise(a + p * c, b, out + p * c, c, mul);
}

constexpr Kernels kAvx2{"avx2", gemmAvx2, depthwiseAvx2, activateAvx2, addAvx2, mulAvx2};

} // namespace

const Kernels &avx2KernelTable() noexcept {
    return kAvx2;
}

} // namespace qv::platform::inference
