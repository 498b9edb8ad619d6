// The tap thread's run loop: waits on the readiness of its sources' file descriptors and on a
// wake-up descriptor of its own, so that stop() ends run() at once from any thread.
//
// Thread safety: stop() may be called from any thread, before, during or after run(), any
// number of times; everything else belongs to the thread that calls run().
//
// The timed task serves the tap's own scheduling (resuming pointer motion after the throttle
// interval); it is one task, not a timer queue.
// Lifetime: the loop owns its wake-up descriptor, not its sources' descriptors.
#pragma once

#include <functional>
#include <vector>

namespace qv {

class TapRunLoop {
public:
    TapRunLoop();
    ~TapRunLoop();
    TapRunLoop(const TapRunLoop &) = delete;
    TapRunLoop &operator=(const TapRunLoop &) = delete;

    // False when the wake-up descriptor could not be made; such a loop's run() returns at once.
    bool valid() const noexcept { return wakeFd_ >= 0; }

    // Calls `onReady` on the loop's thread whenever `fd` is readable or has hung up. A source
    // that cannot go on removes itself with removeSource(), also from inside its callback.
    void addSource(int fd, std::function<void()> onReady);
    void removeSource(int fd);

    // Calls `task` on the loop's thread once the host clock (hostSeconds()) reaches `when`;
    // replaces a task set before that has not run yet.
    void runAt(double when, std::function<void()> task);

    // Serves the sources and the timed task until stop().
    void run();
    void stop() noexcept;

private:
    struct Source {
        int fd;
        std::function<void()> onReady;
        bool removed = false;
    };

    int wakeFd_ = -1;
    std::vector<Source> sources_;
    double timedAt_ = 0;
    std::function<void()> timedTask_;
};

} // namespace qv
