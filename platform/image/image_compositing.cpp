// Conversions, crops, resampling and the compositing operations.
#include "platform/image/cv_bridge.h"
#include "platform/image/image_ops.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv::platform {

using namespace detail;

namespace {

constexpr float kInv255 = 1.0f / 255.0f;

// The 4 × 4 ordered-dither thresholds, centred in (0, 1).
constexpr float kBayer[4][4] = {{0.5f / 16, 8.5f / 16, 2.5f / 16, 10.5f / 16},
                                {12.5f / 16, 4.5f / 16, 14.5f / 16, 6.5f / 16},
                                {3.5f / 16, 11.5f / 16, 1.5f / 16, 9.5f / 16},
                                {15.5f / 16, 7.5f / 16, 13.5f / 16, 5.5f / 16}};

inline std::uint8_t ditherByte(float v, float t) {
    const float s = v * 255.0f + t;
    if (!(s > 0)) return 0; // NaN too
    return s >= 255.0f ? 255 : static_cast<std::uint8_t>(s);
}

// One premultiplied pixel to bytes, no colour above its alpha.
inline void ditherPixel(const float *s, float th, std::uint8_t *p) {
#if defined(__SSE2__)
    // The same bytes as ditherByte: max against 0 turns NaN and negatives into 0, the
    // conversion truncates like the cast.
    __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(s), _mm_set1_ps(255.0f)), _mm_set1_ps(th));
    v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    const __m128i i32 = _mm_cvttps_epi32(v);
    const __m128i i16 = _mm_packs_epi32(i32, i32);
    __m128i bytes = _mm_packus_epi16(i16, i16);
    const __m128i alpha = _mm_shuffle_epi32(_mm_srli_epi32(bytes, 24), 0);
    const __m128i a4 = _mm_or_si128(
        _mm_slli_epi32(alpha, 24),
        _mm_or_si128(_mm_slli_epi32(alpha, 16), _mm_or_si128(_mm_slli_epi32(alpha, 8), alpha)));
    bytes = _mm_min_epu8(bytes, a4);
    const int px = _mm_cvtsi128_si32(bytes);
    std::memcpy(p, &px, 4);
#else
    const std::uint8_t a = ditherByte(s[3], th);
    p[0] = std::min(ditherByte(s[0], th), a);
    p[1] = std::min(ditherByte(s[1], th), a);
    p[2] = std::min(ditherByte(s[2], th), a);
    p[3] = a;
#endif
}

// Source index map of an affine resample: destination pixel (i, j) of `out` samples source
// index (mx.x·i + mx.y·j + mx.z, my.x·i + my.y·j + my.z). Source indices count from the top-left
// pixel centre of a `sw` × `sh` bitmap that covers `src` (possibly averaged down).
cv::Matx23d inverseIndexMap(const Affine &toDest, const PixelBox &src, int sw, int sh,
                            const PixelBox &out) {
    const Affine &m = toDest;
    const double det = m.a * m.d - m.b * m.c;
    const Affine inv{m.d / det,
                     -m.b / det,
                     -m.c / det,
                     m.a / det,
                     (m.c * m.ty - m.d * m.tx) / det,
                     (m.b * m.tx - m.a * m.ty) / det};
    const double kx = double(sw) / src.width(), ky = double(sh) / src.height();
    auto index = [&](double i, double j) {
        const Point p{out.x0 + i + 0.5, out.y1 - j - 0.5};
        const Point q = inv.apply(p);
        return Point{(q.x - src.x0) * kx - 0.5, (src.y1 - q.y) * ky - 0.5};
    };
    const Point o = index(0, 0), ei = index(1, 0), ej = index(0, 1);
    return {ei.x - o.x, ej.x - o.x, o.x, ei.y - o.y, ej.y - o.y, o.y};
}

// Averages the source down when the transform shrinks it to under half on an axis.
cv::Mat reducedSource(const cv::Mat &src, const Affine &m, Reduction reduction) {
    if (reduction == Reduction::bilinear) return src;
    const double sx = std::hypot(m.a, m.b), sy = std::hypot(m.c, m.d);
    const int w = std::max(1, int(std::lround(src.cols * std::min(1.0, 2 * sx))));
    const int h = std::max(1, int(std::lround(src.rows * std::min(1.0, 2 * sy))));
    if (w == src.cols && h == src.rows) return src;
    cv::Mat small;
    cv::resize(src, small, cv::Size(w, h), 0, 0, cv::INTER_AREA);
    return small;
}

bool invertible(const Affine &m) {
    const double det = m.a * m.d - m.b * m.c;
    return std::isfinite(det) && std::abs(det) > 1e-12 && std::isfinite(m.tx) &&
           std::isfinite(m.ty);
}

} // namespace

FloatImage toFloat(const Image &image) {
    return toFloat(image, image.extent());
}

FloatImage toFloat(const Image &image, Rect region) {
    const PixelBuffer &pb = image.bitmap();
    const Rect e = image.extent();
    const PixelBox whole{int(std::lround(e.x)), int(std::lround(e.y)),
                         int(std::lround(e.x)) + pb.width(), int(std::lround(e.y)) + pb.height()};
    const PixelBox in = intersect(whole, pixelBox(region));
    if (in.empty()) return {};
    FloatImage out = FloatImage::makeUninitialised(in.x0, in.y0, in.width(), in.height(), 4);
    if (out.empty()) return out;
    forRows(in.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const std::uint8_t *s = pb.row(whole.y1 - in.y1 + j) + 4 * (in.x0 - whole.x0);
            float *d = out.row(j);
            for (int k = 0; k < 4 * in.width(); ++k) d[k] = s[k] * kInv255;
        }
    });
    return out;
}

ImageRef ImageContext::createImage(const FloatImage &image, Rect region) const {
    const PixelBox box = pixelBox(region);
    if (box.empty()) return nullptr;
    auto pb = PixelBuffer::create(box.width(), box.height(), PixelFormat::bgra8);
    if (!pb) return nullptr;
    if (!image.empty()) {
        const PixelBox in = intersect(box, pixelBox(image));
        if (!in.empty()) {
            const int ch = image.channels();
            forRows(in.height(), [&](int r0, int r1) {
                for (int r = r0; r < r1; ++r) {
                    const int y = in.y1 - 1 - r;    // y-up pixel row
                    const int jo = box.y1 - 1 - y;  // output row
                    const int js = rowOf(image, y); // source row
                    const float *src = image.row(js) + std::size_t(in.x0 - image.x()) * ch;
                    std::uint8_t *dst = pb->row(jo) + 4 * (in.x0 - box.x0);
                    const float *t = kBayer[jo & 3];
                    if (ch == 1) {
                        for (int i = 0; i < in.width(); ++i) {
                            std::uint8_t *p = dst + 4 * i;
                            p[0] = p[1] = p[2] = 0;
                            p[3] = ditherByte(src[i], t[(i + in.x0 - box.x0) & 3]);
                        }
                    } else {
                        for (int i = 0; i < in.width(); ++i)
                            ditherPixel(src + 4 * i, t[(i + in.x0 - box.x0) & 3], dst + 4 * i);
                    }
                }
            });
        }
    }
    return Image::make(std::move(pb), {double(box.x0), double(box.y0)});
}

FloatImage crop(const FloatImage &image, Rect rect) {
    if (image.empty()) return {};
    const PixelBox in = intersect(pixelBox(rect), pixelBox(image));
    if (in.empty()) return {};
    if (in.x0 == image.x() && in.y0 == image.y() && in.width() == image.width() &&
        in.height() == image.height())
        return image.clone();
    FloatImage out =
        FloatImage::makeUninitialised(in.x0, in.y0, in.width(), in.height(), image.channels());
    if (out.empty()) return out;
    const std::size_t n = out.rowFloats() * sizeof(float);
    for (int j = 0; j < out.height(); ++j)
        std::memcpy(out.row(j),
                    image.row(rowOf(image, in.y1 - 1 - j)) +
                        std::size_t(in.x0 - image.x()) * image.channels(),
                    n);
    return out;
}

FloatImage translated(FloatImage image, int dx, int dy) {
    image.moveBy(dx, dy);
    return image;
}

FloatImage affineResample(const FloatImage &image, const Affine &toDest, Rect region,
                          EdgeMode edges, Reduction reduction) {
    const PixelBox out = pixelBox(region);
    if (image.empty() || out.empty() || !invertible(toDest)) return {};
    FloatImage result =
        FloatImage::makeUninitialised(out.x0, out.y0, out.width(), out.height(), image.channels());
    if (result.empty()) return result;
    const cv::Mat src = reducedSource(mat(image), toDest, reduction);
    const cv::Matx23d m = inverseIndexMap(toDest, pixelBox(image), src.cols, src.rows, out);
    cv::Mat dst = mat(result);
    cv::warpAffine(src, dst, cv::Mat(m), dst.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   edges == EdgeMode::clamp ? cv::BORDER_REPLICATE : cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    return result;
}

ImageRef affineResample(const Image &image, const Affine &toDest, Rect region, EdgeMode edges,
                        Reduction reduction) {
    const PixelBox out = pixelBox(region);
    if (out.empty() || !invertible(toDest)) return nullptr;
    auto pb = PixelBuffer::create(out.width(), out.height(), PixelFormat::bgra8);
    if (!pb) return nullptr;
    const Rect e = image.extent();
    const PixelBox srcBox{int(std::lround(e.x)), int(std::lround(e.y)),
                          int(std::lround(e.x)) + image.bitmap().width(),
                          int(std::lround(e.y)) + image.bitmap().height()};
    const cv::Mat src = reducedSource(mat(image.bitmap()), toDest, reduction);
    const cv::Matx23d m = inverseIndexMap(toDest, srcBox, src.cols, src.rows, out);
    cv::Mat dst = mat(*pb);
    cv::warpAffine(src, dst, cv::Mat(m), dst.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   edges == EdgeMode::clamp ? cv::BORDER_REPLICATE : cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    return Image::make(std::move(pb), {double(out.x0), double(out.y0)});
}

void drawOver(FloatImage &dst, const FloatImage &top) {
    if (dst.empty() || top.empty()) return;
    const PixelBox in = intersect(pixelBox(dst), pixelBox(top));
    if (in.empty()) return;
    const int dc = dst.channels(), tc = top.channels();
    forRows(in.height(), [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r) {
            const int y = in.y1 - 1 - r;
            float *d = dst.row(rowOf(dst, y)) + std::size_t(in.x0 - dst.x()) * dc;
            const float *t = top.row(rowOf(top, y)) + std::size_t(in.x0 - top.x()) * tc;
            for (int i = 0; i < in.width(); ++i) {
                const float ta = t[tc * i + tc - 1];
                const float k = 1.0f - ta;
                if (dc == 4) {
                    float *p = d + 4 * i;
                    if (tc == 4) {
                        const float *s = t + 4 * i;
                        p[0] = s[0] + p[0] * k, p[1] = s[1] + p[1] * k;
                        p[2] = s[2] + p[2] * k, p[3] = s[3] + p[3] * k;
                    } else { // black at opacity ta
                        p[0] *= k, p[1] *= k, p[2] *= k, p[3] = ta + p[3] * k;
                    }
                } else {
                    d[i] = ta + d[i] * k; // only the opacity of a one-channel image
                }
            }
        }
    });
}

FloatImage compositeOver(const FloatImage &top, const FloatImage &bottom) {
    if (bottom.empty()) return top.clone();
    if (top.empty()) return bottom.clone();
    const PixelBox u = unite(pixelBox(top), pixelBox(bottom));
    const int ch = std::max(top.channels(), bottom.channels());
    FloatImage out = FloatImage::make(u.x0, u.y0, u.width(), u.height(), ch);
    if (out.empty()) return out;
    drawOver(out, bottom);
    drawOver(out, top);
    return out;
}

ImageRef compositeOver(const Image &top, const Image &bottom) {
    const Rect te = top.extent(), be = bottom.extent();
    const PixelBox tb = pixelBox(te), bb = pixelBox(be);
    const PixelBox u = unite(tb, bb);
    auto pb = PixelBuffer::create(u.width(), u.height(), PixelFormat::bgra8);
    if (!pb) return nullptr;
    auto draw = [&](const PixelBuffer &src, const PixelBox &sb, bool over) {
        forRows(sb.height(), [&](int j0, int j1) {
            for (int j = j0; j < j1; ++j) {
                const std::uint8_t *s = src.row(j);
                std::uint8_t *d = pb->row(u.y1 - sb.y1 + j) + 4 * (sb.x0 - u.x0);
                if (!over) {
                    std::memcpy(d, s, std::size_t(sb.width()) * 4);
                    continue;
                }
                for (int i = 0; i < sb.width(); ++i) {
                    const unsigned a = s[4 * i + 3];
                    if (a == 0) continue;
                    const unsigned k = 255 - a;
                    for (int c = 0; c < 4; ++c) {
                        // s + d·(255 − a)/255, rounded
                        const unsigned v = d[4 * i + c] * k + 128;
                        d[4 * i + c] =
                            std::uint8_t(std::min(255u, s[4 * i + c] + ((v + (v >> 8)) >> 8)));
                    }
                }
            }
        });
    };
    draw(bottom.bitmap(), bb, false);
    draw(top.bitmap(), tb, true);
    return Image::make(std::move(pb), {double(u.x0), double(u.y0)});
}

void multiplyAlpha(FloatImage &image, double factor) {
    if (image.empty()) return;
    const float f = float(std::clamp(std::isnan(factor) ? 0.0 : factor, 0.0, 1.0));
    forRows(image.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            float *p = image.row(j);
            for (std::size_t k = 0; k < image.rowFloats(); ++k) p[k] *= f;
        }
    });
}

void multiplyByMask(FloatImage &image, const FloatImage &mask) {
    if (image.empty()) return;
    const int ch = image.channels();
    forRows(image.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const int y = image.y() + image.height() - 1 - j; // y-up row
            float *p = image.row(j);
            const bool mRow = !mask.empty() && y >= mask.y() && y < mask.y() + mask.height();
            const float *m = mRow ? mask.row(rowOf(mask, y)) : nullptr;
            const int mc = mask.channels();
            for (int i = 0; i < image.width(); ++i) {
                const int x = image.x() + i;
                const float k = m && x >= mask.x() && x < mask.x() + mask.width()
                                    ? m[std::size_t(x - mask.x()) * mc + mc - 1]
                                    : 0.0f;
                for (int c = 0; c < ch; ++c) p[ch * i + c] *= k;
            }
        }
    });
}

FloatImage colorMatrix(const FloatImage &image, const ColorMatrix &m) {
    if (image.empty() || image.channels() != 4) return {};
    FloatImage out =
        FloatImage::makeUninitialised(image.x(), image.y(), image.width(), image.height(), 4);
    if (out.empty()) return out;
    forRows(image.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const float *s = image.row(j);
            float *d = out.row(j);
            for (int i = 0; i < image.width(); ++i) {
                const double a = s[4 * i + 3];
                const double inv = a > 0 ? 1.0 / a : 0.0;
                const double v[4] = {s[4 * i + 2] * inv, s[4 * i + 1] * inv, s[4 * i] * inv, a};
                auto dot = [&](const std::array<double, 4> &row, double bias) {
                    return std::clamp(row[0] * v[0] + row[1] * v[1] + row[2] * v[2] +
                                          row[3] * v[3] + bias,
                                      0.0, 1.0);
                };
                const double na = dot(m.a, m.bias[3]);
                d[4 * i + 0] = float(dot(m.b, m.bias[2]) * na);
                d[4 * i + 1] = float(dot(m.g, m.bias[1]) * na);
                d[4 * i + 2] = float(dot(m.r, m.bias[0]) * na);
                d[4 * i + 3] = float(na);
            }
        }
    });
    return out;
}

FloatImage blendWithMask(const FloatImage &fg, const FloatImage &bg, const FloatImage &mask) {
    if (bg.empty()) return {};
    FloatImage out =
        FloatImage::makeUninitialised(bg.x(), bg.y(), bg.width(), bg.height(),
                                      std::max(bg.channels(), fg.empty() ? 1 : fg.channels()));
    if (out.empty()) return out;
    const int oc = out.channels();
    forRows(bg.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const int y = bg.y() + bg.height() - 1 - j; // y-up row
            float *d = out.row(j);
            const float *b = bg.row(j);
            const bool fgRow = !fg.empty() && y >= fg.y() && y < fg.y() + fg.height();
            const bool mRow = !mask.empty() && y >= mask.y() && y < mask.y() + mask.height();
            for (int i = 0; i < bg.width(); ++i) {
                const int x = bg.x() + i;
                float f[4] = {0, 0, 0, 0}, bv[4] = {0, 0, 0, 0};
                if (bg.channels() == 4)
                    for (int c = 0; c < 4; ++c) bv[c] = b[4 * i + c];
                else
                    bv[3] = b[i];
                if (fgRow && x >= fg.x() && x < fg.x() + fg.width()) {
                    const float *p = fg.row(rowOf(fg, y)) + std::size_t(x - fg.x()) * fg.channels();
                    if (fg.channels() == 4)
                        for (int c = 0; c < 4; ++c) f[c] = p[c];
                    else
                        f[3] = p[0];
                }
                float m = 0;
                if (mRow && x >= mask.x() && x < mask.x() + mask.width())
                    m = mask.row(rowOf(
                        mask,
                        y))[std::size_t(x - mask.x()) * mask.channels() + mask.channels() - 1];
                if (oc == 4)
                    for (int c = 0; c < 4; ++c) d[4 * i + c] = f[c] * m + bv[c] * (1 - m);
                else
                    d[i] = f[3] * m + bv[3] * (1 - m);
            }
        }
    });
    return out;
}

} // namespace qv::platform
