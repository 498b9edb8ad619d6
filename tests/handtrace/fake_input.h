// Test doubles for the recorder: a main executor whose tasks and timers run when the test says,
// and an input platform with a clock the test sets, a tap whose events the test delivers (each
// call returns once the tap thread has handled the event), and a cursor the test chooses.
#pragma once

#include "Handtrace/input_platform.h"
#include "platform/core/executor.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qv::testing {

class ManualExecutor final : public platform::Executor {
public:
    void post(std::function<void()> task) override {
        std::lock_guard g(mutex_);
        tasks_.push_back(std::move(task));
    }
    platform::TimerId scheduleRepeating(std::chrono::milliseconds interval,
                                        std::function<void()> task) override {
        std::lock_guard g(mutex_);
        const platform::TimerId id = next_++;
        timers_[id] = {interval, std::move(task)};
        return id;
    }
    void cancelTimer(platform::TimerId id) override {
        std::lock_guard g(mutex_);
        timers_.erase(id);
    }

    // Runs the posted tasks, including those they post.
    void runPosted() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard g(mutex_);
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    // One tick of every timer.
    void fireTimers() {
        std::vector<std::function<void()>> due;
        {
            std::lock_guard g(mutex_);
            for (auto &[id, timer] : timers_) due.push_back(timer.task);
        }
        for (auto &task : due) task();
    }
    std::size_t timerCount() {
        std::lock_guard g(mutex_);
        return timers_.size();
    }
    std::size_t postedCount() {
        std::lock_guard g(mutex_);
        return tasks_.size();
    }
    std::vector<std::chrono::milliseconds> timerIntervals() {
        std::lock_guard g(mutex_);
        std::vector<std::chrono::milliseconds> out;
        for (auto &[id, timer] : timers_) out.push_back(timer.interval);
        return out;
    }

private:
    struct Timer {
        std::chrono::milliseconds interval;
        std::function<void()> task;
    };
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    std::map<platform::TimerId, Timer> timers_;
    platform::TimerId next_ = 1;
};

class VectorWindowList final : public WindowList {
public:
    explicit VectorWindowList(std::vector<WindowInfo> windows, std::size_t *reads = nullptr)
        : windows_(std::move(windows)), reads_(reads) {}
    std::size_t count() const override { return windows_.size(); }
    WindowInfo at(std::size_t i) override {
        if (reads_) ++*reads_;
        return windows_.at(i);
    }

private:
    std::vector<WindowInfo> windows_;
    std::size_t *reads_;
};

// What the fake display shows; guarded by FakeInputPlatform's mutex.
struct FakeScreen {
    Point pointer{0, 0};
    std::uint32_t mainDisplay = 1;
    std::map<std::uint32_t, Rect> displays; // id → bounds
    std::optional<std::vector<WindowInfo>> windows;
    std::optional<CursorKinds::CurrentCursor> cursor;
    // Fingerprints of the theme's images by cursor name.
    std::map<std::string, std::vector<CursorKinds::Fingerprint>> themeImages;
};

class FakeInputPlatform final : public InputPlatform,
                                public std::enable_shared_from_this<FakeInputPlatform> {
public:
    static constexpr std::int64_t pid = 4242;

    // ---- Controls ----
    void setClock(double seconds) { clock_.store(seconds); }
    void advance(double seconds) { clock_.store(clock_.load() + seconds); }
    void refuseTap(bool refuse) { refuse_ = refuse; }
    template <class F> void editScreen(F f) {
        std::lock_guard g(mutex_);
        f(screen_);
    }

    // Hands the event to the tap thread and returns once it has been handled (or dropped by a
    // disabled tap).
    void deliver(InputEvent event) {
        std::unique_lock g(mutex_);
        auto tap = tap_.lock();
        ASSERT_TRUE(tap) << "no tap to deliver to";
        const std::uint64_t ticket = ++queued_;
        queue_.push_back(event);
        const std::uint64_t one = 1;
        ASSERT_EQ(::write(tap->fd, &one, sizeof one), 8);
        // A generous guard against a lost event; the wait normally ends within microseconds.
        ASSERT_TRUE(handledCv_.wait_for(g, std::chrono::seconds(10), [&] {
            return handled_ >= ticket;
        })) << "the tap thread did not handle the event";
    }
    void move(Point p, InputEventType type = InputEventType::mouseMoved) {
        editScreen([&](FakeScreen &s) { s.pointer = p; });
        deliver({type, 0, 0});
    }

    // ---- Observations ----
    bool tapAlive() const { return !tap_.expired(); }
    bool tapEnabled() const {
        auto tap = tap_.lock();
        return tap && tap->enabled.load();
    }
    int tapsCreated() const { return tapsCreated_; }
    std::size_t pointerQueries() {
        std::lock_guard g(mutex_);
        return pointerQueries_;
    }
    std::size_t windowListQueries() {
        std::lock_guard g(mutex_);
        return windowListQueries_;
    }
    std::string handlerThreadName() {
        std::lock_guard g(mutex_);
        return handlerThreadName_;
    }
    int kindTableBuilds() const { return kindTableBuilds_; }
    int cursorReads() const { return cursorReads_; }

    // ---- InputPlatform ----
    double now() override { return clock_.load(); }
    std::int64_t processId() override { return pid; }

    std::shared_ptr<EventTap> createTap(EventTap::Handler handler) override {
        if (refuse_) return nullptr;
        auto tap = std::make_shared<Tap>(weak_from_this(), std::move(handler));
        std::lock_guard g(mutex_);
        tap_ = tap;
        ++tapsCreated_;
        return tap;
    }

    std::unique_ptr<CursorSource> openCursorSource() override {
        return std::make_unique<Cursor>(shared_from_this());
    }

private:
    struct Tap final : EventTap, EventTapContext {
        Tap(std::weak_ptr<FakeInputPlatform> p, Handler h)
            : platform(std::move(p)), handler(std::move(h)), fd(::eventfd(0, EFD_NONBLOCK)) {}
        ~Tap() override { ::close(fd); }

        void attach(TapRunLoop &loop) override {
            loop.addSource(fd, [this] {
                std::uint64_t n;
                [[maybe_unused]] ssize_t r = ::read(fd, &n, sizeof n);
                if (auto p = platform.lock()) p->drain(*this);
            });
        }
        void setEnabled(bool e) override { enabled.store(e); }

        std::optional<Point> pointerLocation() override {
            auto p = platform.lock();
            std::lock_guard g(p->mutex_);
            ++p->pointerQueries_;
            return p->screen_.pointer;
        }
        std::uint32_t mainDisplay() override {
            auto p = platform.lock();
            std::lock_guard g(p->mutex_);
            return p->screen_.mainDisplay;
        }
        std::optional<std::uint32_t> displayContaining(Point pt) override {
            auto p = platform.lock();
            std::lock_guard g(p->mutex_);
            for (auto &[id, r] : p->screen_.displays)
                if (pt.x >= r.minX() && pt.x < r.maxX() && pt.y >= r.minY() && pt.y < r.maxY())
                    return id;
            return std::nullopt;
        }
        std::unique_ptr<WindowList> onScreenWindows() override {
            auto p = platform.lock();
            std::lock_guard g(p->mutex_);
            ++p->windowListQueries_;
            if (!p->screen_.windows) return nullptr;
            return std::make_unique<VectorWindowList>(*p->screen_.windows);
        }

        std::weak_ptr<FakeInputPlatform> platform;
        Handler handler;
        int fd;
        std::atomic<bool> enabled{false};
    };

    struct Cursor final : CursorSource {
        explicit Cursor(std::shared_ptr<FakeInputPlatform> p) : platform(std::move(p)) {}
        std::optional<CursorKinds::CurrentCursor> current() override {
            std::lock_guard g(platform->mutex_);
            ++platform->cursorReads_;
            return platform->screen_.cursor;
        }
        const CursorKinds::KindTable &kindTable() override {
            if (!table) {
                ++platform->kindTableBuilds_;
                std::lock_guard g(platform->mutex_);
                table = CursorKinds::KindTable::build([&](std::string_view name) {
                    auto it = platform->screen_.themeImages.find(std::string(name));
                    return it == platform->screen_.themeImages.end()
                               ? std::vector<CursorKinds::Fingerprint>{}
                               : it->second;
                });
            }
            return *table;
        }
        std::shared_ptr<FakeInputPlatform> platform;
        std::optional<CursorKinds::KindTable> table;
    };

    // On the tap thread.
    void drain(Tap &tap) {
        for (;;) {
            InputEvent event;
            {
                std::lock_guard g(mutex_);
                if (queue_.empty()) break;
                event = queue_.front();
                queue_.pop_front();
                char name[32] = {};
                pthread_getname_np(pthread_self(), name, sizeof name);
                handlerThreadName_ = name;
            }
            if (tap.enabled.load()) tap.handler(event, tap);
            {
                std::lock_guard g(mutex_);
                ++handled_;
            }
            handledCv_.notify_all();
        }
    }

    std::atomic<double> clock_{1000.0};
    std::atomic<bool> refuse_{false};
    std::mutex mutex_;
    std::condition_variable handledCv_;
    FakeScreen screen_;
    std::weak_ptr<Tap> tap_;
    std::deque<InputEvent> queue_;
    std::uint64_t queued_ = 0, handled_ = 0;
    std::size_t pointerQueries_ = 0, windowListQueries_ = 0;
    std::string handlerThreadName_;
    std::atomic<int> tapsCreated_{0}, kindTableBuilds_{0}, cursorReads_{0};
};

} // namespace qv::testing
