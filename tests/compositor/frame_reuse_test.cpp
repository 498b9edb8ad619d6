// Frames that take unchanged pixels from the frame before must look exactly like frames drawn
// from scratch: a moving, clicking pointer, a moving mask and a screen where a little changes
// each frame, drawn by one compositor, against a fresh compositor for every frame.
#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qv {
namespace {

using testing::InstructionPlan;
using testing::makeInstruction;

constexpr int kSrcW = 320, kSrcH = 200;

// The screen at step k: a fixed pattern, a "typing" bar that grows along a line, and a block
// that moves down. Each frame records, in its lineage, what differs from the one before.
class ScreenSequence {
public:
    platform::PixelBufferRef next() {
        auto pb = platform::PixelBuffer::create(kSrcW, kSrcH, platform::PixelFormat::bgra8);
        for (int y = 0; y < kSrcH; ++y)
            for (int x = 0; x < kSrcW; ++x) {
                std::uint8_t *p = pb->row(y) + 4 * x;
                p[0] = std::uint8_t(x * 7 + y), p[1] = std::uint8_t(y * 3), p[2] = 200, p[3] = 255;
                if (y >= 60 && y < 70 && x >= 20 && x < 20 + 9 * step_) p[0] = p[1] = p[2] = 20;
                const int top = 100 + 5 * (step_ % 12);
                if (y >= top && y < top + 8 && x >= 200 && x < 230) p[1] = 250;
            }
        auto lineage = std::make_shared<platform::FrameLineage>();
        lineage->id = platform::FrameLineage::newId();
        if (last_) {
            lineage->parent = last_->lineage()->id;
            lineage->changed.resize(kSrcH);
            for (int y = 0; y < kSrcH; ++y)
                for (int x = 0; x < kSrcW; ++x)
                    if (std::memcmp(pb->row(y) + 4 * x, last_->row(y) + 4 * x, 4) != 0)
                        lineage->changed[y].add({x, x + 1});
        }
        pb->setLineage(lineage);
        last_ = pb;
        ++step_;
        return pb;
    }

private:
    platform::PixelBufferRef last_;
    int step_ = 0;
};

InstructionPlan busyScene() {
    InstructionPlan s;
    s.edits = Edits::defaults();
    s.renderSize = {360, 240};
    s.screenSize = {kSrcW, kSrcH};
    auto &sc = s.edits.scene;
    sc.backgroundKind = Edits::BackgroundKind::gradient;
    sc.cursorSmoothing = 0;
    sc.cursorSize = 2;
    s.edits.masks = {Edits::Mask{"m",
                                 0,
                                 60000,
                                 Edits::MaskStyle::solid,
                                 {{0, 0.1, 0.1, 0.2, 0.1}, {1500, 0.5, 0.6, 0.2, 0.15}}}};
    for (int k = 0; k <= 30; ++k)
        s.cursorPath.push_back({k * 100, 0.2 + 0.02 * k, 0.3 + 0.015 * (k % 9)});
    s.clicks = {{400, 0.3, 0.4}, {1100, 0.6, 0.5}};
    return s;
}

// The first differing byte of two frames, as text; empty when they are equal.
std::string firstDifference(const platform::PixelBuffer &a, const platform::PixelBuffer &b) {
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 4; ++x)
            if (a.row(y)[x] != b.row(y)[x])
                return "row " + std::to_string(y) + " column " + std::to_string(x / 4) + ": " +
                       std::to_string(a.row(y)[x]) + " against " + std::to_string(b.row(y)[x]);
    return {};
}

// `holdOutputs`: the caller keeps every frame, so no buffer can be drawn over again and each
// partial frame copies the unchanged pixels from the frame before; otherwise frames are let go
// at once and the compositor draws over buffers it kept.
void expectSameAsFresh(Edits::ClickEffect effect, bool holdOutputs) {
    InstructionPlan setup = busyScene();
    setup.edits.scene.clickEffect = effect;
    const auto instruction = makeInstruction(setup);
    MetalVideoCompositor reused;
    ScreenSequence screens;
    std::vector<platform::PixelBufferRef> held;
    for (int k = 0; k < 24; ++k) {
        const std::int64_t ms = 66 * k;
        const auto screen = screens.next();
        const auto drawn = testing::renderFrame(reused, instruction, ms, screen);
        MetalVideoCompositor fresh;
        const auto expected = testing::renderFrame(fresh, instruction, ms, screen);
        ASSERT_TRUE(drawn && expected);
        EXPECT_EQ(firstDifference(*drawn, *expected), "") << "frame " << k;
        if (holdOutputs) held.push_back(drawn);
    }
    const auto d = reused.diagnostics();
    // Every frame after the first shaded only part of the canvas.
    EXPECT_EQ(d.partialFrames, 23);
    EXPECT_GT(d.keptPixels, 23LL * 360 * 240 / 2);
    if (holdOutputs)
        EXPECT_EQ(d.inPlaceFrames, 0);
    else
        EXPECT_GT(d.inPlaceFrames, 15);
}

TEST(FrameReuse, PartialFramesMatchFramesDrawnFromScratch) {
    for (bool hold : {false, true})
        for (auto effect : {Edits::ClickEffect::ring, Edits::ClickEffect::ripple,
                            Edits::ClickEffect::shockwave, Edits::ClickEffect::none}) {
            SCOPED_TRACE(std::string(hold ? "held" : "let go") + ", click effect " +
                         std::to_string(int(effect)));
            expectSameAsFresh(effect, hold);
        }
}

} // namespace
} // namespace qv
