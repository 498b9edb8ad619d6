#include "platform/core/serial_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <pthread.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qv::platform {
namespace {

TEST(SerialQueue, RunsTasksInFifoOrderOnItsOwnThread) {
    SerialQueue q("com.quillvane.tests.fifo");
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 500; ++i) {
        q.async([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    q.sync([] {});
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_TRUE(
        std::all_of(threads.begin(), threads.end(), [&](auto id) { return id == threads[0]; }));
}

TEST(SerialQueue, ThreadIsNamedAfterTheLabelsLast15Characters) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"com.quillvane.compositor", "vane.compositor"},
        {"short", "short"},
        {"exactly15chars.", "exactly15chars."},
        {"sixteen.chars.ab", "ixteen.chars.ab"},
    };
    for (const auto &[label, expected] : cases) {
        EXPECT_EQ(SerialQueue::threadNameForLabel(label), expected);
        SerialQueue q(label);
        EXPECT_EQ(q.label(), label);
        std::string actual;
        q.sync([&] {
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            actual = name;
        });
        EXPECT_EQ(actual, expected);
    }
}

TEST(SerialQueue, SyncFromItsOwnThreadRunsInline) {
    SerialQueue q("com.quillvane.tests.reentrant");
    std::vector<std::string> steps;
    bool currentInside = false;
    q.async([&] {
        steps.push_back("outer begins");
        q.sync([&] {
            currentInside = q.isCurrent();
            steps.push_back("inner");
        });
        steps.push_back("outer ends");
    });
    q.sync([] {});
    EXPECT_FALSE(q.isCurrent());
    EXPECT_TRUE(currentInside);
    EXPECT_EQ(steps, (std::vector<std::string>{"outer begins", "inner", "outer ends"}));
}

TEST(SerialQueue, SyncWaitsForEarlierTasksAndPassesExceptionsOn) {
    SerialQueue q("com.quillvane.tests.sync");
    std::atomic<int> done{0};
    for (int i = 0; i < 50; ++i) q.async([&] { done++; });
    int seen = -1;
    q.sync([&] { seen = done.load(); });
    EXPECT_EQ(seen, 50);
    EXPECT_THROW(q.sync([] { throw std::runtime_error("no"); }), std::runtime_error);
    q.sync([&] { done++; }); // still serving after a failed task
    EXPECT_EQ(done.load(), 51);
}

TEST(SerialQueue, DestructorDrainsQueuedTasks) {
    std::atomic<int> count{0};
    {
        SerialQueue q("com.quillvane.tests.drain");
        for (int i = 0; i < 200; ++i) q.async([&] { count++; });
    }
    EXPECT_EQ(count.load(), 200);
}

TEST(SerialQueue, BackgroundPriorityRaisesNicenessOnlyForBackground) {
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(errno, 0);
    const std::vector<std::pair<SerialQueue::Priority, int>> cases = {
        {SerialQueue::Priority::userInitiated, base},
        {SerialQueue::Priority::utility, base},
        {SerialQueue::Priority::background, std::min(19, base + 10)},
    };
    for (const auto &[priority, expected] : cases) {
        SerialQueue q("com.quillvane.tests.nice", priority);
        EXPECT_EQ(q.priority(), priority);
        int nice = 0;
        q.sync([&] { nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); });
        EXPECT_EQ(nice, expected);
    }
}

} // namespace
} // namespace qv::platform
