#include "platform/core/clock.h"
#include "platform/core/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, RunUntilIdleRunsTasksPostedWhileRunning) {
    RunLoop loop;
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] {
            order.push_back(3);
            loop.post([&] { order.push_back(4); });
        });
    });
    loop.post([&] { order.push_back(2); });
    EXPECT_EQ(loop.runUntilIdle(), 4u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(loop.runUntilIdle(), 0u);
}

TEST(RunLoop, PostIsSafeFromManyThreads) {
    RunLoop loop;
    int count = 0; // only touched on the loop thread
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 250; ++i) loop.post([&] { ++count; });
        });
    for (auto &p : posters) p.join();
    EXPECT_EQ(loop.runUntilIdle(), 1000u);
    EXPECT_EQ(count, 1000);
}

TEST(RunLoop, StopFromAnotherThreadEndsRun) {
    RunLoop loop;
    std::atomic<bool> taskRan{false};
    std::thread other([&] {
        loop.post([&] { taskRan = true; });
        loop.stop();
    });
    loop.run(); // returns only once stop() has been seen
    other.join();
    // The task was posted before stop(); it ran unless stop() won the race, in which case
    // it is still queued.
    EXPECT_TRUE(taskRan.load() || loop.runUntilIdle() == 1u);
}

TEST(RunLoop, StopFromATaskEndsRunAfterThatTask) {
    RunLoop loop;
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.stop();
    });
    loop.post([&] { order.push_back(2); });
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{1}));
    EXPECT_EQ(loop.runUntilIdle(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(RunLoop, StopBeforeRunMakesTheNextRunReturn) {
    RunLoop loop;
    loop.stop();
    EXPECT_TRUE(loop.runFor(std::chrono::hours(1)));
}

TEST(RunLoop, RunForReturnsFalseAtTheDeadline) {
    RunLoop loop;
    EXPECT_FALSE(loop.runFor(5ms));
}

TEST(RunLoop, RepeatingTimerFiresOnTheLoopThreadUntilCancelled) {
    RunLoop loop;
    int fired = 0;
    std::vector<std::thread::id> threads;
    TimerId id = 0;
    id = loop.scheduleRepeating(1ms, [&] {
        ++fired;
        threads.push_back(std::this_thread::get_id());
        if (fired == 3) {
            loop.cancelTimer(id);
            loop.stop();
        }
    });
    loop.run();
    EXPECT_EQ(fired, 3);
    for (auto t : threads) EXPECT_EQ(t, std::this_thread::get_id());
    EXPECT_FALSE(loop.runFor(10ms)); // cancelled: no further calls
    EXPECT_EQ(fired, 3);
}

TEST(RunLoop, CancelledTimerStopsFiring) {
    RunLoop loop;
    int ticks = 0;
    auto timer = loop.scheduleRepeating(1ms, [&] { ++ticks; });
    std::thread other([&] { loop.post([&] { loop.stop(); }); });
    loop.run();
    other.join();
    loop.cancelTimer(timer);
    loop.cancelTimer(timer + 100); // unknown ids are ignored
    const int before = ticks;
    loop.runFor(5ms);
    EXPECT_EQ(ticks, before);
}

TEST(Clock, MonotonicAndConsistentUnits) {
    std::int64_t previous = hostTimeNs();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = hostTimeNs();
        ASSERT_GE(now, previous);
        previous = now;
    }
    const std::int64_t before = hostTimeNs();
    const double ms = hostTimeMs();
    const std::int64_t after = hostTimeNs();
    EXPECT_GE(ms, static_cast<double>(before) / 1e6 - 1e-6);
    EXPECT_LE(ms, static_cast<double>(after) / 1e6 + 1e-6);
}

} // namespace
} // namespace qv::platform
