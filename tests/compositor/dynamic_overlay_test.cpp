// The keystroke and caption badges: their timing, sizes, fonts and places, checked on the
// images drawn and on frames rendered through the compositor.
#include "scene_fixtures.h"

#include "Compositor/scene/chrome_cache.h"
#include "Compositor/scene/dynamic_overlay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace qv {
namespace {

namespace SR = SceneRenderer;
using testing::InstructionPlan;

std::shared_ptr<const SceneInstruction> overlayInstruction(InstructionPlan s,
                                                           std::vector<KeyChord> chords) {
    ZoomPath zoom(s.edits.zooms, s.screenSize);
    return std::make_shared<const SceneInstruction>(
        platform::media::TimeRange{{0, 1000}, {60000, 1000}}, s.screenTrackID, s.webcamTrackID,
        std::move(s.edits), s.renderSize, s.screenSize, std::move(s.segmentMap), std::move(zoom),
        std::move(s.cursorPath), std::move(s.cursorKinds), std::move(s.clicks), std::move(chords),
        s.cursorSynthetic, nullptr, std::move(s.windowCrop));
}

// A canvas with only badges: keystrokes on, captions as given.
InstructionPlan badgeScene(Size canvas, std::vector<Edits::Caption> captions = {}) {
    InstructionPlan s;
    s.renderSize = canvas;
    s.screenSize = canvas;
    s.edits.captions = std::move(captions);
    return s;
}

int alphaAt(const platform::PixelBuffer &pb, int x, int y) {
    return pb.row(y)[4 * x + 3];
}

// The smallest rectangle (y-up, whole pixels) holding every pixel with any alpha.
Rect opaqueBounds(const platform::PixelBuffer &pb) {
    int x0 = pb.width(), x1 = -1, y0 = pb.height(), y1 = -1;
    for (int y = 0; y < pb.height(); ++y)
        for (int x = 0; x < pb.width(); ++x)
            if (alphaAt(pb, x, y) > 0) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    if (x1 < 0) return {};
    // Row y (top first) is y-up pixel H - 1 - y.
    return {double(x0), double(pb.height() - 1 - y1), double(x1 - x0 + 1), double(y1 - y0 + 1)};
}

TEST(DynamicOverlay, KeystrokeOpacityHoldsThenFades) {
    struct Case {
        std::int64_t age;
        double alpha;
    } cases[] = {
        {-1, 0},           {0, 1},    {500, 1},  {820, 1}, {821, 1 - 1.0 / 280}, {960, 0.5},
        {1097, 3.0 / 280}, {1098, 0}, {1100, 0}, {1101, 0}};
    for (const Case &c : cases)
        EXPECT_NEAR(SR::keystrokeOpacity(c.age), c.alpha, 1e-12) << "age " << c.age;
}

TEST(DynamicOverlay, FontSizesFollowTheCanvasHeightAndClampedScale) {
    struct Case {
        double H, scale, keystroke, caption;
    } cases[] = {{1080, 1, 34.56, 43.2},
                 {1080, 10, 3 * 34.56, 3 * 43.2},
                 {1080, 0.1, 0.5 * 34.56, 0.5 * 43.2},
                 {300, 1, 15, 16},
                 {2160, 2, 2 * 69.12, 2 * 86.4}};
    for (const Case &c : cases) {
        EXPECT_NEAR(SR::keystrokeFontSize(c.H, c.scale), c.keystroke, 1e-9)
            << c.H << " " << c.scale;
        EXPECT_NEAR(SR::captionFontSize(c.H, c.scale), c.caption, 1e-9) << c.H << " " << c.scale;
    }
}

TEST(DynamicOverlay, DesignFontsMapToInstalledBoldFaces) {
    const auto mono = SR::resolvedFace("Menlo-Bold");
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->family, "DejaVu Sans Mono");
    EXPECT_GE(mono->weight, 700);
    EXPECT_TRUE(mono->monospace);

    const auto sans = SR::resolvedFace("HelveticaNeue-Bold");
    ASSERT_TRUE(sans);
    EXPECT_TRUE(sans->family == "Nimbus Sans" || sans->family == "Liberation Sans") << sans->family;
    EXPECT_GE(sans->weight, 700);
    EXPECT_FALSE(sans->monospace);

    EXPECT_FALSE(SR::resolvedFace("Menlo-Regular"));
}

// The pill's size comes from the monospaced advance (0.602 em in DejaVu Sans Mono), the
// spacing between letters and the padding; it sits on the bottom margin where asked.
TEST(DynamicOverlay, KeystrokeBadgeGeometry) {
    struct Case {
        Size canvas;
        Edits::BadgePosition position;
        double scale;
    } cases[] = {{{640, 360}, Edits::BadgePosition::center, 1},
                 {{640, 360}, Edits::BadgePosition::left, 1},
                 {{640, 360}, Edits::BadgePosition::right, 2},
                 {{1280, 720}, Edits::BadgePosition::center, 0.5}};
    const std::string text = "Ctrl+C";
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.canvas) + " scale " + std::to_string(c.scale));
        InstructionPlan s = badgeScene(c.canvas);
        s.edits.scene.keystrokePosition = c.position;
        s.edits.scene.keystrokeScale = c.scale;
        const auto overlay = SR::dynamicOverlay(*overlayInstruction(s, {{1000, text}}), 1200);
        ASSERT_TRUE(overlay);
        ASSERT_EQ(overlay->bitmap().width(), int(c.canvas.width));
        ASSERT_EQ(overlay->bitmap().height(), int(c.canvas.height));

        const double fs = SR::keystrokeFontSize(c.canvas.height, c.scale);
        const double tw = 6 * 0.602 * fs + 5 * 0.16 * fs;
        const Rect got = opaqueBounds(overlay->bitmap());
        EXPECT_NEAR(got.width, std::ceil(tw + 1.4 * fs), 2);
        // Ascent and descent of the face come to about 1.16 em.
        EXPECT_NEAR(got.height, std::ceil(1.164 * fs + 0.84 * fs), 1);

        const double m = 0.045 * std::min(c.canvas.width, c.canvas.height);
        double x = m;
        if (c.position == Edits::BadgePosition::center) x = (c.canvas.width - got.width) / 2;
        if (c.position == Edits::BadgePosition::right) x = c.canvas.width - got.width - m;
        EXPECT_NEAR(got.x, x, 0.5);
        EXPECT_NEAR(got.y, m, 0.5);
    }
}

// At full opacity the pill is the dark grey at 0.62; half-way through the fade it is half as
// strong; at the end there is no overlay at all.
TEST(DynamicOverlay, KeystrokeBadgeFadesOut) {
    const auto instruction = overlayInstruction(badgeScene({640, 360}), {{1000, "Ctrl+C"}});
    struct Case {
        std::int64_t ms;
        double alpha;
    } cases[] = {{1000, 1}, {1820, 1}, {1960, 0.5}, {2097, 3.0 / 280}};
    for (const Case &c : cases) {
        SCOPED_TRACE("at " + std::to_string(c.ms) + " ms");
        const auto overlay = SR::dynamicOverlay(*instruction, c.ms);
        ASSERT_TRUE(overlay);
        const platform::PixelBuffer &pb = overlay->bitmap();
        const Rect r = opaqueBounds(pb);
        ASSERT_GT(r.width, 0);
        // In the left padding, half-way up: the pill only, no text.
        const double fs = SR::keystrokeFontSize(360, 1);
        const int x = int(r.x + 0.35 * fs), row = int(pb.height() - (r.y + r.height / 2));
        EXPECT_NEAR(alphaAt(pb, x, row), 0.62 * c.alpha * 255, 1.5);
        EXPECT_NEAR(pb.row(row)[4 * x + 2], 0.07 * 0.62 * c.alpha * 255, 1.5);
        // The text is white at the same opacity: the brightest pixel shows it.
        int brightest = 0;
        for (int y = 0; y < pb.height(); ++y)
            for (int i = 0; i < pb.width(); ++i)
                brightest = std::max<int>(brightest, pb.row(y)[4 * i]);
        // (the pill's blue shows through the faded text)
        EXPECT_NEAR(brightest, c.alpha * 255 + (1 - c.alpha) * 0.08 * 0.62 * c.alpha * 255, 2);
    }
    EXPECT_FALSE(SR::dynamicOverlay(*instruction, 2098));
    EXPECT_FALSE(SR::dynamicOverlay(*instruction, 2100));
    EXPECT_FALSE(SR::dynamicOverlay(*instruction, 999));
}

// Only the latest chord shows; of equal times the first.
TEST(DynamicOverlay, LatestChordReplacesTheOneBefore) {
    const auto instruction = overlayInstruction(badgeScene({640, 360}),
                                                {{1000, "A"}, {1500, "Ctrl+Shift+Z"}, {1500, "B"}});
    const auto early = SR::dynamicOverlay(*instruction, 1499);
    const auto late = SR::dynamicOverlay(*instruction, 1500);
    ASSERT_TRUE(early && late);
    const double fs = SR::keystrokeFontSize(360, 1);
    EXPECT_NEAR(opaqueBounds(early->bitmap()).width, std::ceil(0.602 * fs + 1.4 * fs), 2);
    EXPECT_NEAR(opaqueBounds(late->bitmap()).width,
                std::ceil((12 * 0.602 + 11 * 0.16) * fs + 1.4 * fs), 3);
}

TEST(DynamicOverlay, CaptionsByInclusiveSourceTime) {
    const std::vector<Edits::Caption> captions = {
        {"a", 2000, 4000, "Hello", std::nullopt},
        {"b", 5000, 6000, "", std::nullopt},
        {"c", 5500, 7000, "World", std::nullopt},
    };
    const auto instruction = overlayInstruction(badgeScene({640, 360}, captions), {});
    struct Case {
        std::int64_t ms;
        bool shown;
    } cases[] = {{1999, false}, {2000, true}, {4000, true}, {4001, false},
                 {5200, false}, {5500, true}, {7000, true}, {7001, false}};
    for (const Case &c : cases)
        EXPECT_EQ(SR::dynamicOverlay(*instruction, c.ms) != nullptr, c.shown) << c.ms << " ms";
}

TEST(DynamicOverlay, NothingVisibleIsNoOverlay) {
    InstructionPlan s = badgeScene({640, 360}, {{"a", 0, 9000, "Caption", std::nullopt}});
    s.edits.scene.showKeystrokes = false;
    s.edits.scene.showCaptions = false;
    EXPECT_FALSE(SR::dynamicOverlay(*overlayInstruction(s, {{1000, "Ctrl+C"}}), 1200));
    s.edits.scene.showCaptions = true;
    EXPECT_TRUE(SR::dynamicOverlay(*overlayInstruction(s, {{1000, "Ctrl+C"}}), 1200));
}

// A caption's font shrinks until the badge fits 86 % of the width, never below 12 px; past
// that the badge is cut at 86 % of the width plus its padding.
TEST(DynamicOverlay, LongCaptionsShrinkToTheFloorThenClip) {
    const double W = 1920, H = 1080, maxW = 0.86 * W;
    struct Case {
        int words;
        bool shrinks, atFloor;
    } cases[] = {{3, false, false}, {20, true, false}, {200, true, true}};
    for (const Case &c : cases) {
        std::string text = "Word";
        for (int k = 1; k < c.words; ++k) text += " word";
        SCOPED_TRACE(std::to_string(c.words) + " words");
        const auto badge = SR::captionBadge(text, W, H, 1);
        ASSERT_TRUE(badge);
        const int bw = badge->image->bitmap().width();
        const double fs = badge->fontSize;
        if (!c.shrinks) {
            EXPECT_DOUBLE_EQ(fs, 43.2);
            EXPECT_EQ(bw, int(std::ceil(badge->textWidth + 1.4 * fs)));
        } else if (!c.atFloor) {
            EXPECT_GT(fs, 12);
            EXPECT_LT(fs, 43.2);
            // Widths scale with the size: the badge now just fits.
            EXPECT_NEAR(bw, maxW, 2);
        } else {
            EXPECT_DOUBLE_EQ(fs, 12);
            EXPECT_GT(badge->textWidth, maxW);
            EXPECT_EQ(bw, int(std::ceil(maxW + 1.4 * 12)));
        }
        // One line: the height follows the final size, padding 0.4 em above and below.
        EXPECT_GT(badge->image->bitmap().height(), int(1.8 * fs));
        EXPECT_LT(badge->image->bitmap().height(), int(2.2 * fs) + 2);
    }
}

// On the canvas: centred on the bottom margin, black at 0.55 in the padding, and the image is
// made once per text, size and scale.
TEST(DynamicOverlay, CaptionBadgeOnTheCanvasIsCachedAndPlaced) {
    const std::string text = "A caption drawn only by this test";
    InstructionPlan s = badgeScene({960, 540}, {{"a", 0, 9000, text, 1.5}});
    s.edits.scene.captionPosition = Edits::BadgePosition::center;
    const auto instruction = overlayInstruction(s, {});
    auto &cache = SR::ChromeCache::shared();
    const auto before = cache.stats().renders;
    const auto first = SR::dynamicOverlay(*instruction, 100);
    const auto second = SR::dynamicOverlay(*instruction, 200);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(cache.stats().renders, before + 1);

    const auto badge = SR::captionBadge(text, 960, 540, 1.5);
    ASSERT_TRUE(badge);
    const Rect got = opaqueBounds(first->bitmap());
    EXPECT_EQ(got.width, badge->image->bitmap().width());
    EXPECT_EQ(got.height, badge->image->bitmap().height());
    EXPECT_NEAR(got.x, (960 - got.width) / 2, 0.5);
    EXPECT_NEAR(got.y, 0.05 * 540, 0.5);
    const platform::PixelBuffer &pb = first->bitmap();
    const int x = int(got.x + 0.35 * badge->fontSize), row = int(540 - (got.y + got.height / 2));
    EXPECT_NEAR(alphaAt(pb, x, row), 0.55 * 255, 1.5);
    EXPECT_EQ(pb.row(row)[4 * x + 2], 0);
}

// A screen that never changes, with a lineage that says so.
class StillScreen {
public:
    platform::PixelBufferRef next() {
        auto pb = testing::solidBuffer(320, 180, 230, 140, 40);
        auto lineage = std::make_shared<platform::FrameLineage>();
        lineage->id = platform::FrameLineage::newId();
        if (lastId_) {
            lineage->parent = lastId_;
            lineage->changed.resize(180);
        }
        lastId_ = lineage->id;
        pb->setLineage(lineage);
        return pb;
    }

private:
    std::uint64_t lastId_ = 0;
};

// Through the compositor: the pill darkens the screen where it is placed, and frames without
// the badge, the first one after it included, show the plain screen again.
TEST(DynamicOverlay, RenderedFramesShowTheBadgeWhereItBelongs) {
    InstructionPlan s = badgeScene({320, 180});
    s.screenSize = {320, 180};
    const auto instruction = overlayInstruction(s, {{1000, "Ctrl+C"}});
    const auto expected = SR::dynamicOverlay(*instruction, 1000);
    ASSERT_TRUE(expected);
    const Rect badge = opaqueBounds(expected->bitmap());

    MetalVideoCompositor compositor;
    StillScreen screens;
    std::vector<platform::PixelBufferRef> frames;
    for (std::int64_t ms : {0, 500, 1000, 1500, 2200, 2300}) {
        frames.push_back(testing::renderFrame(compositor, instruction, ms, screens.next()));
        ASSERT_TRUE(frames.back()) << ms << " ms";
    }
    // Partly shaded: only the two frames after a frame without badges and without one.
    EXPECT_EQ(compositor.diagnostics().partialFrames, 2);

    const std::array<int, 3> screen{230, 140, 40};
    const double fs = SR::keystrokeFontSize(180, 1);
    const int x = int(badge.x + 0.35 * fs), row = int(180 - (badge.y + badge.height / 2));
    const int below = int(180 - badge.y); // the row just under the badge
    const double k = 0.62;
    const std::array<int, 3> pill{int(std::lround(k * 0.07 * 255 + (1 - k) * 230)),
                                  int(std::lround(k * 0.07 * 255 + (1 - k) * 140)),
                                  int(std::lround(k * 0.08 * 255 + (1 - k) * 40))};
    for (int f : {2, 3}) {
        SCOPED_TRACE("frame " + std::to_string(f));
        EXPECT_TRUE(testing::rgbNear(*frames[f], x, row, pill, 2));
        EXPECT_TRUE(testing::rgbNear(*frames[f], x, below, screen, 1));
        EXPECT_TRUE(testing::rgbNear(*frames[f], int(badge.x) - 2, row, screen, 1));
    }
    for (int f : {0, 1, 4, 5}) {
        SCOPED_TRACE("frame " + std::to_string(f));
        EXPECT_TRUE(testing::rgbNear(*frames[f], x, row, screen, 1));
        EXPECT_TRUE(testing::rgbNear(*frames[f], int(badge.x + badge.width / 2), row, screen, 1));
    }
}

} // namespace
} // namespace qv
