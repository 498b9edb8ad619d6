// The image-filter renderer: the same picture as the compositing pass on random scenes, and the
// blurred privacy masks only it can draw.
#include "Compositor/engine/person_masks.h"
#include "Compositor/engine/result_cache.h"
#include "Compositor/scene/filter_renderer.h"
#include "platform/image/image_ops.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

namespace qv {
namespace {

using platform::PixelBuffer;
using platform::PixelBufferRef;
using platform::PixelFormat;
using platform::media::FrameRequest;
using platform::media::TrackID;

constexpr std::int64_t kAt = 1000;

struct Rng {
    std::mt19937 gen;
    double uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(gen); }
    int integer(int lo, int hi) { return std::uniform_int_distribution<>(lo, hi)(gen); }
    bool chance(double p) { return uniform(0, 1) < p; }
};

// Detail everywhere: a smooth ramp under sharp-edged blocks of random colours.
PixelBufferRef patternedPicture(Rng &rng, int w, int h) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t *p = pb->row(y) + 4 * x;
            p[0] = std::uint8_t(255 * x / std::max(w - 1, 1));
            p[1] = std::uint8_t(255 * y / std::max(h - 1, 1));
            p[2] = 128, p[3] = 255;
        }
    for (int k = rng.integer(3, 8); k > 0; --k) {
        const int x0 = rng.integer(0, w - 1), y0 = rng.integer(0, h - 1);
        const int x1 = std::min(w, x0 + rng.integer(2, w / 2 + 2)),
                  y1 = std::min(h, y0 + rng.integer(2, h / 2 + 2));
        const std::uint8_t c[3] = {std::uint8_t(rng.integer(0, 255)),
                                   std::uint8_t(rng.integer(0, 255)),
                                   std::uint8_t(rng.integer(0, 255))};
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                std::uint8_t *p = pb->row(y) + 4 * x;
                p[0] = c[0], p[1] = c[1], p[2] = c[2];
            }
    }
    return pb;
}

struct Scene {
    std::shared_ptr<const SceneInstruction> instruction;
    PixelBufferRef screen, webcam;
    std::string description;
};

Scene randomScene(Rng &rng) {
    std::ostringstream what;
    testing::InstructionPlan plan;
    Edits &e = plan.edits;
    e.scene.backgroundKind =
        rng.chance(0.5) ? Edits::BackgroundKind::solid : Edits::BackgroundKind::gradient;
    e.scene.paddingPercent = rng.chance(0.2) ? 0 : rng.uniform(2, 14);
    e.scene.frameRadius = rng.chance(0.2) ? 0 : rng.uniform(2, 40);
    e.scene.shadowStrength = rng.chance(0.5) ? 0.5 : 0;
    e.scene.chromeStyle = Edits::ChromeStyle(rng.integer(0, 2));
    e.scene.showBorder = rng.chance(0.5);
    e.scene.clickEffect = Edits::ClickEffect(rng.integer(0, 3));
    e.scene.cursorShape = Edits::CursorShape(rng.integer(0, 4));
    e.scene.cursorSize = rng.uniform(0.5, 3);
    what << "padding " << e.scene.paddingPercent << ", radius " << e.scene.frameRadius
         << ", chrome " << int(e.scene.chromeStyle) << ", border " << e.scene.showBorder
         << ", click " << int(e.scene.clickEffect);

    const int W = rng.integer(120, 260), H = rng.integer(80, 180);
    plan.renderSize = {double(W), double(H)};
    int sw = rng.integer(60, 360), sh = rng.integer(50, 240);
    plan.screenSize = {double(sw), double(sh)};
    // A screen picture at another density than the screen's points, now and then.
    const double density = rng.chance(0.25) ? 2 : 1;
    int texW = int(sw * density), texH = int(sh * density);
    if (rng.chance(0.3)) {
        WindowCrop crop;
        crop.captureWidth = texW = int(sw * rng.uniform(1.1, 1.6));
        crop.captureHeight = texH = int(sh * rng.uniform(1.1, 1.6));
        const double w = sw * rng.uniform(0.6, 1.0), h = sh * rng.uniform(0.6, 1.0);
        crop.samples = {{0, rng.uniform(0, texW - w), rng.uniform(0, texH - h), w, h}};
        crop.canvasMode = rng.chance(0.5) ? "maxObserved" : "initial";
        plan.windowCrop = crop;
        what << ", window crop " << *crop.canvasMode;
    }
    if (rng.chance(0.3)) {
        e.scene.crop = {rng.uniform(0, 0.2), rng.uniform(0, 0.2), rng.uniform(0.6, 0.8),
                        rng.uniform(0.6, 0.8)};
        what << ", cropped";
    }
    if (rng.chance(0.5)) {
        e.zooms = {
            {0, 5000, rng.uniform(1.2, 2.6), 1, rng.uniform(0.1, 0.9), rng.uniform(0.1, 0.9)}};
        what << ", zoom " << e.zooms[0].scale;
    }
    for (int k = rng.integer(0, 3); k > 0; --k) {
        const double w = rng.uniform(0.05, 0.4), h = rng.uniform(0.05, 0.4);
        e.masks.push_back({"m" + std::to_string(k),
                           0,
                           5000,
                           Edits::MaskStyle::solid,
                           {{0, rng.uniform(0, 1 - w), rng.uniform(0, 1 - h), w, h}}});
    }
    what << ", " << e.masks.size() << " masks";
    if (rng.chance(0.5)) {
        e.captions = {
            {"c", 0, 5000, rng.chance(0.5) ? "Hello there" : "A longer caption line", {}}};
        what << ", caption";
    }
    for (int k = 0; k <= 20; ++k)
        plan.cursorPath.push_back({k * 100, rng.uniform(0, sw), rng.uniform(0, sh)});
    if (rng.chance(0.7))
        plan.clicks = {{kAt - rng.integer(0, 150), rng.uniform(0, sw), rng.uniform(0, sh)}};

    Scene s;
    if (rng.chance(0.6)) {
        plan.webcamTrackID = 2;
        e.scene.webcamPosition = Edits::WebcamPosition(rng.integer(0, 6));
        e.scene.webcamShape = Edits::WebcamShape(rng.integer(0, 3));
        e.scene.webcamSize = rng.uniform(0.15, 0.4);
        e.scene.webcamRemoveBackground = rng.chance(0.5);
        s.webcam = patternedPicture(rng, rng.integer(40, 160), rng.integer(30, 120));
        what << ", webcam " << int(e.scene.webcamPosition) << "/" << int(e.scene.webcamShape)
             << (e.scene.webcamRemoveBackground ? " cut out" : "");
    }
    s.screen = patternedPicture(rng, texW, texH);
    s.instruction = testing::makeInstruction(std::move(plan));
    s.description = what.str();
    return s;
}

PixelBufferRef passFrame(const Scene &s) {
    MetalVideoCompositor c;
    std::map<TrackID, PixelBufferRef> sources{{1, s.screen}};
    if (s.webcam) sources[2] = s.webcam;
    const Size size = s.instruction->renderSize();
    auto request =
        std::make_shared<FrameRequest>(platform::media::Time{kAt, 1000}, s.instruction,
                                       std::make_shared<platform::media::FixedSizeRenderContext>(
                                           int(size.width), int(size.height)),
                                       std::move(sources));
    c.startRequest(request);
    auto outcome = request->wait();
    EXPECT_EQ(c.diagnostics().gpuFrames, 1);
    auto *frame = std::get_if<PixelBufferRef>(&outcome);
    return frame ? *frame : nullptr;
}

// The image-filter renderer's picture, with the background and person mask its pipeline gives.
PixelBufferRef filterFrame(const Scene &s) {
    ResultCache cache;
    const Size size = s.instruction->renderSize();
    const auto &bg = cache.background(s.instruction->sharedEdits(), int(size.width),
                                      int(size.height), *s.instruction);
    PersonMasks masks(makePersonSegmentation());
    const auto mask =
        masks.filterMask(s.webcam, s.instruction->edits().effectiveScene().webcamRemoveBackground);
    const platform::FloatImage image =
        SceneRenderer::render(s.screen, s.webcam, bg, *s.instruction, mask, kAt);
    if (image.empty()) return nullptr;
    const auto bitmap = platform::ImageContext{}.createImage(image, image.extent());
    return bitmap ? bitmap->bitmapRef() : nullptr;
}

struct Difference {
    int worst = 0, x = 0, y = 0;
};

Difference difference(const PixelBuffer &a, const PixelBuffer &b) {
    Difference d;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = std::abs(a.row(y)[4 * x + c] - b.row(y)[4 * x + c]);
                if (v > d.worst) d = {v, x, y};
            }
    return d;
}

TEST(FilterRenderer, GivesThePassPictureOnRandomScenes) {
    // Both sample every source once through the same geometry; what may differ is rounding:
    // the resampler's 1/32-pixel weights (at most 1/64 of a step between neighbours, 4 levels
    // on a black-to-white edge), the ordered dither of the final rounding (1 level), and the
    // person mask, which the filter path stretches onto the camera's pixels before sampling.
    // These scenes differ by 3 levels at most; a misplaced layer differs by far more.
    constexpr int kTolerance = 4;
    Rng rng{std::mt19937(20261208)};
    for (int round = 0; round < 24; ++round) {
        const Scene s = randomScene(rng);
        SCOPED_TRACE("scene " + std::to_string(round) + ": " + s.description);
        const auto pass = passFrame(s);
        const auto filters = filterFrame(s);
        ASSERT_TRUE(pass && filters);
        ASSERT_EQ(pass->width(), filters->width());
        ASSERT_EQ(pass->height(), filters->height());
        const Difference d = difference(*pass, *filters);
        EXPECT_LE(d.worst, kTolerance) << "at (" << d.x << ", " << d.y << ")";
    }
}

// --- Blurred masks ---

// Black and white squares of 6 pixels.
PixelBufferRef checkerboard(int w, int h) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t v = ((x / 6 + y / 6) % 2) ? 230 : 20;
            std::uint8_t *p = pb->row(y) + 4 * x;
            p[0] = p[1] = p[2] = v, p[3] = 255;
        }
    return pb;
}

struct Stats {
    double mean = 0, deviation = 0;
    int darkest = 255;
};

Stats greyStats(const PixelBuffer &pb, int x0, int y0, int x1, int y1) {
    double sum = 0, sum2 = 0;
    int n = 0, darkest = 255;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const int v = pb.row(y)[4 * x + 1];
            sum += v, sum2 += double(v) * v, ++n;
            darkest = std::min(darkest, v);
        }
    const double mean = sum / n;
    return {mean, std::sqrt(std::max(0.0, sum2 / n - mean * mean)), darkest};
}

TEST(FilterRenderer, BlurMaskSoftensItsRectangleAndLeavesTheRestAlone) {
    // A 108 × 108 source fills a 100 × 100 canvas one to one; the mask covers content pixels
    // 30..70 on both axes (rows from the top).
    Edits blurred = testing::flatEdits();
    blurred.masks = {{"secret", 0, 5000, Edits::MaskStyle::blur, {{0, 0.3, 0.3, 0.4, 0.4}}}};
    const auto screen = checkerboard(108, 108);
    auto frameOf = [&](const Edits &e) {
        MetalVideoCompositor c;
        auto I = testing::makeInstruction(
            {.edits = e, .renderSize = {100, 100}, .screenSize = {108, 108}});
        return testing::renderFrame(c, I, kAt, screen);
    };
    const auto withBlur = frameOf(blurred);
    const auto plain = frameOf(testing::flatEdits());
    ASSERT_TRUE(withBlur && plain);

    const Stats inside = greyStats(*withBlur, 32, 32, 68, 68);
    const Stats before = greyStats(*plain, 32, 32, 68, 68);
    // Sigma 0.06 × 40 = 2.4 pixels over 6-pixel squares: the squares melt into grey.
    EXPECT_LT(inside.deviation, before.deviation / 4);
    EXPECT_NEAR(inside.mean, before.mean, 8); // no dark fill: the same light on average
    EXPECT_GT(inside.darkest, 60);

    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            if (x >= 29 && x < 71 && y >= 29 && y < 71) continue;
            ASSERT_TRUE(testing::rgbNear(*withBlur, x, y, testing::rgbAt(*plain, x, y), 5));
        }
}

TEST(FilterRenderer, WebcamOnlyFrameIsTheBackgroundWithTheBubble) {
    Edits e = testing::flatEdits("#204060");
    e.scene.paddingPercent = 10;
    e.scene.shadowStrength = 0.8;
    e.scene.chromeStyle = Edits::ChromeStyle::browser;
    e.scene.showBorder = true;
    e.scene.webcamPosition = Edits::WebcamPosition::full;
    e.scene.webcamShape = Edits::WebcamShape::square;
    e.scene.webcamSize = 0.2; // half the canvas on each axis, centred
    auto I = testing::makeInstruction(
        {.edits = e, .renderSize = {160, 100}, .screenSize = {160, 100}, .webcamTrackID = 2});
    ResultCache cache;
    const auto &bg = cache.background(I->sharedEdits(), 160, 100, *I);
    const auto image = SceneRenderer::render(nullptr, testing::solidBuffer(32, 20, 250, 200, 10),
                                             bg, *I, nullptr, kAt);
    ASSERT_FALSE(image.empty());
    const auto bitmap = platform::ImageContext{}.createImage(image, image.extent());
    ASSERT_TRUE(bitmap);
    const PixelBuffer &pb = bitmap->bitmap();
    EXPECT_TRUE(testing::rgbNear(pb, 80, 50, {250, 200, 10}));
    // No frame, chrome, border or shadow around the missing screen: background only.
    for (const auto &[x, y] : {std::pair{2, 2}, {20, 12}, {150, 90}, {30, 50}, {120, 8}})
        EXPECT_TRUE(testing::rgbNear(pb, x, y, {32, 64, 96})) << x << ", " << y;
}

} // namespace
} // namespace qv
