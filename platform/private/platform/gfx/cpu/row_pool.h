// Internal to the CPU backend: persistent threads that shade contiguous row bands of one draw.
// Thread safety: run() may be called from any thread; calls are serialised, and a call from
// inside a running body executes inline. Lifetime: the destructor joins the threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::platform::gfx::cpu {

class RowBandPool {
public:
    // `threads` counts the caller too, so `threads - 1` helpers are started (at least none).
    explicit RowBandPool(int threads);
    ~RowBandPool();
    RowBandPool(const RowBandPool &) = delete;
    RowBandPool &operator=(const RowBandPool &) = delete;

    int threadCount() const noexcept { return static_cast<int>(helpers_.size()) + 1; }
    // Calls body(r0, r1) for contiguous bands covering [0, rows) exactly once; blocks until done.
    // An exception thrown by a band (the first, if several) is rethrown here once every band has
    // finished.
    void run(int rows, const std::function<void(int, int)> &body);

private:
    struct Job {
        const std::function<void(int, int)> *body = nullptr;
        int rows = 0;
        int bands = 0;
        int nextBand = 0;           // guarded by mutex_
        int bandsDone = 0;          // guarded by mutex_
        int active = 0;             // helpers currently inside the job
        std::exception_ptr failure; // guarded by mutex_
    };

    void helperLoop();
    // Takes and shades bands until none is left. Called with `lock` held; returns with it held.
    void work(Job &job, std::unique_lock<std::mutex> &lock);

    std::mutex callMutex_; // one job at a time
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    Job *job_ = nullptr;
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

} // namespace qv::platform::gfx::cpu
