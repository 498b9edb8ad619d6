// Pictures of the compositing pass. Most go through the whole frame pipeline
// (MetalVideoCompositor with a FrameRequest); the edge cases that need a screen rectangle off
// the pixel grid drive the pass directly with a hand-made parameter block.
//
// The usual scene: a 108 × 108 source, so the content is 100 × 100 and fills a 100 × 100
// canvas one to one: canvas pixel (i, j) shows source texel (i + 4, j + 4). The background is
// the flat #102030.
#include "Compositor/engine/scene_pass_kernel.h"
#include "Compositor/engine/scene_uniforms.h"
#include "Compositor/scene/scene_renderer.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace qv {
namespace {

using platform::PixelBuffer;
using platform::PixelBufferRef;
using platform::PixelFormat;
using RGB = std::array<int, 3>;
using testing::flatEdits;
using testing::makeInstruction;
using testing::rgbNear;

constexpr RGB kBackground{16, 32, 48};
constexpr RGB kOrange{200, 100, 50};
constexpr RGB kMask{13, 13, 15}; // (0.05, 0.05, 0.06)
constexpr RGB kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};
constexpr RGB kMagenta{255, 0, 255};

PixelBufferRef picture(int w, int h, const std::function<RGB(int col, int row)> &colour) {
    auto pb = PixelBuffer::create(w, h, PixelFormat::bgra8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGB c = colour(x, y);
            std::uint8_t *p = pb->row(y) + 4 * x;
            p[0] = std::uint8_t(c[2]), p[1] = std::uint8_t(c[1]), p[2] = std::uint8_t(c[0]);
            p[3] = 255;
        }
    return pb;
}

PixelBufferRef orangeScreen(int w = 108, int h = 108) {
    return testing::solidBuffer(w, h, 200, 100, 50);
}

Edits::Mask solidMask(double x, double y, double w, double h) {
    return Edits::Mask{"m", 0, 60000, Edits::MaskStyle::solid, {{0, x, y, w, h}}};
}

PixelBufferRef render(Edits edits, PixelBufferRef screen, Size canvas = {100, 100},
                      Size source = {108, 108}, std::optional<WindowCrop> crop = std::nullopt,
                      std::int64_t ms = 0) {
    MetalVideoCompositor c;
    auto out = testing::renderFrame(c,
                                    makeInstruction({.edits = std::move(edits),
                                                     .renderSize = canvas,
                                                     .screenSize = source,
                                                     .windowCrop = std::move(crop)}),
                                    ms, std::move(screen));
    EXPECT_TRUE(out) << "the frame failed";
    return out;
}

TEST(ScenePicture, ScreenRectangleIsHalfOpen) {
    // 10 % padding of 120 puts the frame at columns and rows 12 ... 107.
    Edits e = flatEdits();
    e.scene.paddingPercent = 10;
    e.scene.shadowStrength = 0; // keep the background around the frame flat
    const auto out = render(e, orangeScreen(), {120, 120});
    ASSERT_TRUE(out);
    for (int k : {12, 60, 107}) {
        EXPECT_TRUE(rgbNear(*out, 107, k, kOrange));     // last column inside
        EXPECT_TRUE(rgbNear(*out, 108, k, kBackground)); // starts at the right edge
        EXPECT_TRUE(rgbNear(*out, 11, k, kBackground));
        EXPECT_TRUE(rgbNear(*out, k, 12, kOrange));     // top row inside
        EXPECT_TRUE(rgbNear(*out, k, 11, kBackground)); // ends at the top edge
        EXPECT_TRUE(rgbNear(*out, k, 108, kBackground));
    }
}

// The pass on its own, for parameter blocks the placement never produces.
struct DirectPass {
    SceneUniforms u{};
    std::vector<MaskRect> masks{{0, 0, 0, 0}};
    platform::gfx::TextureRef screen;

    PixelBufferRef run() const {
        const int W = int(u.canvasW), H = int(u.canvasH);
        auto tex = [](PixelBufferRef pb) { return std::make_shared<platform::gfx::Texture>(pb); };
        platform::gfx::FragmentBindings b;
        b.buffers[0].resize(sizeof u);
        std::memcpy(b.buffers[0].data(), &u, sizeof u);
        b.buffers[1].resize(masks.size() * sizeof(MaskRect));
        std::memcpy(b.buffers[1].data(), masks.data(), b.buffers[1].size());
        const auto empty = tex(PixelBuffer::create(1, 1, PixelFormat::bgra8));
        for (int k = 0; k < sceneSlotCount; ++k) b.textures[k] = empty;
        b.textures[slotBehind] = tex(testing::solidBuffer(W, H, 16, 32, 48));
        b.textures[slotScreen] = screen;
        platform::gfx::Texture target(PixelBuffer::create(W, H, PixelFormat::bgra8));
        sceneFragmentProgram(b, target, 0, H);
        return target.bufferRef();
    }
};

// A 16 × 16 canvas whose frame is the whole canvas and whose source is a flat orange 16 × 16.
DirectPass flatDirectPass() {
    DirectPass d;
    SceneUniforms &u = d.u;
    u.canvasW = u.canvasH = 16;
    u.srW = u.srH = u.tW = u.tH = 16;
    u.contentW = u.contentH = u.screenTexW = u.screenTexH = 16;
    u.winW = u.winH = u.screenW = u.screenH = 16;
    u.barY0 = u.barY1 = 16;
    u.zoomS = 1;
    u.hasScreen = 1;
    u.wdW = u.wdH = u.wAlpha = u.camW = u.camH = 1;
    d.screen = std::make_shared<platform::gfx::Texture>(orangeScreen(16, 16));
    return d;
}

TEST(ScenePicture, PixelCentreOnTheScreenEdgeIsOutside) {
    DirectPass d = flatDirectPass();
    // The right and top edges run through the centres of column 10 and row 5 (y-up 10.5).
    d.u.srW = d.u.srH = 10.5f;
    const auto out = d.run();
    EXPECT_TRUE(rgbNear(*out, 9, 12, kOrange));
    EXPECT_TRUE(rgbNear(*out, 10, 12, kBackground));
    EXPECT_TRUE(rgbNear(*out, 3, 6, kOrange));
    EXPECT_TRUE(rgbNear(*out, 3, 5, kBackground));
}

TEST(ScenePicture, ContentPointOnTheContentEdgeAfterZoomIsInside) {
    // Zoom 2: column 15 (x 15.5) reads content x (15.5 − 8) / 2 + focusX.
    DirectPass d = flatDirectPass();
    d.u.zoomActive = 1;
    d.u.zoomS = 2;
    d.u.focusY = 8;
    d.u.focusX = 12.25f; // exactly the content's right edge, 16
    EXPECT_TRUE(rgbNear(*d.run(), 15, 8, kOrange));
    d.u.focusX = 12.5f; // past it: nothing of the content is there
    EXPECT_TRUE(rgbNear(*d.run(), 15, 8, kBackground));
}

// Content quadrants red, green (top), blue, yellow (bottom) inside a 25-pixel magenta ring.
RGB quadrantColour(int col, int row) {
    const int x = col - 4, y = row - 4; // content pixel, top-down
    if (x < 25 || x >= 75 || y < 25 || y >= 75) return kMagenta;
    if (y < 50) return x < 50 ? kRed : kGreen;
    return x < 50 ? kBlue : kYellow;
}

TEST(ScenePicture, ZoomTwoOnTheCentreShowsTheMiddleHalf) {
    Edits e = flatEdits();
    e.zooms = {Edits::Zoom{0, 10000, 2, 1, 0.5, 0.5}}; // full scale after a 400 ms ease
    const auto screen = picture(108, 108, quadrantColour);
    MetalVideoCompositor c;
    const auto I =
        makeInstruction({.edits = e, .renderSize = {100, 100}, .screenSize = {108, 108}});

    const auto plain = testing::renderFrame(c, I, 20000, screen); // after the zoom
    ASSERT_TRUE(plain);
    EXPECT_TRUE(rgbNear(*plain, 10, 10, kMagenta));
    EXPECT_TRUE(rgbNear(*plain, 30, 30, kRed));
    EXPECT_TRUE(rgbNear(*plain, 70, 70, kYellow));

    const auto out = testing::renderFrame(c, I, 5000, screen);
    ASSERT_TRUE(out);
    // Columns and rows 1 ... 98 see content 25.25 ... 74.75 only, so never the ring; away
    // from the centre lines every pixel is one flat quadrant colour.
    for (int j = 1; j <= 98; ++j)
        for (int i = 1; i <= 98; ++i) {
            if (i == 49 || i == 50 || j == 49 || j == 50) continue;
            const RGB want = j < 50 ? (i < 50 ? kRed : kGreen) : (i < 50 ? kBlue : kYellow);
            ASSERT_TRUE(rgbNear(*out, i, j, want));
        }
    // The content centre stays at the canvas centre: columns 49 and 50 mix the two quadrants
    // 3:1 and 1:3 (content x 49.75 and 50.25).
    EXPECT_TRUE(rgbNear(*out, 49, 25, {191, 64, 0}, 2));
    EXPECT_TRUE(rgbNear(*out, 50, 25, {64, 191, 0}, 2));
    EXPECT_TRUE(rgbNear(*out, 25, 49, {191, 0, 64}, 2));
    EXPECT_TRUE(rgbNear(*out, 25, 50, {64, 0, 191}, 2));
    // The edge column reads content x 25.25: a quarter of the ring's last pixel.
    EXPECT_TRUE(rgbNear(*out, 0, 25, {255, 0, 64}, 2));
}

TEST(ScenePicture, MaxObservedShowsTheBackgroundOutsideTheLiveWindow) {
    // The live window is the top-left 60 × 60 of the capture: source x < 60 and the top 60
    // rows, that is canvas columns and rows 0 ... 55. The mask covers columns and rows
    // 40 ... 79 and reaches out of the window.
    Edits e = flatEdits();
    e.masks = {solidMask(0.4, 0.4, 0.4, 0.4)};
    for (const char *mode : {"maxObserved", "initial"}) {
        SCOPED_TRACE(mode);
        const WindowCrop crop{108, 108, mode, {{0, 0, 0, 60, 60}}};
        const auto out = render(e, orangeScreen(), {100, 100}, {108, 108}, crop);
        ASSERT_TRUE(out);
        EXPECT_TRUE(rgbNear(*out, 30, 30, kOrange));
        EXPECT_TRUE(rgbNear(*out, 45, 45, kMask));
        EXPECT_TRUE(rgbNear(*out, 55, 20, kOrange));
        EXPECT_TRUE(rgbNear(*out, 20, 55, kOrange));
        // In "initial" the whole source is squeezed into the window, so nothing is letterbox.
        const bool letterbox = std::string(mode) == "maxObserved";
        EXPECT_TRUE(rgbNear(*out, 56, 20, letterbox ? kBackground : kOrange));
        EXPECT_TRUE(rgbNear(*out, 20, 56, letterbox ? kBackground : kOrange));
        EXPECT_TRUE(rgbNear(*out, 90, 90, letterbox ? kBackground : kOrange));
        EXPECT_TRUE(rgbNear(*out, 60, 45, letterbox ? kBackground : kMask));
        EXPECT_TRUE(rgbNear(*out, 45, 60, letterbox ? kBackground : kMask));
        EXPECT_TRUE(rgbNear(*out, 70, 70, letterbox ? kBackground : kMask));
    }
}

TEST(ScenePicture, DegenerateWindowGeometryReadsOnlyInsideTheScreen) {
    // Zero, huge and mixed window sizes make the row and column positions NaN or infinite in
    // single precision; every tap must still land on the screen's own pixels (a solid orange),
    // and nothing may be read from outside the buffer.
    const std::vector<WindowCrop::Sample> samples = {
        {0, 0, 0, 0, 0},           {0, -3e38, 3e38, 0, 0},  {0, 0, 0, 3e38, 3e38},
        {0, 3e38, -3e38, 1, 3e38}, {0, 0, 0, 1e-38, 1e-38},
    };
    for (const char *mode : {"maxObserved", "initial"})
        for (const auto &sample : samples) {
            SCOPED_TRACE(std::string(mode) + " " + std::to_string(sample.x) + " " +
                         std::to_string(sample.width) + " " + std::to_string(sample.height));
            const WindowCrop crop{108, 108, mode, {sample}};
            const auto out = render(flatEdits(), orangeScreen(), {100, 100}, {108, 108}, crop);
            ASSERT_TRUE(out);
            for (int j = 0; j < 100; j += 9)
                for (int i = 0; i < 100; i += 9) {
                    const auto px = testing::rgbAt(*out, i, j);
                    const bool orange = rgbNear(*out, i, j, kOrange, 2);
                    const bool background = rgbNear(*out, i, j, kBackground, 2);
                    EXPECT_TRUE(orange || background)
                        << i << ", " << j << ": " << px[0] << " " << px[1] << " " << px[2];
                }
        }
}

TEST(ScenePicture, InitialModeSqueezesTheScreenIntoAHalfWidthWindow) {
    // Capture 216 wide: red, green, then a blue right half that lies outside the live window.
    const auto capture = picture(
        216, 108, [](int col, int) { return col < 54 ? kRed : (col < 108 ? kGreen : kBlue); });
    const WindowCrop crop{216, 108, "initial", {{0, 0, 0, 108, 108}}};
    // Source 216 × 108 (content 208 × 100) on a 208 × 100 canvas: the frame is the canvas.
    const auto out = render(flatEdits(), capture, {208, 100}, {216, 108}, crop);
    ASSERT_TRUE(out);
    for (int j = 0; j < 100; ++j)
        for (int i = 0; i < 208; ++i) ASSERT_LE(testing::rgbAt(*out, i, j)[2], 1) << i << ", " << j;
    // Canvas column i reads capture x (i + 4.5) / 2: red up to column 102, green from 105.
    for (int j : {0, 50, 99}) {
        EXPECT_TRUE(rgbNear(*out, 0, j, kRed));
        EXPECT_TRUE(rgbNear(*out, 102, j, kRed));
        EXPECT_TRUE(rgbNear(*out, 103, j, {191, 64, 0}, 2));
        EXPECT_TRUE(rgbNear(*out, 105, j, kGreen));
        EXPECT_TRUE(rgbNear(*out, 207, j, kGreen));
    }
}

// The chrome bar image of the usual scene, as the static overlays draw it; its look belongs
// to the decoration code, the pass only has to show it in the band.
platform::ImageRef chromeImage(const Edits::Scene &scene) {
    const auto background = SceneRenderer::buildBackground(scene, {100, 100}, nullptr);
    return SceneRenderer::staticOverlays(scene, {108, 108}, {100, 100}, background).chrome;
}

// The image's colour at canvas pixel (i, j) of a 100-high canvas, row 0 at the top.
RGB imageAt(const platform::Image &image, int i, int j) {
    const Rect e = image.extent();
    return testing::rgbAt(image.bitmap(), i - int(e.x), int(e.y + e.height) - (100 - j));
}

TEST(ScenePicture, ChromeBandCoversTheTopOfTheFrame) {
    Edits e = flatEdits();
    e.scene.chromeStyle = Edits::ChromeStyle::minimal; // 8 rows on a 100-high frame
    const auto chrome = chromeImage(e.scene);
    ASSERT_TRUE(chrome);
    for (int c : imageAt(*chrome, 50, 3)) EXPECT_GE(c, 200) << "a light band";
    const auto out = render(e, orangeScreen());
    ASSERT_TRUE(out);
    for (int i : {0, 50, 99}) {
        for (int j = 0; j < 8; ++j) EXPECT_TRUE(rgbNear(*out, i, j, imageAt(*chrome, i, j)));
        EXPECT_TRUE(rgbNear(*out, i, 8, kOrange));
        EXPECT_TRUE(rgbNear(*out, i, 99, kOrange));
    }
}

TEST(ScenePicture, WithoutAScreenFrameOnlyTheDecorationShows) {
    const auto plain = render(flatEdits(), nullptr);
    ASSERT_TRUE(plain);
    for (int j = 0; j < 100; ++j)
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(rgbNear(*plain, i, j, kBackground));

    Edits e = flatEdits();
    e.scene.chromeStyle = Edits::ChromeStyle::minimal;
    const auto chrome = chromeImage(e.scene);
    ASSERT_TRUE(chrome);
    const auto out = render(e, nullptr);
    ASSERT_TRUE(out);
    EXPECT_TRUE(rgbNear(*out, 50, 3, imageAt(*chrome, 50, 3)));
    EXPECT_TRUE(rgbNear(*out, 50, 8, kBackground));
    EXPECT_TRUE(rgbNear(*out, 50, 60, kBackground));
}

TEST(ScenePicture, SolidMasksAreOneFlatColourEvenWhereTheyOverlap) {
    Edits e = flatEdits();
    // Columns and rows 10 ... 39 and 30 ... 59.
    e.masks = {solidMask(0.1, 0.1, 0.3, 0.3), solidMask(0.3, 0.3, 0.3, 0.3)};
    const auto out = render(e, orangeScreen());
    ASSERT_TRUE(out);
    for (int k : {10, 20, 35, 50, 59}) EXPECT_TRUE(rgbNear(*out, k, k, kMask));
    EXPECT_TRUE(rgbNear(*out, 9, 9, kOrange));
    EXPECT_TRUE(rgbNear(*out, 60, 60, kOrange));
    EXPECT_TRUE(rgbNear(*out, 50, 20, kOrange)); // in neither
}

TEST(ScenePicture, RoundedCornersShowTheBackground) {
    Edits e = flatEdits();
    e.scene.frameRadius = 10;
    const auto out = render(e, orangeScreen());
    ASSERT_TRUE(out);
    for (auto [i, j] : {std::pair{0, 0}, {99, 0}, {0, 99}, {99, 99}, {1, 1}, {2, 2}})
        EXPECT_TRUE(rgbNear(*out, i, j, kBackground));
    for (auto [i, j] : {std::pair{50, 50}, {0, 50}, {50, 0}, {3, 3}})
        EXPECT_TRUE(rgbNear(*out, i, j, kOrange));
    // Pixel (2, 3) lies 0.075 inside the rounded edge: coverage 0.575.
    EXPECT_TRUE(rgbNear(*out, 2, 3, {122, 71, 49}, 2));
}

} // namespace
} // namespace qv
