#include "platform/media/yuv_convert.h"

#include "platform/core/cpu_features.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace qv::platform::media {

namespace {

// Both directions work in fixed point. Forward: 14-bit coefficients, the chroma of a 2 × 2
// block from the sum of its four pixels (two more bits). Inverse: 16-bit lanes holding values
// × 64, coefficients applied with a rounding high multiply (value × c / 2^15, c = k × 2^14), so
// that one AVX2 instruction does each product. The scalar code below mirrors each step exactly.

struct Weights {
    double kr, kb;
};

Weights weights(YuvMatrix m) {
    switch (m) {
    case YuvMatrix::bt601:
        return {0.299, 0.114};
    case YuvMatrix::bt2020:
        return {0.2627, 0.0593};
    case YuvMatrix::bt709:
        break;
    }
    return {0.2126, 0.0722};
}

struct Forward {
    int yB, yG, yR;
    int uB, uG, uR;
    int vB, vG, vR;
    int yBias;  // (offset << 14) + rounding
    int uvBias; // (128 << 16) + rounding
};

Forward forward(YuvColorimetry c) {
    const auto [kr, kb] = weights(c.matrix);
    const double kg = 1 - kr - kb;
    const double ys = c.fullRange ? 1.0 : 219.0 / 255.0;
    const double cs = c.fullRange ? 1.0 : 224.0 / 255.0;
    auto q = [](double v) { return static_cast<int>(std::lround(v * 16384)); };
    Forward f{};
    f.yR = q(kr * ys);
    f.yG = q(kg * ys);
    f.yB = q(kb * ys);
    f.uB = q(cs / 2);
    f.uR = q(-cs * kr / (2 * (1 - kb)));
    f.uG = q(-cs * kg / (2 * (1 - kb)));
    f.vR = q(cs / 2);
    f.vG = q(-cs * kg / (2 * (1 - kr)));
    f.vB = q(-cs * kb / (2 * (1 - kr)));
    f.yBias = ((c.fullRange ? 0 : 16) << 14) + (1 << 13);
    f.uvBias = (128 << 16) + (1 << 15);
    return f;
}

struct Inverse {
    int yOffset;     // subtracted from luma before scaling
    std::int16_t cY; // luma scale × 2^14
    std::int16_t cRV, cGU, cGV;
    std::int16_t cBU; // blue's U factor minus 2 (the 2 is added exactly)
};

Inverse inverse(YuvColorimetry c) {
    const auto [kr, kb] = weights(c.matrix);
    const double kg = 1 - kr - kb;
    const double ys = c.fullRange ? 1.0 : 255.0 / 219.0;
    const double cs = c.fullRange ? 1.0 : 255.0 / 224.0;
    auto q = [](double v) { return static_cast<std::int16_t>(std::lround(v * 16384)); };
    Inverse i{};
    i.yOffset = c.fullRange ? 0 : 16;
    i.cY = q(ys);
    i.cRV = q(2 * (1 - kr) * cs);
    i.cGU = q(-2 * (1 - kb) * kb / kg * cs);
    i.cGV = q(-2 * (1 - kr) * kr / kg * cs);
    i.cBU = q(2 * (1 - kb) * cs - 2);
    return i;
}

inline std::uint8_t clampByte(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

inline std::int16_t sat16(int v) {
    return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}

// _mm256_mulhrs_epi16 for one lane.
inline std::int16_t mulhrs(std::int16_t a, std::int16_t b) {
    return static_cast<std::int16_t>((static_cast<int>(a) * b + 0x4000) >> 15);
}

// ---- scalar building blocks (also used for the tails of the vector loops) ----

void lumaRowScalar(const std::uint8_t *src, std::uint8_t *y, int from, int to, const Forward &f) {
    for (int x = from; x < to; ++x) {
        const std::uint8_t *p = src + 4 * x;
        y[x] = clampByte((f.yB * p[0] + f.yG * p[1] + f.yR * p[2] + f.yBias) >> 14);
    }
}

void chromaRowScalar(const std::uint8_t *row0, const std::uint8_t *row1, int width,
                     const Yuv420Planes &d, int cy, int from, int to, const Forward &f) {
    for (int cx = from; cx < to; ++cx) {
        const int x0 = 2 * cx, x1 = std::min(2 * cx + 1, width - 1);
        const std::uint8_t *a = row0 + 4 * x0, *b = row0 + 4 * x1;
        const std::uint8_t *c = row1 + 4 * x0, *e = row1 + 4 * x1;
        const int sb = a[0] + b[0] + c[0] + e[0];
        const int sg = a[1] + b[1] + c[1] + e[1];
        const int sr = a[2] + b[2] + c[2] + e[2];
        const std::uint8_t u = clampByte((f.uB * sb + f.uG * sg + f.uR * sr + f.uvBias) >> 16);
        const std::uint8_t v = clampByte((f.vB * sb + f.vG * sg + f.vR * sr + f.uvBias) >> 16);
        if (d.interleavedUV) {
            d.u[cy * d.uStride + 2 * cx] = u;
            d.u[cy * d.uStride + 2 * cx + 1] = v;
        } else {
            d.u[cy * d.uStride + cx] = u;
            d.v[cy * d.vStride + cx] = v;
        }
    }
}

void bgraRowScalar(const std::uint8_t *y, const std::uint8_t *u, const std::uint8_t *v, int uvStep,
                   std::uint8_t *out, int from, int to, const Inverse &k) {
    for (int x = from; x < to; ++x) {
        const auto yv = static_cast<std::int16_t>((y[x] - k.yOffset) * 128);
        const auto uv = static_cast<std::int16_t>((u[(x >> 1) * uvStep] - 128) * 128);
        const auto vv = static_cast<std::int16_t>((v[(x >> 1) * uvStep] - 128) * 128);
        const std::int16_t luma = mulhrs(yv, k.cY);
        const std::int16_t r = sat16(luma + mulhrs(vv, k.cRV));
        const std::int16_t g = sat16(sat16(luma + mulhrs(uv, k.cGU)) + mulhrs(vv, k.cGV));
        const std::int16_t b = sat16(sat16(luma + uv) + mulhrs(uv, k.cBU));
        std::uint8_t *p = out + 4 * x;
        p[0] = clampByte(sat16(b + 32) >> 6);
        p[1] = clampByte(sat16(g + 32) >> 6);
        p[2] = clampByte(sat16(r + 32) >> 6);
        p[3] = 255;
    }
}

// ---- AVX2 ----

__attribute__((target("avx2"))) inline __m256i luma8(__m256i px, __m256i coef, __m256i bias) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi8(px, zero), coef);
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi8(px, zero), coef);
    // Lane 0 holds pixels 0-3, lane 1 pixels 4-7, in order.
    return _mm256_srai_epi32(_mm256_add_epi32(_mm256_hadd_epi32(lo, hi), bias), 14);
}

__attribute__((target("avx2"))) void lumaRowAvx2(const std::uint8_t *src, std::uint8_t *y,
                                                 int width, const Forward &f) {
    const __m256i coef = _mm256_setr_epi16(
        std::int16_t(f.yB), std::int16_t(f.yG), std::int16_t(f.yR), 0, std::int16_t(f.yB),
        std::int16_t(f.yG), std::int16_t(f.yR), 0, std::int16_t(f.yB), std::int16_t(f.yG),
        std::int16_t(f.yR), 0, std::int16_t(f.yB), std::int16_t(f.yG), std::int16_t(f.yR), 0);
    const __m256i bias = _mm256_set1_epi32(f.yBias);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const auto *p = reinterpret_cast<const __m256i *>(src + 4 * x);
        const __m256i y0 = luma8(_mm256_loadu_si256(p + 0), coef, bias);
        const __m256i y1 = luma8(_mm256_loadu_si256(p + 1), coef, bias);
        const __m256i y2 = luma8(_mm256_loadu_si256(p + 2), coef, bias);
        const __m256i y3 = luma8(_mm256_loadu_si256(p + 3), coef, bias);
        const __m256i bytes =
            _mm256_packus_epi16(_mm256_packs_epi32(y0, y1), _mm256_packs_epi32(y2, y3));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(y + x),
                            _mm256_permutevar8x32_epi32(bytes, order));
    }
    lumaRowScalar(src, y, x, width, f);
}

__attribute__((target("avx2"))) inline __m256i chromaWeights(int b, int g, int r) {
    const auto B = std::int16_t(b), G = std::int16_t(g), R = std::int16_t(r);
    return _mm256_setr_epi16(B, G, R, 0, B, G, R, 0, B, G, R, 0, B, G, R, 0);
}

// Per pixel of 8, the chroma weight sum of that pixel's column pair (row 0 + row 1).
__attribute__((target("avx2"))) inline void chroma8(__m256i a0, __m256i a1, __m256i cu, __m256i cv,
                                                    __m256i &u, __m256i &v) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo =
        _mm256_add_epi16(_mm256_unpacklo_epi8(a0, zero), _mm256_unpacklo_epi8(a1, zero));
    const __m256i hi =
        _mm256_add_epi16(_mm256_unpackhi_epi8(a0, zero), _mm256_unpackhi_epi8(a1, zero));
    u = _mm256_hadd_epi32(_mm256_madd_epi16(lo, cu), _mm256_madd_epi16(hi, cu));
    v = _mm256_hadd_epi32(_mm256_madd_epi16(lo, cv), _mm256_madd_epi16(hi, cv));
}

__attribute__((target("avx2"))) void chromaRowAvx2(const std::uint8_t *row0,
                                                   const std::uint8_t *row1, int width,
                                                   const Yuv420Planes &d, int cy,
                                                   const Forward &f) {
    const __m256i cu = chromaWeights(f.uB, f.uG, f.uR), cv = chromaWeights(f.vB, f.vG, f.vR);
    const __m256i bias = _mm256_set1_epi32(f.uvBias);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m128i split = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    const int chromaWidth = (width + 1) / 2;
    int cx = 0;
    // Eight blocks (16 pixels) at a time, only where both pixels of every block exist.
    for (; 2 * cx + 16 <= width; cx += 8) {
        const auto *p0 = reinterpret_cast<const __m256i *>(row0 + 8 * cx);
        const auto *p1 = reinterpret_cast<const __m256i *>(row1 + 8 * cx);
        __m256i ua, va, ub, vb;
        chroma8(_mm256_loadu_si256(p0), _mm256_loadu_si256(p1), cu, cv, ua, va);
        chroma8(_mm256_loadu_si256(p0 + 1), _mm256_loadu_si256(p1 + 1), cu, cv, ub, vb);
        // Blocks in lane 0: 0, 1, 4, 5; in lane 1: 2, 3, 6, 7.
        const __m256i u = _mm256_srai_epi32(_mm256_add_epi32(_mm256_hadd_epi32(ua, ub), bias), 16);
        const __m256i v = _mm256_srai_epi32(_mm256_add_epi32(_mm256_hadd_epi32(va, vb), bias), 16);
        const __m256i words =
            _mm256_packs_epi32(_mm256_unpacklo_epi32(u, v), _mm256_unpackhi_epi32(u, v));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), order);
        const __m128i uv = _mm256_castsi256_si128(bytes); // U0 V0 U1 V1 ... U7 V7
        if (d.interleavedUV) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d.u + cy * d.uStride + 2 * cx), uv);
        } else {
            const __m128i planar = _mm_shuffle_epi8(uv, split);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d.u + cy * d.uStride + cx), planar);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d.v + cy * d.vStride + cx),
                             _mm_unpackhi_epi64(planar, planar));
        }
    }
    chromaRowScalar(row0, row1, width, d, cy, cx, chromaWidth, f);
}

__attribute__((target("avx2"))) void bgraRowAvx2(const std::uint8_t *y, const std::uint8_t *u,
                                                 const std::uint8_t *v, int uvStep,
                                                 std::uint8_t *out, int width, const Inverse &k) {
    const __m256i yOffset = _mm256_set1_epi16(std::int16_t(k.yOffset));
    const __m256i c128 = _mm256_set1_epi16(128);
    const __m256i cY = _mm256_set1_epi16(k.cY), cRV = _mm256_set1_epi16(k.cRV);
    const __m256i cGU = _mm256_set1_epi16(k.cGU), cGV = _mm256_set1_epi16(k.cGV);
    const __m256i cBU = _mm256_set1_epi16(k.cBU);
    const __m256i round = _mm256_set1_epi16(32);
    const __m256i alpha = _mm256_set1_epi16(255);
    const __m128i deinterleave =
        _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    const bool aligned = reinterpret_cast<std::uintptr_t>(out) % 32 == 0;
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i u8, v8;
        if (uvStep == 2) {
            const __m128i uv = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(u + x)), deinterleave);
            u8 = uv;
            v8 = _mm_unpackhi_epi64(uv, uv);
        } else {
            u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(u + x / 2));
            v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(v + x / 2));
        }
        // Each chroma sample serves two pixels.
        const __m256i U = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, u8));
        const __m256i V = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v8, v8));
        const __m256i Y =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + x)));
        const __m256i yv = _mm256_slli_epi16(_mm256_sub_epi16(Y, yOffset), 7);
        const __m256i uv = _mm256_slli_epi16(_mm256_sub_epi16(U, c128), 7);
        const __m256i vv = _mm256_slli_epi16(_mm256_sub_epi16(V, c128), 7);
        const __m256i luma = _mm256_mulhrs_epi16(yv, cY);
        const __m256i r = _mm256_adds_epi16(luma, _mm256_mulhrs_epi16(vv, cRV));
        const __m256i g = _mm256_adds_epi16(_mm256_adds_epi16(luma, _mm256_mulhrs_epi16(uv, cGU)),
                                            _mm256_mulhrs_epi16(vv, cGV));
        const __m256i b =
            _mm256_adds_epi16(_mm256_adds_epi16(luma, uv), _mm256_mulhrs_epi16(uv, cBU));
        const __m256i B = _mm256_srai_epi16(_mm256_adds_epi16(b, round), 6);
        const __m256i G = _mm256_srai_epi16(_mm256_adds_epi16(g, round), 6);
        const __m256i R = _mm256_srai_epi16(_mm256_adds_epi16(r, round), 6);
        // Lane 0 holds pixels 0-7, lane 1 pixels 8-15.
        const __m256i br = _mm256_packus_epi16(B, R); // B0-7 R0-7 | B8-15 R8-15
        const __m256i ga = _mm256_packus_epi16(G, alpha);
        const __m256i bg = _mm256_unpacklo_epi8(br, ga);  // B G pairs
        const __m256i ra = _mm256_unpackhi_epi8(br, ga);  // R A pairs
        const __m256i lo = _mm256_unpacklo_epi16(bg, ra); // pixels 0-3 | 8-11
        const __m256i hi = _mm256_unpackhi_epi16(bg, ra); // pixels 4-7 | 12-15
        auto *dst = reinterpret_cast<__m256i *>(out + 4 * x);
        if (aligned) {
            // The frame is read next by another thread, long after these lines would have
            // left the cache: write around it.
            _mm256_stream_si256(dst, _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_stream_si256(dst + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
        } else {
            _mm256_storeu_si256(dst, _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
        }
    }
    bgraRowScalar(y, u, v, uvStep, out, x, width, k);
}

// Calls `convert(begin, end)` for the columns of a row (or row pair) to convert, widened to
// whole blocks of 32 columns so that the vector loops do the work (converting unchanged columns
// again writes what is there already). Everything without `spans`.
template <class Convert>
void forEachColumnRange(const RowChanges *spans, int y0, int y1, int width, Convert &&convert) {
    if (!spans) return convert(0, width);
    RowChanges r = spans[y0];
    r.add(spans[y1]);
    RowChanges blocks;
    for (RowSpan s : r)
        blocks.add({std::clamp(s.begin, 0, width) & ~31,
                    std::min(width, (std::clamp(s.end, 0, width) + 31) & ~31)});
    for (RowSpan s : blocks) convert(s.begin, s.end);
}

// The destination planes shifted right by `begin` (even) columns.
Yuv420Planes shifted(const Yuv420Planes &d, int begin) {
    Yuv420Planes s = d;
    s.y += begin;
    s.u += d.interleavedUV ? begin : begin / 2;
    if (!d.interleavedUV) s.v += begin / 2;
    return s;
}

// Both planes are made from one pair of rows at a time, while those rows are still in the
// cache: the source is read from memory once. `pair(s0, s1, n, planes, cy)` converts n columns
// of rows y0 and y1 into chroma row cy of the planes (shifted to the first column).
template <class RowPair>
void toYuvRowPairs(const PixelBuffer &src, const Yuv420Planes &d, const RowChanges *spans,
                   RowPair &&pair) {
    const int w = src.width(), h = src.height();
    for (int cy = 0; cy < (h + 1) / 2; ++cy) {
        const int y0 = 2 * cy, y1 = std::min(2 * cy + 1, h - 1);
        forEachColumnRange(spans, y0, y1, w, [&](int begin, int end) {
            pair(src.row(y0) + 4 * begin, y1 != y0 ? src.row(y1) + 4 * begin : nullptr, end - begin,
                 shifted(d, begin), y0, y1, cy);
        });
    }
}

// `row(y, u, v, begin, end)` converts columns [begin, end) of row y, whose chroma rows start at
// u and v.
template <class Row>
void toBgraRows(const ConstYuv420Planes &s, PixelBuffer &dst, const RowChanges *spans, Row &&row) {
    for (int y = 0; y < dst.height(); ++y) {
        const std::uint8_t *u = s.u + (y / 2) * s.uStride;
        const std::uint8_t *v = s.interleavedUV ? u + 1 : s.v + (y / 2) * s.vStride;
        forEachColumnRange(spans, y, y, dst.width(),
                           [&](int begin, int end) { row(y, u, v, begin, end); });
    }
}

} // namespace

namespace detail {

void bgraToYuv420Scalar(const PixelBuffer &src, const Yuv420Planes &d, YuvColorimetry c,
                        const RowChanges *spans) {
    const Forward f = forward(c);
    toYuvRowPairs(src, d, spans,
                  [&](const std::uint8_t *s0, const std::uint8_t *s1, int n, const Yuv420Planes &o,
                      int y0, int y1, int cy) {
                      lumaRowScalar(s0, o.y + y0 * o.yStride, 0, n, f);
                      if (s1) lumaRowScalar(s1, o.y + y1 * o.yStride, 0, n, f);
                      chromaRowScalar(s0, s1 ? s1 : s0, n, o, cy, 0, (n + 1) / 2, f);
                  });
}

void bgraToYuv420Avx2(const PixelBuffer &src, const Yuv420Planes &d, YuvColorimetry c,
                      const RowChanges *spans) {
    const Forward f = forward(c);
    toYuvRowPairs(src, d, spans,
                  [&](const std::uint8_t *s0, const std::uint8_t *s1, int n, const Yuv420Planes &o,
                      int y0, int y1, int cy) {
                      lumaRowAvx2(s0, o.y + y0 * o.yStride, n, f);
                      if (s1) lumaRowAvx2(s1, o.y + y1 * o.yStride, n, f);
                      chromaRowAvx2(s0, s1 ? s1 : s0, n, o, cy, f);
                  });
}

void yuv420ToBgraScalar(const ConstYuv420Planes &s, YuvColorimetry c, PixelBuffer &dst,
                        const RowChanges *spans) {
    const Inverse k = inverse(c);
    const int step = s.interleavedUV ? 2 : 1;
    toBgraRows(s, dst, spans,
               [&](int y, const std::uint8_t *u, const std::uint8_t *v, int begin, int end) {
                   bgraRowScalar(s.y + y * s.yStride, u, v, step, dst.row(y), begin, end, k);
               });
}

void yuv420ToBgraAvx2(const ConstYuv420Planes &s, YuvColorimetry c, PixelBuffer &dst,
                      const RowChanges *spans) {
    const Inverse k = inverse(c);
    const int step = s.interleavedUV ? 2 : 1;
    toBgraRows(s, dst, spans,
               [&](int y, const std::uint8_t *u, const std::uint8_t *v, int begin, int end) {
                   const int half = begin / 2 * step;
                   bgraRowAvx2(s.y + y * s.yStride + begin, u + half, v + half, step,
                               dst.row(y) + 4 * begin, end - begin, k);
               });
    _mm_sfence();
}

} // namespace detail

void bgraToYuv420(const PixelBuffer &source, const Yuv420Planes &destination,
                  YuvColorimetry colorimetry, const RowChanges *spans) {
    if (platform::cpuHasAvx2())
        detail::bgraToYuv420Avx2(source, destination, colorimetry, spans);
    else
        detail::bgraToYuv420Scalar(source, destination, colorimetry, spans);
}

void yuv420ToBgra(const ConstYuv420Planes &source, YuvColorimetry colorimetry,
                  PixelBuffer &destination, const RowChanges *spans) {
    if (platform::cpuHasAvx2())
        detail::yuv420ToBgraAvx2(source, colorimetry, destination, spans);
    else
        detail::yuv420ToBgraScalar(source, colorimetry, destination, spans);
}

} // namespace qv::platform::media
