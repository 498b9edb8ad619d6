// The colour converters: the AVX2 and scalar versions agree to the bit, and both agree with
// the colour equations.
#include "platform/core/cpu_features.h"
#include "platform/media/yuv_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace qv::platform::media {
namespace {

struct Planes {
    int w, h;
    bool nv12;
    std::vector<std::uint8_t> y, u, v;
    Planes(int w_, int h_, bool nv12_) : w(w_), h(h_), nv12(nv12_) {
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        y.assign(std::size_t(w) * h, 0);
        u.assign(std::size_t(nv12 ? 2 * cw : cw) * ch, 0);
        v.assign(nv12 ? 0 : std::size_t(cw) * ch, 0);
    }
    Yuv420Planes out() {
        const int cw = (w + 1) / 2;
        return {y.data(),      w,   u.data(), nv12 ? 2 * cw : cw, nv12 ? nullptr : v.data(),
                nv12 ? 0 : cw, nv12};
    }
    ConstYuv420Planes in() const {
        const int cw = (w + 1) / 2;
        return {y.data(),      w,   u.data(), nv12 ? 2 * cw : cw, nv12 ? nullptr : v.data(),
                nv12 ? 0 : cw, nv12};
    }
};

PixelBufferRef randomImage(int w, int h, std::mt19937 &rng) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 4 * w; ++x) pb->row(y)[x] = std::uint8_t(rng());
    return pb;
}

const YuvColorimetry allColorimetries[] = {
    {YuvMatrix::bt601, false}, {YuvMatrix::bt601, true},   {YuvMatrix::bt709, false},
    {YuvMatrix::bt709, true},  {YuvMatrix::bt2020, false}, {YuvMatrix::bt2020, true},
};

TEST(YuvConvert, VectorAndScalarVersionsGiveTheSameBytes) {
    if (!platform::cpuHasAvx2()) GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937 rng(7);
    // Sizes around the vector widths, odd ones included.
    for (auto [w, h] : {std::pair{1, 1}, {15, 3}, {16, 2}, {17, 5}, {33, 7}, {64, 4}, {95, 9}}) {
        for (const YuvColorimetry c : allColorimetries) {
            for (bool nv12 : {false, true}) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " nv12 " << nv12 << " matrix "
                                                  << int(c.matrix) << " full " << c.fullRange);
                auto image = randomImage(w, h, rng);
                Planes a(w, h, nv12), b(w, h, nv12);
                detail::bgraToYuv420Scalar(*image, a.out(), c);
                detail::bgraToYuv420Avx2(*image, b.out(), c);
                EXPECT_EQ(a.y, b.y);
                EXPECT_EQ(a.u, b.u);
                EXPECT_EQ(a.v, b.v);

                for (auto &p : a.y) p = std::uint8_t(rng());
                for (auto &p : a.u) p = std::uint8_t(rng());
                for (auto &p : a.v) p = std::uint8_t(rng());
                auto s = PixelBuffer::create(w, h, PixelFormat::bgra8);
                auto v = PixelBuffer::create(w, h, PixelFormat::bgra8);
                detail::yuv420ToBgraScalar(a.in(), c, *s);
                detail::yuv420ToBgraAvx2(a.in(), c, *v);
                for (int y = 0; y < h; ++y)
                    ASSERT_EQ(std::memcmp(s->row(y), v->row(y), std::size_t(w) * 4), 0)
                        << "row " << y;
            }
        }
    }
}

// Converting only the changed spans of a picture over the conversion of the picture before
// gives the conversion of the whole new picture, spans with odd ends included.
TEST(YuvConvert, SpansUpdateAnEarlierConversion) {
    std::mt19937 rng(11);
    const YuvColorimetry c{YuvMatrix::bt709, false};
    for (bool vector : {false, true}) {
        if (vector && !platform::cpuHasAvx2()) continue;
        const auto toYuv = vector ? &detail::bgraToYuv420Avx2 : &detail::bgraToYuv420Scalar;
        const auto toBgra = vector ? &detail::yuv420ToBgraAvx2 : &detail::yuv420ToBgraScalar;
        for (auto [w, h] : {std::pair{37, 9}, {64, 6}, {95, 11}}) {
            for (bool nv12 : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << w << "x" << h << " nv12 " << nv12 << " vector " << vector);
                // The new picture differs from the old one in a block with odd edges.
                auto before = randomImage(w, h, rng), after = randomImage(w, h, rng);
                RowSpans spans(static_cast<std::size_t>(h));
                for (int y = 0; y < h; ++y) {
                    const bool changed = y >= 3 && y < h - 2;
                    if (changed) spans[y].add({5, w - 4});
                    for (int x = 0; x < w; ++x)
                        if (!(changed && x >= 5 && x < w - 4))
                            std::memcpy(after->row(y) + 4 * x, before->row(y) + 4 * x, 4);
                }
                Planes updated(w, h, nv12), whole(w, h, nv12);
                toYuv(*before, updated.out(), c, nullptr);
                toYuv(*after, updated.out(), c, spans.data());
                toYuv(*after, whole.out(), c, nullptr);
                EXPECT_EQ(updated.y, whole.y);
                EXPECT_EQ(updated.u, whole.u);
                EXPECT_EQ(updated.v, whole.v);

                // And back: the same for BGRA pictures made from two YUV pictures, where a
                // changed chroma row changes both rows of its pair.
                for (int y = 0; y < h; ++y)
                    spans[y] =
                        spans[y & ~1].empty() ? spans[std::min(y | 1, h - 1)] : spans[y & ~1];
                Planes yuvBefore(w, h, nv12);
                toYuv(*before, yuvBefore.out(), c, nullptr);
                auto back = PixelBuffer::create(w, h, PixelFormat::bgra8);
                auto full = PixelBuffer::create(w, h, PixelFormat::bgra8);
                toBgra(yuvBefore.in(), c, *back, nullptr);
                toBgra(whole.in(), c, *back, spans.data());
                toBgra(whole.in(), c, *full, nullptr);
                for (int y = 0; y < h; ++y)
                    ASSERT_EQ(std::memcmp(back->row(y), full->row(y), std::size_t(w) * 4), 0)
                        << "row " << y;
            }
        }
    }
}

// The BT.709 equations in floating point.
struct Yuv {
    double y, u, v;
};
Yuv reference709Limited(double r, double g, double b) {
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    const double yy = kr * r + kg * g + kb * b;
    return {16 + 219 * yy / 255, 128 + 224 * (b - yy) / (2 * (1 - kb)) / 255,
            128 + 224 * (r - yy) / (2 * (1 - kr)) / 255};
}

TEST(YuvConvert, ForwardFollowsTheEquationsOnFlatColours) {
    const int colours[][3] = {{0, 0, 0},   {255, 255, 255}, {255, 0, 0},    {0, 255, 0},
                              {0, 0, 255}, {20, 190, 40},   {128, 64, 200}, {250, 250, 10}};
    for (const auto &c : colours) {
        auto image = PixelBuffer::create(6, 4, PixelFormat::bgra8);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                std::uint8_t *p = image->row(y) + 4 * x;
                p[0] = std::uint8_t(c[2]);
                p[1] = std::uint8_t(c[1]);
                p[2] = std::uint8_t(c[0]);
                p[3] = 255;
            }
        Planes out(6, 4, false);
        bgraToYuv420(*image, out.out(), {YuvMatrix::bt709, false});
        const Yuv want = reference709Limited(c[0], c[1], c[2]);
        EXPECT_NEAR(out.y[0], want.y, 0.51) << c[0] << "," << c[1] << "," << c[2];
        EXPECT_NEAR(out.u[0], want.u, 0.51) << c[0] << "," << c[1] << "," << c[2];
        EXPECT_NEAR(out.v[0], want.v, 0.51) << c[0] << "," << c[1] << "," << c[2];
        // And back: within two levels for every matrix and range.
        for (const YuvColorimetry cm : allColorimetries) {
            Planes yuv(6, 4, true);
            bgraToYuv420(*image, yuv.out(), cm);
            auto back = PixelBuffer::create(6, 4, PixelFormat::bgra8);
            yuv420ToBgra(yuv.in(), cm, *back);
            const std::uint8_t *p = back->row(2) + 4 * 3;
            EXPECT_NEAR(p[2], c[0], 2);
            EXPECT_NEAR(p[1], c[1], 2);
            EXPECT_NEAR(p[0], c[2], 2);
            EXPECT_EQ(p[3], 255);
        }
    }
}

TEST(YuvConvert, ChromaIsTheMeanOfItsBlockAndOddEdgesRepeat) {
    // 3 × 3: the last column and row form blocks of their own pixels repeated.
    auto image = PixelBuffer::create(3, 3, PixelFormat::bgra8);
    auto set = [&](int x, int y, int r, int g, int b) {
        std::uint8_t *p = image->row(y) + 4 * x;
        p[0] = std::uint8_t(b);
        p[1] = std::uint8_t(g);
        p[2] = std::uint8_t(r);
        p[3] = 255;
    };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) set(x, y, 128, 128, 128);
    set(0, 0, 255, 0, 0); // one red pixel in the first block
    set(2, 2, 0, 0, 255); // the lone corner block is blue
    Planes out(3, 3, false);
    bgraToYuv420(*image, out.out(), {YuvMatrix::bt709, true});
    // Block (0,0): three greys and a red: V above neutral, by a quarter of red's V.
    const double redV = 127.5 * (255 - 0.2126 * 255) / (255 * (1 - 0.2126));
    EXPECT_NEAR(out.v[0] - 128, (redV + 3 * 0) / 4, 1.0);
    EXPECT_GT(out.u[3], 200); // blue corner
    EXPECT_NEAR(out.u[1], 128, 1);
}

} // namespace
} // namespace qv::platform::media
