// The real X11 input platform, with counts of what reaches the recorder, for tests to wait on
// and measure with.
#pragma once

#include "Handtrace/input_platform.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace qv::testing {

using namespace std::chrono_literals;

// The real X11 platform, with counts of what reaches the recorder, for the test to wait on.
class CountingPlatform final : public InputPlatform {
public:
    CountingPlatform() : inner_(InputPlatform::x11()) {}

    double now() override { return inner_->now(); }
    std::optional<Rect> desktopBounds() override { return inner_->desktopBounds(); }

    std::shared_ptr<EventTap> createTap(EventTap::Handler handler) override {
        return inner_->createTap(
            [this, handler](const InputEvent &event, EventTapContext &context) {
                handler(event, context);
                std::lock_guard g(mutex_);
                ++events_[event.type];
                changed_.notify_all();
            });
    }

    std::unique_ptr<CursorSource> openCursorSource() override {
        struct Counting final : CursorSource {
            Counting(CountingPlatform &p, std::unique_ptr<CursorSource> s)
                : platform(p), inner(std::move(s)) {}
            std::optional<CursorKinds::CurrentCursor> current() override {
                auto c = inner->current();
                std::lock_guard g(platform.mutex_);
                ++platform.cursorReads_;
                platform.changed_.notify_all();
                return c;
            }
            const CursorKinds::KindTable &kindTable() override { return inner->kindTable(); }
            CountingPlatform &platform;
            std::unique_ptr<CursorSource> inner;
        };
        auto inner = inner_->openCursorSource();
        if (!inner) return nullptr;
        return std::make_unique<Counting>(*this, std::move(inner));
    }

    std::size_t events(InputEventType type) {
        std::lock_guard g(mutex_);
        return events_[type];
    }
    std::size_t cursorReads() {
        std::lock_guard g(mutex_);
        return cursorReads_;
    }
    // Waits until `done()` holds; false after a generous guard time.
    template <class F> bool waitUntil(F done) {
        std::unique_lock g(mutex_);
        return changed_.wait_for(g, 10s, [&] {
            g.unlock();
            const bool d = done();
            g.lock();
            return d;
        });
    }

private:
    std::shared_ptr<InputPlatform> inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<InputEventType, std::size_t> events_;
    std::size_t cursorReads_ = 0;
};

} // namespace qv::testing
