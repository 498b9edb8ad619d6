// The fast kernel against the step-by-step reference on randomised scenes.
#include "scene_pass_reference.h"

#include "Compositor/engine/scene_pass_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace qv {
namespace {

using platform::PixelBuffer;
using platform::PixelFormat;
using platform::gfx::Texture;
using platform::gfx::TextureRef;

struct Rng {
    std::mt19937 gen;
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen); }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    bool chance(double p) { return std::bernoulli_distribution(p)(gen); }
};

// Random premultiplied pixels; `clearShare` of them fully transparent, the rest with alpha
// in [minAlpha, 255].
TextureRef randomTexture(Rng &rng, int w, int h, double clearShare, int minAlpha) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t *p = pb->row(y) + 4 * x;
            if (rng.chance(clearShare)) continue;
            const int a = rng.integer(minAlpha, 255);
            p[3] = static_cast<std::uint8_t>(a);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(rng.integer(0, a));
        }
    return std::make_shared<Texture>(pb);
}

TextureRef randomMask(Rng &rng, int w, int h) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::r8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pb->row(y)[x] = static_cast<std::uint8_t>(rng.integer(0, 255));
    return std::make_shared<Texture>(pb);
}

struct RandomScene {
    SceneUniforms u{};
    std::vector<MaskRect> masks;
    std::array<TextureRef, sceneSlotCount> tex;
};

RandomScene randomScene(Rng &rng) {
    RandomScene s;
    SceneUniforms &u = s.u;
    const int W = rng.integer(40, 120), H = rng.integer(30, 90);
    u.canvasW = float(W), u.canvasH = float(H);
    const float tx = std::floor(rng.uniform(0, W * 0.3f)),
                ty = std::floor(rng.uniform(0, H * 0.3f));
    const float tw = std::floor(rng.uniform(W * 0.4f, W - tx)),
                th = std::floor(rng.uniform(H * 0.4f, H - ty));
    u.tX = tx, u.tY = ty, u.tW = tw, u.tH = th;
    const float barH = rng.chance(0.5) ? rng.uniform(2, th * 0.3f) : 0;
    u.barY0 = ty + th - barH, u.barY1 = ty + th;
    u.srX = tx, u.srY = ty, u.srW = tw, u.srH = th - barH;
    u.radius = rng.chance(0.7) ? rng.uniform(0, std::min(tw, th) / 2) : 0;
    const int texW = rng.integer(20, 200), texH = rng.integer(20, 160);
    u.screenTexW = float(texW), u.screenTexH = float(texH);
    u.screenW = u.screenTexW, u.screenH = u.screenTexH;
    u.cropX = rng.uniform(0, 4), u.cropY = rng.uniform(0, 4);
    u.contentW = u.screenW - 2 * u.cropX, u.contentH = u.screenH - 2 * u.cropY;
    u.winX = 0, u.winY = 0, u.winW = u.screenW, u.winH = u.screenH;
    if (rng.chance(0.3)) {
        u.letterbox = rng.chance(0.5) ? 1 : 0;
        u.winW = std::floor(rng.uniform(u.screenW * 0.4f, u.screenW));
        u.winH = std::floor(rng.uniform(u.screenH * 0.4f, u.screenH));
        u.winX = std::floor(rng.uniform(0, u.screenTexW - u.winW));
        u.winY = std::floor(rng.uniform(0, u.screenTexH - u.winH));
    }
    u.hasScreen = rng.chance(0.9) ? 1 : 0;
    u.zoomS = 1;
    if (rng.chance(0.5)) {
        u.zoomActive = 1;
        u.zoomS = rng.uniform(1.01f, 3);
        u.focusX = rng.uniform(0, u.contentW), u.focusY = rng.uniform(0, u.contentH);
    }
    const int cursorW = rng.integer(4, 24), cursorH = rng.integer(4, 24);
    if (rng.chance(0.6)) {
        u.hasCursor = 1;
        u.curX = rng.uniform(-10, u.contentW), u.curY = rng.uniform(-10, u.contentH);
        u.curW = rng.uniform(5, u.contentW / 2), u.curH = rng.uniform(5, u.contentH / 2);
    }
    if (rng.chance(0.6)) {
        u.hasClick = 1;
        u.clickKind = float(rng.integer(1, 3));
        u.clickCX = rng.uniform(0, u.contentW), u.clickCY = rng.uniform(0, u.contentH);
        u.clickRadius = rng.uniform(1, u.contentW / 3), u.clickLineW = rng.uniform(0.5f, 6);
        u.clickAlpha = rng.uniform(0, 1);
    }
    const int maskCount = rng.integer(0, 8);
    for (int k = 0; k < maskCount; ++k)
        s.masks.push_back({rng.uniform(0, u.contentW), rng.uniform(0, u.contentH),
                           rng.uniform(1, u.contentW / 3), rng.uniform(1, u.contentH / 3)});
    u.maskCount = float(maskCount);
    if (s.masks.empty()) s.masks.push_back({0, 0, 0, 0});
    u.hasOverlay = rng.chance(0.5) ? 1 : 0;
    const int camW = rng.integer(8, 64), camH = rng.integer(8, 64);
    u.wdX = 0, u.wdY = 0, u.wdW = 1, u.wdH = 1, u.wAlpha = 1, u.camW = 1, u.camH = 1;
    if (rng.chance(0.5)) {
        u.hasWebcam = 1;
        u.wdW = rng.uniform(8, W / 2.0f), u.wdH = rng.uniform(8, H / 2.0f);
        u.wdX = rng.uniform(0, W - u.wdW), u.wdY = rng.uniform(0, H - u.wdH);
        u.wShape = float(rng.integer(0, 3));
        u.wRadius = rng.uniform(0, std::min(u.wdW, u.wdH) / 2);
        u.wAlpha = rng.uniform(0.01f, 1);
        u.wRemoveBg = rng.chance(0.5) ? 1 : 0;
        u.camW = float(camW), u.camH = float(camH);
        u.hasShadow = rng.chance(0.5) ? 1 : 0;
        u.hasHairline = rng.chance(0.5) ? 1 : 0;
    }

    auto empty = std::make_shared<Texture>(PixelBuffer::create(1, 1, PixelFormat::bgra8));
    // Most layers carry content runs, as the compositor's cached layers do, so that the fast
    // path and the full path are both taken.
    auto canvasLayer = [&](double clear) {
        if (rng.chance(0.2)) return empty;
        TextureRef t = randomTexture(rng, W, H, clear, 1);
        if (rng.chance(0.8)) t->setContentRuns(platform::gfx::computeContentRuns(t->buffer()));
        return t;
    };
    s.tex[slotBehind] = randomTexture(rng, W, H, 0, 255);
    s.tex[slotScreen] = randomTexture(rng, texW, texH, 0.1, 1);
    s.tex[slotChrome] = canvasLayer(0.1);
    s.tex[slotBorder] = canvasLayer(0.97);
    s.tex[slotCursor] = randomTexture(rng, cursorW, cursorH, 0.3, 1);
    // A layer whose size differs from the canvas takes the sampled path.
    s.tex[slotOverlay] =
        rng.chance(0.3) ? randomTexture(rng, W / 2 + 1, H / 2 + 1, 0.5, 1) : canvasLayer(0.7);
    s.tex[slotCamera] = randomTexture(rng, camW, camH, 0, 255);
    s.tex[slotPersonMask] = randomMask(rng, camW, camH);
    s.tex[slotCamShadow] = canvasLayer(0.5);
    s.tex[slotCamHairline] = canvasLayer(0.8);
    return s;
}

class ScenePassDifferential : public ::testing::TestWithParam<ScenePassVariant> {
protected:
    void SetUp() override {
        if (!setScenePassVariantForTesting(GetParam()))
            GTEST_SKIP() << "this CPU cannot run the variant";
    }
    void TearDown() override { setScenePassVariantForTesting(ScenePassVariant::automatic); }
};

INSTANTIATE_TEST_SUITE_P(Variants, ScenePassDifferential,
                         ::testing::Values(ScenePassVariant::base, ScenePassVariant::avx2),
                         [](const auto &info) {
                             return info.param == ScenePassVariant::base ? "base" : "avx2";
                         });

TEST_P(ScenePassDifferential, KernelAgreesWithReferenceOnRandomScenes) {
    Rng rng{std::mt19937(20261208)};
    int worst = 0;
    for (int scene = 0; scene < 300; ++scene) {
        const RandomScene s = randomScene(rng);
        const int W = int(s.u.canvasW), H = int(s.u.canvasH);

        platform::gfx::FragmentBindings b;
        b.buffers[0].resize(sizeof s.u);
        std::memcpy(b.buffers[0].data(), &s.u, sizeof s.u);
        b.buffers[1].resize(s.masks.size() * sizeof(MaskRect));
        std::memcpy(b.buffers[1].data(), s.masks.data(), b.buffers[1].size());
        testing::SceneTextures refTex;
        for (int k = 0; k < sceneSlotCount; ++k) {
            b.textures[k] = s.tex[k];
            refTex[k] = s.tex[k].get();
        }
        Texture fast(PixelBuffer::create(W, H, PixelFormat::bgra8));
        // Two bands, as the device would split it.
        sceneFragmentProgram(b, fast, 0, H / 2);
        sceneFragmentProgram(b, fast, H / 2, H);
        auto ref = PixelBuffer::create(W, H, PixelFormat::bgra8);
        testing::renderSceneReference(s.u, s.masks, refTex, *ref);

        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int d = std::abs(int(fast.buffer().row(y)[4 * x + c]) -
                                           int(ref->row(y)[4 * x + c]));
                    worst = std::max(worst, d);
                    ASSERT_LE(d, 1)
                        << "scene " << scene << " pixel (" << x << ", " << y << ") channel " << c;
                }
    }
    RecordProperty("worst_difference", worst);
}

} // namespace
} // namespace qv
