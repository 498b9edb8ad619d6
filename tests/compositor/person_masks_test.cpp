// The person masks: segmentation on every second camera frame of each renderer, the last mask
// reused in between, the two renderers counting apart, and the flag that stops the count.
#include "Compositor/engine/person_masks.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

using platform::PixelBuffer;
using platform::PixelBufferRef;
using platform::PixelFormat;

// A segmentation that answers each call from a script: a mask filled with the given value, or
// nothing (-1).
struct ScriptedSegmentation {
    std::vector<int> answers;
    std::size_t calls = 0;
    PersonMasks::Segment function() {
        return [this](const PixelBuffer &) -> Result<PixelBufferRef> {
            const int v = calls < answers.size() ? answers[calls] : 200;
            ++calls;
            if (v < 0) return Error{"no person found"};
            auto mask = PixelBuffer::create(4, 2, PixelFormat::r8);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 4; ++x) mask->row(y)[x] = std::uint8_t(v);
            return mask;
        };
    }
};

int valueOf(const PixelBufferRef &mask) {
    return mask ? mask->row(0)[0] : -1;
}

TEST(PersonMasks, SegmentsEverySecondFrameAndReusesTheMaskBetween) {
    ScriptedSegmentation seg{{10, 20, 30}};
    PersonMasks masks(seg.function());
    const auto camera = PixelBuffer::create(8, 8, PixelFormat::bgra8);
    // Counters 0..5: segment on 0, 2, 4.
    const std::vector<int> expected = {10, 10, 20, 20, 30, 30};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(valueOf(masks.passMask(camera, true)), expected[i]) << "frame " << i;
    EXPECT_EQ(seg.calls, 3u);
    EXPECT_EQ(masks.passCount(), 6);
}

TEST(PersonMasks, AFailedSegmentationKeepsTheLastMaskAndAnOddFrameWithoutOneSegments) {
    // The first segmentation finds nothing: frame 1 (odd) has no mask to reuse and segments.
    ScriptedSegmentation seg{{-1, 40, -1}};
    PersonMasks masks(seg.function());
    const auto camera = PixelBuffer::create(8, 8, PixelFormat::bgra8);
    EXPECT_EQ(masks.passMask(camera, true), nullptr);
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 40);
    EXPECT_EQ(seg.calls, 2u);
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 40); // counter 2: fails, 40 stays
    EXPECT_EQ(seg.calls, 3u);
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 40); // counter 3: reused
    EXPECT_EQ(seg.calls, 3u);
}

TEST(PersonMasks, TheFlagOffStopsTheCountWhereItWas) {
    ScriptedSegmentation seg{{1, 2, 3, 4}};
    PersonMasks masks(seg.function());
    const auto camera = PixelBuffer::create(8, 8, PixelFormat::bgra8);
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 1); // counter 0: segments
    EXPECT_EQ(masks.passMask(camera, false), nullptr);   // off: not counted
    EXPECT_EQ(masks.passMask(nullptr, true), nullptr);   // no camera frame: not counted
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 1); // counter 1: reused
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 2); // counter 2: segments
    EXPECT_EQ(masks.passCount(), 3);
    EXPECT_EQ(seg.calls, 2u);
}

TEST(PersonMasks, TheTwoRenderersCountApartAndTheFilterMaskCoversTheCamera) {
    ScriptedSegmentation seg{{50, 60, 70}};
    PersonMasks masks(seg.function());
    const auto camera = PixelBuffer::create(16, 8, PixelFormat::bgra8);
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 50);
    const auto image = masks.filterMask(camera, true); // its own counter 0: segments
    ASSERT_TRUE(image);
    EXPECT_EQ(seg.calls, 2u);
    EXPECT_EQ(masks.filterCount(), 1);
    EXPECT_EQ(masks.passCount(), 1);
    // Scaled from 4 × 2 onto the 16 × 8 camera frame, the coverage in the red channel.
    EXPECT_EQ(image->extent(), (Rect{0, 0, 16, 8}));
    EXPECT_NEAR(image->bitmap().row(4)[4 * 8 + 2], 60, 1);
    // Its odd count reuses its own mask, not the pass's.
    EXPECT_EQ(masks.filterMask(camera, true), image);
    EXPECT_EQ(valueOf(masks.passMask(camera, true)), 50);
    EXPECT_EQ(seg.calls, 2u);
}

} // namespace
} // namespace qv
