// The frame queue between compositor and encoder: frames in index order whatever order they
// finish in, one bound on how far requests run ahead, and waits that a close or a cancel ends.
#include "platform/media/export_frame_queue.h"
#include "platform/media/media_error.h"

#include <gtest/gtest.h>

#include <future>

namespace qv::platform::media {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongAgo = Clock::time_point{};
constexpr auto kGuard = std::chrono::seconds(60);

Clock::time_point far() {
    return Clock::now() + kGuard;
}

PixelBufferRef picture(std::uint8_t level) {
    auto pb = PixelBuffer::create(2, 2, PixelFormat::bgra8);
    pb->row(0)[0] = level;
    return pb;
}

TEST(ExportFrameQueue, HandsOutFramesByIndexWhateverOrderTheyFinishIn) {
    ExportFrameQueue queue(4);
    queue.deliver(1, picture(11));
    queue.deliver(0, picture(10));
    queue.deliver(2, CompositionError{"test", 3, "no frame"});
    ExportFrameQueue::Outcome out;
    for (std::uint8_t i : {0, 1}) {
        ASSERT_EQ(queue.take(i, far(), out), ExportFrameQueue::Wait::ready);
        ASSERT_TRUE(std::holds_alternative<PixelBufferRef>(out));
        EXPECT_EQ(std::get<PixelBufferRef>(out)->row(0)[0], 10 + i);
    }
    ASSERT_EQ(queue.take(2, far(), out), ExportFrameQueue::Wait::ready);
    EXPECT_EQ(std::get<CompositionError>(out).code, 3);
    // Frame 3 never comes: the deadline (already past) ends the wait.
    EXPECT_EQ(queue.take(3, kLongAgo, out), ExportFrameQueue::Wait::timedOut);
}

TEST(ExportFrameQueue, AnOutcomeLostForWantOfMemoryEndsTheWaitForIt) {
    ExportFrameQueue queue(4);
    queue.deliver(0, picture(10));
    auto encoder = std::async(std::launch::async, [&] {
        ExportFrameQueue::Outcome out;
        return queue.take(1, far(), out);
    });
    EXPECT_EQ(encoder.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.ranOutOfMemory();
    ASSERT_EQ(encoder.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(encoder.get(), ExportFrameQueue::Wait::outOfMemory);
    // A frame that was stored is still handed out.
    ExportFrameQueue::Outcome out;
    ASSERT_EQ(queue.take(0, far(), out), ExportFrameQueue::Wait::ready);
    EXPECT_EQ(std::get<PixelBufferRef>(out)->row(0)[0], 10);
}

TEST(ExportFrameQueue, RequestsWaitForRoomAheadOfTheEncoder) {
    ExportFrameQueue queue(2);
    EXPECT_TRUE(queue.reserve(0));
    EXPECT_TRUE(queue.reserve(1));
    auto third = std::async(std::launch::async, [&] { return queue.reserve(2); });
    // Frame 2 may be requested only once frame 0 is encoded.
    EXPECT_EQ(third.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    queue.encoded(0);
    ASSERT_EQ(third.wait_for(kGuard), std::future_status::ready);
    EXPECT_TRUE(third.get());
}

TEST(ExportFrameQueue, CloseAndCancelWakeEveryWaiter) {
    for (bool viaCancel : {false, true}) {
        ExportFrameQueue queue(1);
        CancellationFlag cancelled;
        const auto wakeUp = cancelled.onCancel([&] { queue.close(); });
        ASSERT_TRUE(queue.reserve(0));
        auto request = std::async(std::launch::async, [&] { return queue.reserve(1); });
        auto encoder = std::async(std::launch::async, [&] {
            ExportFrameQueue::Outcome out;
            return queue.take(0, far(), out);
        });
        if (viaCancel)
            cancelled.cancel();
        else
            queue.close();
        ASSERT_EQ(request.wait_for(kGuard), std::future_status::ready) << viaCancel;
        ASSERT_EQ(encoder.wait_for(kGuard), std::future_status::ready) << viaCancel;
        EXPECT_FALSE(request.get());
        EXPECT_EQ(encoder.get(), ExportFrameQueue::Wait::closed);
        // Frames finished afterwards are dropped, and nothing waits any more.
        queue.deliver(0, picture(1));
        ExportFrameQueue::Outcome out;
        EXPECT_EQ(queue.take(0, far(), out), ExportFrameQueue::Wait::closed);
        EXPECT_FALSE(queue.reserve(5));
    }
}

TEST(CancellationFlag, WakeUpsRunOnCancelOrAtOnceAndNotAfterTheyAreDropped) {
    CancellationFlag flag;
    int calls = 0;
    {
        const auto dropped = flag.onCancel([&] { calls += 100; });
    }
    const auto kept = flag.onCancel([&] { ++calls; });
    EXPECT_EQ(calls, 0);
    flag.cancel();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(flag.isCancelled());
    const auto late = flag.onCancel([&] { calls += 10; });
    EXPECT_EQ(calls, 11);
}

} // namespace
} // namespace qv::platform::media
