// The image operations, checked as pictures: small working images with known values in and
// pixel values out. Bilinear sampling reproduces a linear ramp exactly, so the distortions are
// checked against the analytic position each pixel must come from.
#include "platform/image/image_file.h"
#include "platform/image/image_ops.h"
#include "platform/imageio/png.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <numbers>

namespace qv::platform {
namespace {

// A one-channel-per-colour picture whose every channel is f(x, y) at the pixel centre (y-up).
FloatImage field(int W, int H, const std::function<float(double, double)> &f, int ch = 4) {
    FloatImage img = FloatImage::make(0, 0, W, H, ch);
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < W; ++i)
            for (int c = 0; c < ch; ++c) img.row(j)[ch * i + c] = f(i + 0.5, H - j - 0.5);
    return img;
}

// Value of channel c at y-up pixel (x, y) of the image's own space.
float at(const FloatImage &img, int x, int y, int c = 0) {
    const int j = img.y() + img.height() - 1 - y, i = x - img.x();
    return img.row(j)[img.channels() * i + c];
}

TEST(ImageBlur, KeepsAFlatImageFlatWithClampedEdgesAtEveryRadius) {
    for (double radius : {2.0, 7.5, 30.0, 120.0}) {
        const auto img = field(64, 40, [](double, double) { return 0.6f; });
        const auto out = gaussianBlur(img, radius, EdgeMode::clamp);
        ASSERT_EQ(out.extent(), img.extent()) << radius;
        for (auto [x, y] : {std::pair{0, 0}, {63, 39}, {0, 39}, {32, 20}})
            EXPECT_NEAR(at(out, x, y), 0.6f, 1e-4) << radius;
    }
}

// Spread of a blurred point: the variance of the result along x is sigma².
TEST(ImageBlur, SpreadsAPointByTheRadiusWhateverPathItTakes) {
    for (double sigma : {3.0, 6.0, 20.0, 45.0}) {
        const int W = int(sigma * 14) | 1, H = 3;
        FloatImage img = FloatImage::make(0, 0, W, H, 1);
        for (int j = 0; j < H; ++j) img.row(j)[W / 2] = 1;
        const auto out = gaussianBlur(img, sigma, EdgeMode::clamp);
        double mass = 0, mean = 0, var = 0;
        for (int x = 0; x < W; ++x) mass += at(out, x, 1);
        for (int x = 0; x < W; ++x) mean += at(out, x, 1) * (x + 0.5) / mass;
        for (int x = 0; x < W; ++x) var += at(out, x, 1) * std::pow(x + 0.5 - mean, 2) / mass;
        EXPECT_NEAR(mass, 1.0, 0.02) << sigma;
        EXPECT_NEAR(mean, W / 2 + 0.5, 0.05 * sigma) << sigma;
        EXPECT_NEAR(std::sqrt(var), sigma, 0.08 * sigma) << sigma;
        // Bell-shaped: the centre is the maximum, and one sigma out it has fallen to ~0.61.
        const float peak = at(out, W / 2, 1), oneSigma = at(out, W / 2 + int(sigma), 1);
        EXPECT_NEAR(oneSigma / peak, std::exp(-0.5), 0.08) << sigma;
    }
}

TEST(ImageBlur, TransparentEdgesGrowTheExtentAndKeepTheMass) {
    FloatImage img = FloatImage::make(10, 20, 8, 8, 1);
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) img.row(j)[i] = 1;
    const auto out = gaussianBlur(img, 4, EdgeMode::transparent);
    EXPECT_LT(out.x(), 10 - 11);
    EXPECT_GT(out.extent().maxX(), 18 + 11);
    double mass = 0;
    for (int j = 0; j < out.height(); ++j)
        for (int i = 0; i < out.width(); ++i) mass += out.row(j)[i];
    EXPECT_NEAR(mass, 64, 0.5);
    EXPECT_LT(at(out, 10, 20), 0.5f); // the corner lost half or more to the outside
    EXPECT_NEAR(at(out, out.x(), out.y()), 0, 1e-4);
}

TEST(ImageBlur, UnderHalfAPixelReturnsTheImage) {
    const auto img = field(5, 5, [](double x, double) { return float(x / 5); });
    const auto out = gaussianBlur(img, 0.2, EdgeMode::clamp);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(at(out, x, 2), at(img, x, 2));
}

TEST(ImageGradients, LinearRunsFromEndToEndAndHoldsBeyond) {
    const Color red{1, 0, 0, 1}, blue{0, 0, 1, 1};
    const auto g = linearGradient({0, 0, 100, 10}, {10, 0}, red, {90, 0}, blue);
    // B, G, R, A channels.
    EXPECT_NEAR(at(g, 0, 5, 2), 1, 1e-6);              // before the start: the first colour
    EXPECT_NEAR(at(g, 99, 5, 0), 1, 1e-6);             // past the end: the last colour
    EXPECT_NEAR(at(g, 49, 5, 2), 1 - 39.5 / 80, 1e-5); // centre 49.5: t = 39.5 / 80
    EXPECT_EQ(at(g, 49, 0, 2), at(g, 49, 9, 2));       // along x only
    const auto s =
        linearGradient({0, 0, 100, 1}, {0, 0}, red, {100, 0}, blue, GradientRamp::smooth);
    const double t = 25.5 / 100;
    EXPECT_NEAR(at(s, 25, 0, 0), t * t * (3 - 2 * t), 1e-5);
    EXPECT_TRUE(linearGradient({0, 0, 10, 10}, {3, 3}, red, {3, 3}, blue).empty());
}

TEST(ImageGradients, RadialHoldsInsideAndOutsideAndIsPremultiplied) {
    const Color white{1, 1, 1, 1}, clear{1, 1, 1, 0};
    const auto g = radialGradient({0, 0, 41, 41}, {20.5, 20.5}, 5, white, 15, clear);
    EXPECT_NEAR(at(g, 20, 20, 3), 1, 1e-6);
    EXPECT_NEAR(at(g, 0, 0, 3), 0, 1e-6);
    EXPECT_NEAR(at(g, 30, 20, 3), 0.5, 1e-6); // distance 10: halfway
    EXPECT_NEAR(at(g, 30, 20, 1), 0.5, 1e-6); // colour carries the opacity
    EXPECT_TRUE(radialGradient({0, 0, 4, 4}, {2, 2}, 3, white, 3, clear).empty());
}

// Where a distortion must sample from, checked on the ramp f(x, y) = (x + 2y) / 300.
void expectSamplesFrom(const FloatImage &out, const std::function<Point(Point)> &sourceOf) {
    for (int y = 5; y < 95; y += 7)
        for (int x = 5; x < 95; x += 6) {
            const Point q = sourceOf({x + 0.5, y + 0.5});
            const double qx = std::clamp(q.x, 0.5, 99.5), qy = std::clamp(q.y, 0.5, 99.5);
            ASSERT_NEAR(at(out, x, y), (qx + 2 * qy) / 300, 2e-4) << x << ", " << y;
        }
}

TEST(ImageDistortions, BumpMovesSamplesTowardsTheCentreAndLeavesTheOutsideAlone) {
    const auto ramp = field(100, 100, [](double x, double y) { return float((x + 2 * y) / 300); });
    const Point c{50, 50};
    const double R = 30, scale = 0.5;
    const auto out = bumpDistortion(ramp, c, R, scale);
    expectSamplesFrom(out, [&](Point p) {
        const double d = std::hypot(p.x - c.x, p.y - c.y);
        if (d >= R) return p;
        const double u = 1 - d / R, k = 1 - scale * u * u * (3 - 2 * u);
        return Point{c.x + (p.x - c.x) * k, c.y + (p.y - c.y) * k};
    });
    const auto none = bumpDistortion(ramp, c, R, 0);
    for (int x = 0; x < 100; x += 9) EXPECT_NEAR(at(none, x, 50), at(ramp, x, 50), 1e-6);
}

TEST(ImageDistortions, VortexTurnsMostAtTheCentre) {
    const auto ramp = field(100, 100, [](double x, double y) { return float((x + 2 * y) / 300); });
    const Point c{40, 55};
    const double R = 35, angle = std::numbers::pi / 3;
    const auto out = vortexDistortion(ramp, c, R, angle);
    expectSamplesFrom(out, [&](Point p) {
        const double dx = p.x - c.x, dy = p.y - c.y, d = std::hypot(dx, dy);
        if (d >= R) return p;
        const double u = 1 - d / R, th = angle * u * u * (3 - 2 * u);
        return Point{c.x + dx * std::cos(th) - dy * std::sin(th),
                     c.y + dx * std::sin(th) + dy * std::cos(th)};
    });
}

TEST(ImageDistortions, AChainResampledOnceMatchesTheStepsOneAfterAnother) {
    const auto ramp = field(100, 100, [](double x, double y) { return float((x + 2 * y) / 300); });
    const auto once = Distortions()
                          .bump({30, 40}, 45, 0.4)
                          .vortex({60, 55}, 50, 0.5)
                          .bump({80, 20}, 40, -0.3)
                          .applyTo(ramp);
    const auto steps =
        bumpDistortion(vortexDistortion(bumpDistortion(ramp, {30, 40}, 45, 0.4), {60, 55}, 50, 0.5),
                       {80, 20}, 40, -0.3);
    // The first step's output is no longer a linear ramp, so reading it between pixel centres
    // differs slightly from the exact point: a fraction of a pixel (the ramp rises 1/100 of its
    // range across 3 pixels).
    double worst = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            worst = std::max(worst, double(std::abs(at(once, x, y) - at(steps, x, y))));
    EXPECT_LT(worst, 1e-3);
    // A chain of one step is that step.
    const auto single = Distortions().vortex({60, 55}, 50, 0.5).applyTo(ramp);
    const auto direct = vortexDistortion(ramp, {60, 55}, 50, 0.5);
    for (int y = 0; y < 100; y += 7)
        for (int x = 0; x < 100; x += 7) ASSERT_EQ(at(single, x, y), at(direct, x, y));
}

TEST(ImageGradients, DrawingARadialGradientOverIsCompositingOne) {
    const Color c0{1, 0.5, 0, 0.9}, c1{1, 0.5, 0, 0};
    FloatImage base = field(50, 40, [](double x, double) { return float(x / 50); });
    FloatImage drawn = base.clone();
    drawRadialGradient(drawn, {20, 25}, 0, c0, 18, c1);
    FloatImage composited = base.clone();
    drawOver(composited, radialGradient({0, 0, 50, 40}, {20, 25}, 0, c0, 18, c1));
    for (int y = 0; y < 40; y += 2)
        for (int x = 0; x < 50; x += 2)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(at(drawn, x, y, c), at(composited, x, y, c), 1e-6);
}

TEST(ImageColorMap, PicksColoursAlongTheStripByBrightness) {
    FloatImage strip = FloatImage::make(0, 0, 3, 1, 4);
    const float colours[3][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}}; // B, G, R, A
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 4; ++c) strip.row(0)[4 * k + c] = colours[k][c];
    FloatImage grey = FloatImage::make(0, 0, 3, 1, 4); // black, mid-grey, white; opaque
    for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < 3; ++c) grey.row(0)[4 * i + c] = 0.5f * float(i);
        grey.row(0)[4 * i + 3] = 1;
    }
    const auto out = colorMap(grey, strip);
    EXPECT_NEAR(at(out, 0, 0, 0), 1, 1e-3); // black → first colour (blue)
    EXPECT_NEAR(at(out, 1, 0, 1), 1, 1e-3); // mid-grey → middle colour
    EXPECT_NEAR(at(out, 2, 0, 2), 1, 1e-3); // white → last colour
    EXPECT_NEAR(at(out, 2, 0, 3), 1, 1e-6);
}

TEST(ImageCompositing, OverFollowsThePremultipliedRuleOnTheUnion) {
    FloatImage bottom = FloatImage::make(0, 0, 2, 1, 4), top = FloatImage::make(1, 0, 2, 1, 4);
    for (int c = 0; c < 4; ++c) bottom.row(0)[c] = bottom.row(0)[4 + c] = c == 3 || c == 0 ? 1 : 0;
    for (int c = 0; c < 4; ++c) top.row(0)[c] = top.row(0)[4 + c] = c == 3 || c == 2 ? 0.5f : 0;
    const auto out = compositeOver(top, bottom);
    EXPECT_EQ(out.extent(), (Rect{0, 0, 3, 1}));
    EXPECT_FLOAT_EQ(at(out, 0, 0, 0), 1);   // bottom only
    EXPECT_FLOAT_EQ(at(out, 1, 0, 0), 0.5); // blue under half-opaque red
    EXPECT_FLOAT_EQ(at(out, 1, 0, 2), 0.5);
    EXPECT_FLOAT_EQ(at(out, 1, 0, 3), 1);
    EXPECT_FLOAT_EQ(at(out, 2, 0, 3), 0.5); // top only
}

TEST(ImageCompositing, BitmapOverRoundsLikeTheRule) {
    auto bottom = Image::solid(4, 2, 0, 0, 1, 1), top = Image::solid(2, 2, 1, 0, 0, 0.5);
    top = Image::make(top->bitmapRef(), {1, 0});
    const auto out = compositeOver(*top, *bottom);
    ASSERT_TRUE(out);
    const std::uint8_t *p = out->bitmap().row(0);
    EXPECT_EQ(p[0], 255);          // column 0: blue only
    EXPECT_NEAR(p[4 + 0], 127, 1); // blue · (1 − 0.5)
    EXPECT_NEAR(p[4 + 2], 128, 1); // red 0.5
    EXPECT_EQ(p[4 + 3], 255);
}

TEST(ImageCompositing, BlendWithMaskAlphaAndMatrix) {
    const auto fg = field(4, 1, [](double, double) { return 1.f; });
    const auto bg = field(4, 1, [](double, double) { return 0.f; });
    const auto mask = field(
        4, 1, [](double x, double) { return float(x / 4); }, 1);
    const auto out = blendWithMask(fg, bg, mask);
    for (int x = 0; x < 4; ++x) EXPECT_NEAR(at(out, x, 0, 1), (x + 0.5) / 4, 1e-6);

    FloatImage img = fg.clone();
    multiplyAlpha(img, 0.25);
    EXPECT_FLOAT_EQ(at(img, 0, 0, 3), 0.25);
    EXPECT_FLOAT_EQ(at(img, 0, 0, 2), 0.25);

    ColorMatrix swap; // red takes green's place; opacity halves
    swap.r = {0, 1, 0, 0};
    swap.a = {0, 0, 0, 0.5};
    FloatImage green = FloatImage::make(0, 0, 1, 1, 4);
    green.row(0)[1] = green.row(0)[3] = 1;
    const auto m = colorMatrix(green, swap);
    EXPECT_FLOAT_EQ(at(m, 0, 0, 2), 0.5); // red 1, premultiplied by 0.5
    EXPECT_FLOAT_EQ(at(m, 0, 0, 3), 0.5);
}

TEST(ImageGeometry, CropTranslateAndResample) {
    const auto ramp = field(
        10, 6, [](double x, double y) { return float(x + 10 * y); }, 1);
    const auto part = crop(ramp, {2.5, 1, 3, 2}); // rounded outwards: x 2..6
    EXPECT_EQ(part.extent(), (Rect{2, 1, 4, 2}));
    EXPECT_FLOAT_EQ(at(part, 2, 1), at(ramp, 2, 1));
    const auto moved = translated(part.clone(), 5, -1);
    EXPECT_FLOAT_EQ(at(moved, 7, 0), at(ramp, 2, 1));
    // Doubling about the origin: destination (2x, 2y) shows source (x, y); linear in between.
    const auto big = affineResample(ramp, Affine::scale(2, 2), {0, 0, 20, 12}, EdgeMode::clamp);
    EXPECT_NEAR(at(big, 9, 5), (9.5 / 2) + 10 * (5.5 / 2), 1e-4);
    EXPECT_TRUE(crop(ramp, {20, 20, 2, 2}).empty());
}

TEST(ImageContext, DithersHalfwayValuesAndKeepsWholeBytesExact) {
    const auto half = field(8, 8, [](double, double) { return 0.5f; });
    const auto img = ImageContext().createImage(half, {0, 0, 8, 8});
    ASSERT_TRUE(img);
    int sum = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int v = img->bitmap().row(j)[4 * i];
            EXPECT_TRUE(v == 127 || v == 128) << v;
            sum += v;
        }
    EXPECT_NEAR(sum / 16.0, 127.5, 0.01);
    const auto exact = field(8, 8, [](double, double) { return 79 / 255.f; });
    const auto e = ImageContext().createImage(exact, {-2, -2, 12, 12});
    EXPECT_EQ(e->extent(), (Rect{-2, -2, 12, 12}));
    EXPECT_EQ(e->bitmap().row(5)[4 * 5], 79);
    EXPECT_EQ(e->bitmap().row(0)[3], 0);          // outside the image: transparent
    EXPECT_EQ(e->bitmap().row(5)[4 * 5 + 3], 79); // opacity 79/255 too, colour never above it
}

TEST(ImageFile, DecodesPngAndJpegByContentAndRefusesOtherFiles) {
    testing::TempDir dir;
    auto pb = PixelBuffer::create(16, 8, PixelFormat::bgra8);
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 16; ++i) {
            std::uint8_t *p = pb->row(j) + 4 * i;
            p[0] = 200, p[1] = 40, p[2] = i < 8 ? 30 : 220, p[3] = 255;
        }
    ASSERT_TRUE(writePng(dir.path() / "a.jpg", *pb)); // a PNG with the wrong extension
    ASSERT_TRUE(writeJpeg(dir.path() / "b.png", *pb, 95));
    for (const char *name : {"a.jpg", "b.png"}) {
        auto img = decodeImageFile(dir.path() / name);
        ASSERT_TRUE(img) << img.error().message;
        EXPECT_EQ((*img)->bitmap().width(), 16);
        const std::uint8_t *p = (*img)->bitmap().row(4);
        EXPECT_NEAR(p[4 * 2 + 2], 30, 8) << name;
        EXPECT_NEAR(p[4 * 13 + 2], 220, 8) << name;
        EXPECT_EQ(p[3], 255);
    }
    std::ofstream(dir.path() / "c.jpg") << "not a picture";
    auto bad = decodeImageFile(dir.path() / "c.jpg");
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().message.find("c.jpg"), std::string::npos);
    // A JPEG cut short after its header: an error, never a crash.
    {
        std::ifstream in(dir.path() / "b.png", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(dir.path() / "d.jpg", std::ios::binary) << bytes.substr(0, 200);
    }
    auto cut = decodeImageFile(dir.path() / "d.jpg");
    if (cut) { // libjpeg may fill in a truncated scan; then the size must still be right
        EXPECT_EQ((*cut)->bitmap().width(), 16);
    }
    EXPECT_FALSE(decodeImageFile(dir.path() / "missing.png"));
}

} // namespace
} // namespace qv::platform
