#include "platform/core/executor.h"

#include <algorithm>

namespace qv::platform {

Executor::~Executor() = default;

RunLoop::~RunLoop() = default;

void RunLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

TimerId RunLoop::scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> task) {
    // A zero interval would starve the tasks; one millisecond is the finest useful period.
    const Clock::duration period = std::max(interval, std::chrono::milliseconds(1));
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextTimerId_++;
        timers_.emplace(id, Timer{period, Clock::now() + period,
                                  std::make_shared<std::function<void()>>(std::move(task))});
    }
    wake_.notify_all();
    return id;
}

void RunLoop::cancelTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

std::size_t RunLoop::runUntilIdle() {
    std::size_t count = 0;
    std::unique_lock lock(mutex_);
    while (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        ++count;
        lock.lock();
    }
    return count;
}

void RunLoop::run() {
    loop(Clock::time_point::max());
}

bool RunLoop::runFor(Clock::duration duration) {
    return loop(Clock::now() + duration);
}

void RunLoop::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
}

bool RunLoop::loop(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopRequested_) {
            stopRequested_ = false;
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) return false;
        // Due timers first, so that a steady stream of tasks cannot starve them.
        auto dueTimer = std::find_if(timers_.begin(), timers_.end(),
                                     [&](const auto &entry) { return entry.second.due <= now; });
        if (dueTimer != timers_.end()) {
            Timer &timer = dueTimer->second;
            // A loop that fell behind skips the missed ticks rather than firing them in a burst.
            timer.due += timer.interval;
            if (timer.due <= now) timer.due = now + timer.interval;
            auto task = timer.task;
            lock.unlock();
            (*task)();
            task.reset();
            lock.lock();
            continue;
        }
        if (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            continue;
        }
        Clock::time_point wakeAt = deadline;
        for (const auto &entry : timers_) wakeAt = std::min(wakeAt, entry.second.due);
        if (wakeAt == Clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, wakeAt);
    }
}

} // namespace qv::platform
