// The libraries' "main thread": where results, progress and timers are delivered. The command
// line drives a RunLoop; a GUI application implements Executor on its own event loop.
//
// Thread safety: every Executor member may be called from any thread. Tasks and timers run on
// the executor's thread, one at a time.
// Lifetime: tasks still queued when an executor is destroyed are dropped without running.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace qv::platform {

using TimerId = std::uint64_t;

class Executor {
public:
    virtual ~Executor();
    virtual void post(std::function<void()> task) = 0;
    // Calls `task` every `interval` until cancelled; the first call comes after one interval.
    virtual TimerId scheduleRepeating(std::chrono::milliseconds interval,
                                      std::function<void()> task) = 0;
    // Stops a timer; a call already running finishes. Unknown ids are ignored.
    virtual void cancelTimer(TimerId id) = 0;
};

class RunLoop final : public Executor {
public:
    RunLoop() = default;
    ~RunLoop() override;

    void post(std::function<void()> task) override;
    TimerId scheduleRepeating(std::chrono::milliseconds interval,
                              std::function<void()> task) override;
    void cancelTimer(TimerId id) override;

    // Runs queued tasks, including those they post, until none is left; does not wait for
    // timers. Returns the number of tasks run.
    std::size_t runUntilIdle();
    // Runs tasks and timers until stop(). A stop() that comes while the loop is not running
    // makes the next run() or runFor() return at once.
    void run();
    // Like run(), but also returns when the duration has passed. True when stopped.
    bool runFor(std::chrono::steady_clock::duration duration);
    // Thread-safe; may be called from a task.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::duration interval;
        Clock::time_point due;
        std::shared_ptr<std::function<void()>> task;
    };

    // Returns true when stopped, false when the deadline passed.
    bool loop(Clock::time_point deadline);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
    bool stopRequested_ = false;
};

} // namespace qv::platform
